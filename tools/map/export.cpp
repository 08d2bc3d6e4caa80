// Map export: block-averaged colour previews and 16-bit height images, encoded with libpng in memory.
#include "map/export.h"

#include "common/cli.h"
#include "common/parallel.h"
#include "common/text.h"
#include "sandbox/gdal_env.h"

#include <cpl_string.h>
#include <gdal.h>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

const char levels_key[] = "mvx heights";
const char levels_value[] = "map levels: sample = (height + 128) * 257";

const char export_summary[] = "write a map as a PNG preview, or its heights as 16-bit greyscale";

const char export_usage[] =
    "usage: mvx export [MAP] -o FILE.png [--scale N] [--heights] [-q]\n"
    "       mvx export [MAP] --heights -o FILE.tif [--scale N] [-q]\n"
    "\n"
    "Writes the whole map (default datas.mvx) as a PNG, or its heights in metres as a\n"
    "GeoTIFF for GIS.\n"
    "\n"
    "  -o FILE      the file to write; written whole or not at all, never over\n"
    "               the map, its sidecar, a directory or a device; a symlink is\n"
    "               written through, and a replaced file keeps its mode\n"
    "  --scale N    1/N of the size, each pixel the mean of an N x N block (default 1)\n"
    "  --heights    FILE.png: the heights as 16-bit greyscale, (height + 128) x 257,\n"
    "               instead of the colours (8-bit RGB, 5-bit channels spread over\n"
    "               0 ... 255); the file is marked so that 'mvx import' reads it back\n"
    "               exactly (at --scale 1), voids as transparent pixels;\n"
    "               FILE.tif or .tiff: the heights of the imported area as float32,\n"
    "               in the metres (or input units) MAP.json records, with its\n"
    "               coordinate system and geotransform; voids are NoData (-32768)\n"
    "  -q, --quiet  nothing on standard output or error unless it fails\n";

