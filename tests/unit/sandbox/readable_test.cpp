// What the confined reader may read: the inputs and what they bring along; and the files it read, changed or not.
#include "sandbox/gate.h"
#include "sandbox/gdal_env.h"
#include "sandbox/readable.h"

#include "tests/support/gdal_rasters.h"
#include "tests/unit/scratch.h"

#include <cpl_conv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

class Readable : public Scratch {
protected:
    void SetUp() override {
        Scratch::SetUp();
        gdal_setup();
    }
    std::string at(const std::string &name) const { return dir + "/" + name; }
    void put(const std::string &name, const std::string &text = "x") const {
        std::filesystem::create_directories(std::filesystem::path(at(name)).parent_path());
        std::ofstream(at(name)) << text;
    }
    bool has(const std::vector<std::string> &set, const std::string &name) const {
        return std::find(set.begin(), set.end(), at(name)) != set.end();
    }
};

TEST_F(Readable, TheInputsAndWhatTheyBringAlong) {
    for (const char *f : {"dem.tif", "dem.tif.aux.xml", "dem.TFW", "dem.prj", "dem_rpc.txt", "dem2.tif", "other.prj",
                          "far/src.tif", "far/src.hdr", "far/unrelated.tif", "grid/hdr.adf", "grid/w001001.adf"})
        put(f);
    put("mosaic.vrt", "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\">"
                      "<SimpleSource><SourceFilename relativeToVRT=\"1\">far/src.tif</SourceFilename></SimpleSource>"
                      "</VRTRasterBand></VRTDataset>");
    const std::vector<std::string> set = readable_for({at("dem.tif"), at("mosaic.vrt"), at("grid/hdr.adf")});
    const struct {
        const char *name;
        bool readable;
    } rows[] = {
        {"dem.tif", true},       {"dem.tif.aux.xml", true}, {"dem.TFW", true},           {"dem.prj", true},
        {"dem_rpc.txt", true},   {"dem2.tif", false},       {"other.prj", false},        {"mosaic.vrt", true},
        {"far/src.tif", true},   {"far/src.hdr", true},     {"far/unrelated.tif", false}, {"grid/", true},
    };
    for (const auto &r : rows) EXPECT_EQ(has(set, r.name), r.readable) << r.name;
    const std::string gdal_data = CPLFindFile("GDAL", "gdalvrt.xsd");
    EXPECT_TRUE(std::any_of(set.begin(), set.end(), [&](const std::string &p) { return gdal_data.rfind(p, 0) == 0; }))
        << "GDAL's data";
}

// GDAL is told the companions found, and looks for no others: a world file among them places the
// raster; left out of its list, it does not.
TEST_F(Readable, GdalIsToldTheCompanionsFound) {
    RasterSpec bare;
    bare.w = bare.h = 2, bare.values = {1, 2, 3, 4};
    write_raster(at("w.tif"), "GTiff", bare);
    put("w.tfw", "10\n0\n0\n-10\n1000\n2000\n");
    Siblings siblings;
    readable_for({at("w.tif")}, &siblings);
    double gt[6];
    for (const bool told : {true, false}) {
        set_siblings(told ? siblings : Siblings{{at("w.tif"), {"w.tif"}}});
        const Dataset ds = open_dataset(at("w.tif"));
        ASSERT_TRUE(ds);
        EXPECT_EQ(GDALGetGeoTransform(ds.get(), gt) == CE_None && gt[0] == 995, told) << told;
    }
    set_siblings({});
}

TEST_F(Readable, AFileThatChangesAfterItIsReadIsNamed) {
    write_raster(at("a.tif"), "GTiff", lonlat_raster(4, 4, 0, 4, 1, std::vector<double>(16, 7)));
    write_raster(at("b.tif"), "GTiff", lonlat_raster(4, 4, 0, 4, 1, std::vector<double>(16, 7)));
    start_journal();
    for (const char *f : {"a.tif", "b.tif"}) ASSERT_TRUE(open_dataset(at(f))) << f;
    std::string path, how;
    EXPECT_FALSE(changed_since_read(path, how)) << path << ": " << how;
    std::ofstream(at("b.tif"), std::ios::app) << "more";
    ASSERT_TRUE(changed_since_read(path, how));
    EXPECT_EQ(path, at("b.tif"));
    EXPECT_EQ(how, "its size changed");
    const std::vector<FileRead> read = journal();
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].path, at("a.tif"));
}

}  // namespace
