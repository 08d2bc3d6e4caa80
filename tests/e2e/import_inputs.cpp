// import_inputs: writes the import end-to-end test's files into a directory: good heightmaps,
// a map with varied heights, and one bad input of each kind the importer must refuse.
#include "map/mapfile.h"
#include "tests/support/gdal_rasters.h"
#include "tests/support/rasters.h"

#include <cpl_vsi.h>

#include <cstdio>
#include <stdexcept>

namespace {

// A 16-bit greyscale PNG of w × h, smooth hills with values spread over most of 0 … 65535.
Bytes hills(uint32_t w, uint32_t h) {
    Bytes raw;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const unsigned v = 2000 + (x * 97 + y * 211) % 60000;
            raw.push_back(static_cast<uint8_t>(v >> 8)), raw.push_back(static_cast<uint8_t>(v));
        }
    return png_file({w, h, 16, 0, false, raw, {}, {}});
}

void write_all(const std::string &d) {
    write_bytes(d + "/hills.png", hills(300, 200));
    write_bytes(d + "/square.png", hills(64, 64));

    const Bytes good = hills(64, 64);
    write_bytes(d + "/truncated.png", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)));
    Bytes crc = good;
    crc[crc.size() - 20] ^= 0xff;
    write_bytes(d + "/badcrc.png", crc);
    write_bytes(d + "/zero.png", png_file({0, 10, 16, 0, false, {}, {}, {}}));
    write_bytes(d + "/huge.png", png_file({400000, 400000, 16, 0, false, {}, {}, {}}));
    write_bytes(d + "/palette.png", png_file({2, 1, 8, 3, false, {0, 1}, {255, 0, 0, 0, 0, 255}, {}}));
    write_bytes(d + "/photo.png", png_file({2, 1, 8, 2, false, {10, 20, 30, 40, 50, 60}, {}, {}}));
    write_bytes(d + "/garbage.png", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g', '\n'});
    write_bytes(d + "/empty.png", {});
    write_bytes(d + "/notes.txt", Bytes{'h', 'e', 'i', 'g', 'h', 't', 's', '\n'});

    TiffSpec t;
    t.w = 8, t.h = 8, t.bits = 16, t.format = 2;
    t.samples = Bytes(128, 3);
    const Bytes tif = tiff_file(t);
    write_bytes(d + "/truncated.tif", Bytes(tif.begin(), tif.begin() + 40));
    TiffSpec rgb = t;
    rgb.spp = 3, rgb.photometric = 2, rgb.samples = Bytes(384, 3);
    rgb.samples[1] = 200;  // one pixel that is not grey
    write_bytes(d + "/rgb.tif", tiff_file(rgb));
    TiffSpec huge = t;
    huge.w = 400000, huge.h = 400000, huge.rows_per_strip = 1, huge.samples = {};
    write_bytes(d + "/huge.tif", tiff_file(huge));

    write_bytes(d + "/odd.r16", Bytes(7, 1));
    const std::string vrt = "<VRTDataset rasterXSize=\"1\" rasterYSize=\"1\"><VRTRasterBand dataType=\"Byte\" band=\"1\">"
                            "<SimpleSource><SourceFilename>/vsicurl/https://example.com/dem.tif</SourceFilename>"
                            "</SimpleSource></VRTRasterBand></VRTDataset>\n";
    write_bytes(d + "/net.vrt", Bytes(vrt.begin(), vrt.end()));
    write_bytes(d + "/short.hgt", Bytes(1000, 0));

    // An SRTM tile as it is downloaded, zipped: 1201 x 1201 big-endian samples rising eastwards.
    Bytes tile;
    for (int y = 0; y < 1201; ++y)
        for (int x = 0; x < 1201; ++x) tile.push_back(static_cast<uint8_t>(x >> 8)), tile.push_back(static_cast<uint8_t>(x));
    VSILFILE *f = VSIFOpenL(("/vsizip/" + d + "/N45E006.hgt.zip/N45E006.hgt").c_str(), "wb");
    if (!f || VSIFWriteL(tile.data(), 1, tile.size(), f) != tile.size()) throw std::runtime_error("cannot zip a tile");
    VSIFCloseL(f);

    // Six tiles of one ramp in a directory (with a companion of GDAL's beside them), and the
    // same ramp whole.
    const int tw = 400, th = 375;
    std::vector<double> whole(static_cast<size_t>(3 * tw) * 2 * th);
    for (int y = 0; y < 2 * th; ++y)
        for (int x = 0; x < 3 * tw; ++x) whole[static_cast<size_t>(y) * 3 * tw + x] = 5 * x - 3 * y + (x * y % 7);
    RasterSpec all = lonlat_raster(3 * tw, 2 * th, 6, 46, 0.002, whole);
    all.options = {"COMPRESS=DEFLATE", "TILED=YES"};
    write_raster(d + "/ramp.tif", "GTiff", all);
    if (VSIMkdir((d + "/tiles").c_str(), 0755) != 0) throw std::runtime_error("cannot make the tiles' directory");
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i) {
            std::vector<double> v;
            for (int y = j * th; y < (j + 1) * th; ++y)
                v.insert(v.end(), whole.begin() + static_cast<long>(y) * 3 * tw + i * tw,
                         whole.begin() + static_cast<long>(y) * 3 * tw + (i + 1) * tw);
            write_raster(d + "/tiles/t" + std::to_string(j) + std::to_string(i) + ".tif", "GTiff",
                         lonlat_raster(tw, th, 6 + i * tw * 0.002, 46 - j * th * 0.002, 0.002, v));
        }
    write_bytes(d + "/tiles/t00.tif.aux.xml", Bytes{'<', 'P', 'A', 'M', 'D', 'a', 't', 'a', 's', 'e', 't', '/', '>', '\n'});

    // A map using levels -90 … 109 only, so a min/max stretch on import would show.
    Map m;
    for (long long i = 0; i < grid_cells; ++i) {
        m.height[i] = static_cast<int8_t>((i * 7 + i / grid_columns * 13) % 200 - 90);
        m.colour[i] = static_cast<uint16_t>(i & 0x7fff);
    }
    if (Status st = write_map(d + "/levels.mvx", m); !st.ok) throw std::runtime_error(st.why);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: import_inputs DIR\n", stderr);
        return 2;
    }
    try {
        write_all(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "import_inputs: %s\n", e.what());
        return 1;
    }
    return 0;
}
