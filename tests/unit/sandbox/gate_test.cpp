// The gate before GDAL's files, the drivers mvx registers, the sockets it forbids itself.
#include "import/gdal_util.h"
#include "import/import.h"
#include "sandbox/drivers.h"
#include "sandbox/gate.h"
#include "sandbox/gdal_env.h"
#include "sandbox/syscalls.h"
#include "tests/support/containers.h"
#include "tests/support/gdal_rasters.h"
#include "tests/support/hostile_files.h"
#include "tests/support/rasters.h"

#include "tests/unit/scratch.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace {

TEST(NetworkNames, EverySpellingAndNoLocalName) {
    const struct {
        const char *name;
        bool network;
    } cases[] = {
        {"http://example.com/dem.tif", true},
        {"/vsicurl?url=http%3A%2F%2Fexample.com%2Fdem.tif", true},
        {"/vsicurl_streaming/https://example.com/dem.tif", true},
        {"/vsiaz_streaming/container/dem.tif", true},
        {"/vsiadls/fs/dem.tif", true},
        {"/vsizip//vsis3/bucket/dem.zip/dem.tif", true},
        {"NETCDF:\"dap4://example.com/gebco\":elevation", true},
        {"[mode=dap2]https://example.com/etopo", true},
        {"HDF5:\"/data/dem.h5\"://elevation", false},
        {"vrt://dem.tif?bands=1", false},
        {"vrt:///vsicurl/http://example.com/dem.tif", true},
        {"vrtx://example.com/dem.tif", true},
        {"/vsizip/tiles.zip/N45E006.hgt", false},
        {"dem.tif", false},
    };
    for (const auto &c : cases) EXPECT_EQ(is_network_name(c.name), c.network) << c.name;
}

class Gate : public Scratch {
protected:
    void text(const std::string &name, const std::string &t) const { write_bytes(dir + "/" + name, Bytes(t.begin(), t.end())); }
    static std::string vrt_over(const std::string &source) {
        return "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\"><SimpleSource>"
               "<SourceFilename>" + source + "</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>";
    }
    static std::string raw_over(const std::string &file, const std::string &layout) {
        return "<VRTDataset rasterXSize=\"3\" rasterYSize=\"2\"><VRTRasterBand dataType=\"UInt16\" band=\"1\" "
               "subClass=\"VRTRawRasterBand\"><SourceFilename relativeToVRT=\"0\">" + file + "</SourceFilename>" + layout +
               "</VRTRasterBand></VRTDataset>";
    }
};