namespace {

struct PngOut {
    std::vector<uint8_t> bytes;
    std::string err;
    static void on_write(png_structp png, png_bytep p, png_size_t n) {
        auto *o = static_cast<PngOut *>(png_get_io_ptr(png));
        o->bytes.insert(o->bytes.end(), p, p + n);
    }
    static void on_flush(png_structp) {}
    static void on_error(png_structp png, png_const_charp msg) {
        static_cast<PngOut *>(png_get_error_ptr(png))->err = msg;
        png_longjmp(png, 1);
    }
    static void on_warning(png_structp, png_const_charp) {}
};

// Encodes w × h rows of `depth`-bit samples (16-bit big-endian) into out.bytes.
bool encode(PngOut &out, int w, int h, int depth, int type, const std::vector<png_bytep> &rows, bool levels) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, PngOut::on_error, PngOut::on_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        out.err = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, PngOut::on_write, PngOut::on_flush);
    // Previews are large and rewritten often; fast compression keeps export quick.
    png_set_compression_level(png, Z_BEST_SPEED);
    png_set_IHDR(png, info, w, h, depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_text text{};
    if (levels) {
        text.compression = PNG_TEXT_COMPRESSION_NONE;
        text.key = const_cast<char *>(levels_key);
        text.text = const_cast<char *>(levels_value);
        png_set_text(png, info, &text, 1);
    }
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

namespace {

// The area (x0, y0, w, h) of the grid in blocks of scale × scale cells (partial at the far edges):
// block(bx, by, cells) for each, on every core, `cells` calling its argument with each cell's index.
template <class Block>
void for_blocks(int x0, int y0, int w, int h, int scale, Block block) {
    parallel_rows(scaled(h, scale), [&](int b0, int b1) {
        for (int by = b0; by < b1; ++by)
            for (int bx = 0; bx < scaled(w, scale); ++bx)
                block(bx, by, [&](auto cell) {
                    for (int y = by * scale; y < std::min(h, (by + 1) * scale); ++y)
                        for (int x = bx * scale; x < std::min(w, (bx + 1) * scale); ++x)
                            cell(1LL * (y0 + y) * grid_columns + x0 + x);
                });
    });
}

}  // namespace

std::vector<uint8_t> preview_rgb(const Map &m, int scale) {
    const int w = scaled(grid_columns, scale);
    std::vector<uint8_t> out(3ULL * w * scaled(grid_rows, scale));
    for_blocks(0, 0, grid_columns, grid_rows, scale, [&](int x, int y, auto cells) {
        long sum[3] = {0, 0, 0}, n = 0;
        cells([&](long long i) {
            const uint16_t c = m.colour[i];
            sum[0] += channel_r(c), sum[1] += channel_g(c), sum[2] += channel_b(c), ++n;
        });
        for (int k = 0; k < 3; ++k)
            out[3 * (1ULL * y * w + x) + k] = static_cast<uint8_t>(std::lround(sum[k] * 255.0 / (31.0 * n)));
    });
    return out;
}

std::vector<uint16_t> height_samples(const Map &m, int scale, std::vector<uint8_t> *data) {
    const int w = scaled(grid_columns, scale);
    std::vector<uint16_t> out(1ULL * w * scaled(grid_rows, scale));
    if (data) data->assign(out.size(), 0);
    for_blocks(0, 0, grid_columns, grid_rows, scale, [&](int x, int y, auto cells) {
        long sum = 0, n = 0, all_sum = 0, all = 0;
        cells([&](long long i) {
            all_sum += m.height[i], ++all;
            if (!is_void(m.colour[i], m.height[i])) sum += m.height[i], ++n;
        });
        const long level = n ? std::lround(static_cast<double>(sum) / n) : std::lround(static_cast<double>(all_sum) / all);
        out[1ULL * y * w + x] = static_cast<uint16_t>((level + 128) * 257);
        if (data) (*data)[1ULL * y * w + x] = n > 0;
    });
    return out;
}

Status export_png(const Map &m, const std::string &path, int scale, bool heights) {
    const int w = scaled(grid_columns, scale), h = scaled(grid_rows, scale);
    std::vector<uint8_t> pix;
    // Heights with voids carry an alpha channel, transparent on them, so that an import knows them.
    bool alpha = false;
    if (heights) {
        std::vector<uint8_t> data;
        const std::vector<uint16_t> s = height_samples(m, scale, &data);
        alpha = std::find(data.begin(), data.end(), 0) != data.end();
        const size_t step = alpha ? 4 : 2;
        pix.resize(step * s.size());
        for (size_t i = 0; i < s.size(); ++i) {
            pix[step * i] = static_cast<uint8_t>(s[i] >> 8), pix[step * i + 1] = static_cast<uint8_t>(s[i]);
            if (alpha) pix[step * i + 2] = pix[step * i + 3] = data[i] ? 255 : 0;
        }
    } else {
        pix = preview_rgb(m, scale);
    }
    const size_t stride = pix.size() / h;
    std::vector<png_bytep> rows(h);
    for (int y = 0; y < h; ++y) rows[y] = pix.data() + y * stride;
    PngOut out;
    const int type = !heights ? PNG_COLOR_TYPE_RGB : alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
    if (!encode(out, w, h, heights ? 16 : 8, type, rows, heights))
        return Status::fail(path + ": cannot encode PNG: " + out.err);
    return write_file(path, out.bytes.data(), out.bytes.size());
}

Status parse_export(int argc, char **argv, ExportOptions &o, bool &help) {
    bool have_map = false;
    const std::vector<Option> options = {
        {"-o", true, [&](const char *v) { o.out = v; return Status{}; }},
        {"--scale", true, [&](const char *v) {
             long long n = 0;
             Status st = parse_int("--scale", v, 1, grid_rows, n);
             o.scale = static_cast<int>(n);
             return st;
         }},
        {"--heights", false, [&](const char *) { o.heights = true; return Status{}; }},
        quiet_option(o.quiet),
    };
    Status st = parse_options("export", argc, argv, options, [&](const char *a) {
        if (have_map) return Status::fail("export: one map only ('" + o.map + "' and '" + a + "')");
        o.map = a;
        have_map = true;
        return Status{};
    }, help);
    if (st.ok && !help && o.out.empty()) return Status::fail("export: no output given: -o FILE.png (see mvx export --help)");
    return st;
}

std::vector<std::string> export_inputs(const ExportOptions &o) { return {o.map, sidecar_path(o.map)}; }

Status export_map(const ExportOptions &o, std::string &done) {
    const bool tiff = ends_with(o.out, ".tif") || ends_with(o.out, ".tiff");
    if (tiff && !o.heights)
        return Status::fail(o.out + ": colours are written as PNG; add --heights for a GeoTIFF of the heights");
    Map m;
    if (tiff) {
        // The sidecar first: the map is not read for nothing.
        Sidecar sc;
        bool found = false;
        if (Status st = read_sidecar(o.map, sc, found); !st.ok) return st;
        if (!found)
            return Status::fail(o.map + ": no " + sidecar_path(o.map) +
                                " says what its levels stand for; --heights -o FILE.png writes the levels themselves");
        if (Status st = check_float_heights(sc, sidecar_path(o.map)); !st.ok) return st;
        if (Status st = read_whole_map(o.map, m); !st.ok) return st;
        if (Status st = export_geotiff(m, sc, o.out, o.scale); !st.ok) return st;
        done = "wrote " + o.out + " (" + std::to_string(scaled(sc.box_w, o.scale)) + " x " +
               std::to_string(scaled(sc.box_h, o.scale)) + ", heights in " + (sc.metres ? "metres" : "input units") +
               (sc.crs_name.empty() ? "" : ", " + sc.crs_name) + ")";
        return {};
    }
    if (Status st = read_whole_map(o.map, m); !st.ok) return st;
    if (Status st = export_png(m, o.out, o.scale, o.heights); !st.ok) return st;
    done = "wrote " + o.out + " (" + std::to_string(scaled(grid_columns, o.scale)) + " x " +
           std::to_string(scaled(grid_rows, o.scale)) + ", " + (o.heights ? "16-bit heights" : "colours") + ")";
    return {};
}

Status check_float_heights(const Sidecar &s, const std::string &name) {
    // The end levels bound every block's mean; the levels next to 0 too, as each side of it has
    // its own line. The geotransform's doubles lie between the grid's corners, which
    // check_sidecar has found finite.
    for (const int level : {-128, -1, 0, 127}) {
        const double h = height_of_level(s, level);
        if (!std::isfinite(static_cast<float>(h)))
            return Status::at(name, "level " + std::to_string(level) + " stands for " + number(h) +
                                        ", beyond what a float32 GeoTIFF holds (" + number(FLT_MAX, 3) + ")");
    }
    return {};
}

std::vector<float> box_heights(const Map &m, const Sidecar &s, int scale, float nodata) {
    const int w = scaled(s.box_w, scale);
    std::vector<float> out(static_cast<size_t>(w) * scaled(s.box_h, scale));
    for_blocks(s.box_x0, s.box_y0, s.box_w, s.box_h, scale, [&](int x, int y, auto cells) {
        double sum = 0;
        long n = 0;
        cells([&](long long i) {
            if (!is_void(m.colour[i], m.height[i])) sum += height_of_level(s, m.height[i]), ++n;
        });
        out[static_cast<size_t>(y) * w + x] = n ? static_cast<float>(sum / n) : nodata;
    });
    return out;
}

Status export_geotiff(const Map &m, const Sidecar &s, const std::string &path, int scale) {
    gdal_setup();
    constexpr float nodata = -32768;
    // Its box is trusted into the map's memory, its numbers into the file.
    if (Status st = check_sidecar(s, "the map's sidecar"); !st.ok) return st;
    if (Status st = check_float_heights(s, "the map's sidecar"); !st.ok) return st;
    const int w = scaled(s.box_w, scale), h = scaled(s.box_h, scale);
    const std::vector<float> z = box_heights(m, s, scale, nodata);
    PendingFile file(path);
    if (Status st = file.write(); !st.ok) return st;
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    const char *opts[] = {"TILED=YES", "COMPRESS=DEFLATE", "PREDICTOR=3", nullptr};
    gdal_reset_errors();
    Dataset ds(GDALCreate(gtiff, file.temporary().c_str(), w, h, 1, GDT_Float32, const_cast<char **>(opts)));
    if (!ds) return Status::fail(path + ": cannot write: " + gdal_reason());
    // The box's corner and cell size; a block of `scale` cells is one pixel.
    double gt[6] = {s.gt[0] + s.box_x0 * s.gt[1] + s.box_y0 * s.gt[2], s.gt[1] * scale, s.gt[2] * scale,
                    s.gt[3] + s.box_x0 * s.gt[4] + s.box_y0 * s.gt[5], s.gt[4] * scale, s.gt[5] * scale};
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    bool ok = (!s.georeferenced || GDALSetGeoTransform(ds.get(), gt) == CE_None) &&
              (s.crs.empty() || GDALSetProjection(ds.get(), s.crs.c_str()) == CE_None) &&
              GDALSetRasterNoDataValue(b, nodata) == CE_None && GDALSetRasterUnitType(b, s.metres ? "m" : "") == CE_None &&
              GDALRasterIO(b, GF_Write, 0, 0, w, h, const_cast<float *>(z.data()), w, h, GDT_Float32, 0, 0) == CE_None;
    GDALFlushCache(ds.get());
    ok = ok && CPLGetLastErrorType() < CE_Failure;
    const std::string why = gdal_reason();
    ds.reset();
    if (!ok) return Status::fail(path + ": cannot write: " + (why.empty() ? "GDAL failed" : why));
    return file.commit();
}