// What is refused, by what it is, wherever it lies; and what passes.
TEST_F(Gate, VetsNamesFilesAndWhatVrtsReferTo) {
    gdal_setup();
    const std::string fifo = dir + "/fifo", raw = dir + "/raw.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    write_bytes(raw, Bytes(12, 1));  // 3 x 2 UInt16 samples, packed
    std::filesystem::create_symlink("/proc/self/status", dir + "/status");
    std::filesystem::create_symlink("/proc/self", dir + "/self");
    text("self.vrt", vrt_over(dir + "/self.vrt"));
    std::string deep = "/dev/zero";
    for (int i = 0; i < 20; ++i) deep = vrt_over(xml_escaped(deep));
    write_raster(dir + "/in.tif", "GTiff", lonlat_raster(1, 1, 0, 1, 1, {1}));
    VSILFILE *f = VSIFOpenL(("/vsizip/" + dir + "/a.zip/net.vrt").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string net = vrt_over("/vsis3/bucket/dem.tif");
    VSIFWriteL(net.data(), 1, net.size(), f);
    VSIFCloseL(f);
    const std::string mem = "MEM:::DATAPOINTER=1,PIXELS=1,LINES=1", memory = "a MEM::: name, an address in mvx's own memory, not a file";
    const std::string elsewhere = "an HDF5 file whose dataset elevation keeps its data in another file (/proc/self/environ): "
                                  "mvx reads only what a file holds itself";
    write_hdf5(dir + "/ext.nc", {"elevation"}, 2, 2, {}, "/proc/self/environ");
    write_hdf5(dir + "/deep.h5", {"elevation"}, 2, 2, {}, "/proc/self/environ", 4096);
    write_hdf5(dir + "/inside.nc", {"elevation"}, 2, 2, {1, 2, 3, 4});
    std::vector<uint8_t> h5;
    ASSERT_TRUE(read_whole(dir + "/inside.nc", h5, 1 << 20).ok);
    f = VSIFOpenL(("/vsizip/" + dir + "/h.zip/a.h5").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    VSIFWriteL(h5.data(), 1, h5.size(), f);
    VSIFCloseL(f);
    const Bytes chain = tiff_chain(5000);
    f = VSIFOpenL(("/vsigzip/" + dir + "/chain.tif.gz").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    VSIFWriteL(chain.data(), 1, chain.size(), f);
    VSIFCloseL(f);
    const struct {
        std::string name, refused, what;  // refused empty: passes
    } cases[] = {
        {dir + "/in.tif", "", ""},
        {dir, "", ""},  // formats can be folders
        {fifo, fifo, "a FIFO, not a regular file"},
        {dir + "/status", dir + "/status", "under /proc, where mvx reads nothing"},
        {dir + "/self/status", dir + "/self/status", "under /proc, where mvx reads nothing"},  // a folder's link
        {"NETCDF:\"" + fifo + "\":z", fifo, "a FIFO, not a regular file"},
        {"/vsistdin/", "/vsistdin/", "read through /vsistdin/, not a local file"},
        {vrt_over(fifo), fifo, "a FIFO, not a regular file"},
        {vrt_over(xml_escaped(vrt_over("/dev/zero"))), "/dev/zero", "under /dev, where mvx reads nothing"},
        {dir + "/self.vrt", dir + "/self.vrt", "nested in VRTs more than 16 deep"},
        {deep, "a VRT written inside another", "nested in VRTs more than 16 deep"},
        {"/vsizip/" + dir + "/a.zip/net.vrt", "/vsis3/bucket/dem.tif", ""},
        {raw_over(raw, ""), "", ""},
        {raw_over(raw, "<PixelOffset>4</PixelOffset>"), raw, "cut short: 12 bytes where its raw layout needs 22"},
        {raw_over(raw, "<ImageOffset>2</ImageOffset><LineOffset>-6</LineOffset>"), raw,
         "read by a raw layout that reaches outside any file"},
        {raw_over(dir, ""), dir, "a directory, not a regular file"},
        {"vrt://" + fifo + "?bands=1", fifo, "a FIFO, not a regular file"},
        {mem, mem, memory},
        {vrt_over(mem), mem, memory},
        {"GTIFF_DIR:1:" + mem, mem, memory},
        // HDF5 data kept in other files, which the HDF5 library reads itself: named in a driver's
        // name, the file is looked into at once, past a user block too.
        {"NETCDF:\"" + dir + "/ext.nc\":z", dir + "/ext.nc", elsewhere},
        {"HDF5:\"" + dir + "/deep.h5\"://elevation", dir + "/deep.h5", elsewhere},
        {"NETCDF:\"" + dir + "/inside.nc\":z", "", ""},
        {"/vsizip/" + dir + "/h.zip/a.h5", "/vsizip/" + dir + "/h.zip/a.h5",
         "an HDF5 file inside an archive or a compressed file, where mvx cannot see where its data lies: unpack it first"},
        {"/vsigzip/" + dir + "/chain.tif.gz", "/vsigzip/" + dir + "/chain.tif.gz", "a TIFF of more than 4,096 directories, more than mvx opens"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Refusal r = vet_name(c.name);
        EXPECT_EQ(r.name, c.refused);
        EXPECT_EQ(r.what, c.what);
    }
}

// GDAL itself is refused such files, and the open fails saying which, however it reached them.
TEST_F(Gate, OpensFailNamingWhatWasRefused) {
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    write_raster(dir + "/in.tif", "GTiff", lonlat_raster(1, 1, 0, 1, 1, {1}));
    ASSERT_EQ(rename((dir + "/fifo").c_str(), (dir + "/in.tif.msk").c_str()), 0);  // a companion GDAL opens
    text("later.vrt", "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\"><SimpleSource>"
                      "<SourceFilename relativeToVRT=\"1\">x.tif</SourceFilename><SourceProperties RasterXSize=\"1\" "
                      "RasterYSize=\"1\" DataType=\"Byte\"/></SimpleSource></VRTRasterBand></VRTDataset>");
    text("x.tif", vrt_over("/dev/zero"));  // a VRT by its content, whatever its name
    const std::string mem = "MEM:::DATAPOINTER=1,PIXELS=1,LINES=1";
    write_raster(dir + "/ovr.tif", "GTiff", lonlat_raster(1, 1, 0, 1, 1, {1}));
    text("ovr.tif.aux.xml", "<PAMDataset><Metadata domain=\"OVERVIEWS\"><MDI key=\"OVERVIEW_FILE\">" + mem +
                                "</MDI></Metadata></PAMDataset>");
    write_raster(dir + "/late.tif", "GTiff", lonlat_raster(1, 1, 0, 1, 1, {1}));
    text("late.tif.aux.xml", "<!--" + std::string(4096, '-') + "-->\n<PAMDataset><Metadata domain=\"OVERVIEWS\"><MDI "
                             "key=\"OVERVIEW_FILE\">:::BASE:::pipe</MDI></Metadata></PAMDataset>");
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0644), 0);
    write_hdf5(dir + "/ext.h5", {"elevation"}, 2, 2, {}, "/proc/self/environ");
    write_hdf5(dir + "/deep.nc", {"elevation"}, 2, 2, {}, "/proc/self/environ", 2048);
    write_hdf5(dir + "/deep.h5", {"elevation"}, 2, 2, {}, "/proc/self/environ", 2048);
    write_hdf5(dir + "/deep.dat", {"elevation"}, 2, 2, {}, "/proc/self/environ", 2048);
    text("h5.vrt", "<VRTDataset rasterXSize=\"2\" rasterYSize=\"2\"><VRTRasterBand dataType=\"Float32\" band=\"1\"><SimpleSource>"
                   "<SourceFilename relativeToVRT=\"1\">ext.h5</SourceFilename><SourceProperties RasterXSize=\"2\" "
                   "RasterYSize=\"2\" DataType=\"Float32\"/></SimpleSource></VRTRasterBand></VRTDataset>");
    const std::string elsewhere = "an HDF5 file whose dataset elevation keeps its data in another file (/proc/self/environ)";
    const struct {
        std::string input, says;
    } cases[] = {
        {dir + "/in.tif", "refers to " + dir + "/in.tif.msk, which is a FIFO, not a regular file"},
        {dir + "/later.vrt", "refers to /dev/zero, which is under /dev, where mvx reads nothing"},
        {dir + "/ovr.tif", "refers to " + mem + ", which is a MEM::: name, an address in mvx's own memory, not a file"},
        {dir + "/late.tif", "refers to " + dir + "/pipe, which is a FIFO, not a regular file"},
        {dir + "/ext.h5", "it is " + elsewhere + ": mvx reads only what a file holds itself"},
        {dir + "/deep.nc", "it is " + elsewhere + ": mvx reads only what a file holds itself"},
        {dir + "/h5.vrt", "refers to " + dir + "/ext.h5, which is " + elsewhere + ": mvx reads only what a file holds itself"},
        {dir + "/deep.h5", "it is " + elsewhere + ": mvx reads only what a file holds itself"},
        // Past its head, a file named like neither HDF5 nor netCDF is no HDF5 file to GDAL either.
        {dir + "/deep.dat", "not in a format mvx reads (mvx help import lists them)"},
    };
    for (const auto &c : cases) {
        ImportOptions o;
        o.heights = {c.input};
        Heights h;
        std::vector<std::string> notes;
        const Status st = read_import(o, 30, 20, h, notes);
        EXPECT_EQ(st.why, c.input + ": " + c.says);
    }
}

// A name stands for a source where a file's name stands, alone: XML vocabulary, comments and
// URLs in prose are no sources.
TEST_F(Gate, TextsNameNetworkSourcesOnlyWhereFileNamesStand) {
    const struct {
        const char *file, *text, *source;  // source empty: accepted
    } cases[] = {
        {"label.xml",
         "<?xml version=\"1.0\"?>\n<?xml-model href=\"https://pds.nasa.gov/pds4/pds/v1/PDS4_PDS_1G00.sch\"?>\n"
         "<Product_Observational xmlns=\"http://pds.nasa.gov/pds4/pds/v1\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:schemaLocation=\"http://pds.nasa.gov/pds4/pds/v1 https://pds.nasa.gov/pds4/pds/v1/PDS4_PDS_1G00.xsd\">"
         "<!-- http://example.com/old.img --><File><file_name>dem.img</file_name></File>"
         "<description>Resampled from http://example.com/mola.</description></Product_Observational>\n",
         ""},
        {"net.xml", "<Product><File><file_name>http://example.com/dem.img</file_name></File></Product>", "http://example.com/dem.img"},
        {"doc.kml", "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Icon><href> https://example.com/o.png </href></Icon></kml>",
         "https://example.com/o.png"},
        {"attr.xml", "<Dataset source=\"NETCDF:&quot;http://example.com/x.nc&quot;:z\"/>", "NETCDF:\"http://example.com/x.nc\":z"},
        {"a.lbl", "PDS_VERSION_ID = PDS3\nDESCRIPTION = \"see http://example.com/mola\"\n^IMAGE = \"dem.img\"\n", ""},
        {"b.lbl", "PDS_VERSION_ID = PDS3\n^IMAGE = \"https://example.com/dem.img\"\n", "https://example.com/dem.img"},
        {"list.txt", "tiles/a.tif\n/vsicurl/https://example.com/b.tif?x=1\n", "/vsicurl/https://example.com/b.tif?x=1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        text(c.file, c.text);
        const Status st = check_references(dir + "/" + c.file);
        EXPECT_EQ(st.why, *c.source ? dir + "/" + c.file + ": refers to a network source (" + c.source +
                                          "); mvx reads local files only: download it first"
                                    : "");
    }
}

// A GeoPackage is read as it lies: a log pending beside it is neither written into it nor
// deleted, and SQLite's shared memory file is never made.
TEST_F(Gate, GeoPackageAndItsLogStayAsTheyAre) {
    gdal_setup();
    const std::string gpkg = dir + "/a.gpkg";
    RasterSpec s = lonlat_raster(4, 3, 6, 50, 0.25, std::vector<double>(12, 9));
    s.type = "Byte";
    write_raster(gpkg, "GPKG", s);
    leave_log_pending(gpkg);
    std::vector<uint8_t> before, log_before, after, log_after;
    ASSERT_TRUE(read_whole(gpkg, before, 1 << 24).ok && read_whole(gpkg + "-wal", log_before, 1 << 24).ok);
    ImportOptions o;
    o.heights = {gpkg};
    Heights h;
    std::vector<std::string> notes;
    const Status st = read_import(o, 30, 20, h, notes);
    ASSERT_TRUE(st.ok) << st.why;
    ASSERT_TRUE(read_whole(gpkg, after, 1 << 24).ok && read_whole(gpkg + "-wal", log_after, 1 << 24).ok);
    EXPECT_EQ(after, before);
    EXPECT_EQ(log_after, log_before);
    EXPECT_FALSE(std::filesystem::exists(gpkg + "-shm"));
}

// mvx registers its readers and no other driver, and its help lists each on a line of its own.
TEST(Drivers, OnlyTheReadersEachInTheHelp) {
    gdal_setup();
    const std::string help = readers_help();
    EXPECT_EQ(static_cast<int>(std::count(help.begin(), help.end(), '\n')) - 2, GDALGetDriverCount());
    for (int i = 0; i < GDALGetDriverCount(); ++i) {
        const std::string name = GDALGetDriverShortName(GDALGetDriver(i));
        EXPECT_TRUE(is_reader(name)) << name;
        EXPECT_NE(help.find("\n  " + name + " "), std::string::npos) << name;
    }
    for (const char *left : {"MEM", "MRF", "FITS", "HDF4", "WMS", "WCS", "HTTP", "STACIT", "MBTiles", "SQLite", "ESRI Shapefile"})
        EXPECT_EQ(GDALGetDriverByName(left), nullptr) << left;
    for (size_t from = 0, to; (to = help.find('\n', from)) != std::string::npos; from = to + 1) EXPECT_LE(to - from, 80u);
}

// Sockets for the internet fail in every thread once mvx forbids them; local ones still work.
// In a child process: the tests' own process keeps its sockets.
TEST(Internet, ForbiddenSocketsFailWithEacces) {
    const struct {
        int family, type;
        bool allowed;
    } cases[] = {{AF_INET, SOCK_STREAM, false}, {AF_INET, SOCK_DGRAM, false}, {AF_INET6, SOCK_STREAM, false},
                 {AF_UNIX, SOCK_STREAM, true}};
    for (const auto &c : cases) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            forbid_internet();
            const int s = socket(c.family, c.type | SOCK_CLOEXEC, 0);
            _exit(s >= 0 ? 0 : errno == EACCES ? 1 : 2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.allowed ? 0 : 1) << c.family << " " << c.type;
    }
}

}  // namespace
