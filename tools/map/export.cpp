// Map export: block-averaged colour previews and 16-bit height images, encoded with libpng in memory.
#include "export.h"

#include "cli.h"
#include "parallel.h"

#include <png.h>
#include <zlib.h>

#include <cmath>

const char levels_key[] = "mvx heights";
const char levels_value[] = "map levels: sample = (height + 128) * 257";

const char export_summary[] = "write a map as a PNG preview, or its heights as 16-bit greyscale";

const char export_usage[] =
    "usage: mvx export [MAP] -o FILE.png [--scale N] [--heights]\n"
    "\n"
    "Writes the whole map (default datas.mvx) as a PNG.\n"
    "\n"
    "  -o FILE.png  the image to write; written whole or not at all\n"
    "  --scale N    1/N of the size, each pixel the mean of an N x N block (default 1)\n"
    "  --heights    the heights as 16-bit greyscale, (height + 128) x 257, instead of\n"
    "               the colours (8-bit RGB, 5-bit channels spread over 0 ... 255);\n"
    "               the file is marked so that 'mvx import' reads it back exactly\n"
    "               (at --scale 1)\n";

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

std::vector<uint8_t> preview_rgb(const Map &m, int scale) {
    const int w = scaled(colonnes, scale), h = scaled(lignes, scale);
    std::vector<uint8_t> out(3ULL * w * h);
    parallel_rows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                long sum[3] = {0, 0, 0}, n = 0;
                for (int yy = y * scale; yy < std::min(lignes, (y + 1) * scale); ++yy)
                    for (int xx = x * scale; xx < std::min(colonnes, (x + 1) * scale); ++xx, ++n) {
                        const uint16_t c = m.colour[1LL * yy * colonnes + xx];
                        sum[0] += canal_r(c), sum[1] += canal_g(c), sum[2] += canal_b(c);
                    }
                for (int k = 0; k < 3; ++k)
                    out[3 * (1ULL * y * w + x) + k] = static_cast<uint8_t>(std::lround(sum[k] * 255.0 / (31.0 * n)));
            }
    });
    return out;
}

std::vector<uint16_t> height_samples(const Map &m, int scale) {
    const int w = scaled(colonnes, scale), h = scaled(lignes, scale);
    std::vector<uint16_t> out(1ULL * w * h);
    parallel_rows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                long sum = 0, n = 0;
                for (int yy = y * scale; yy < std::min(lignes, (y + 1) * scale); ++yy)
                    for (int xx = x * scale; xx < std::min(colonnes, (x + 1) * scale); ++xx, ++n)
                        sum += m.height[1LL * yy * colonnes + xx];
                const long level = std::lround(static_cast<double>(sum) / n);
                out[1ULL * y * w + x] = static_cast<uint16_t>((level + 128) * 257);
            }
    });
    return out;
}

Status export_png(const Map &m, const std::string &path, int scale, bool heights) {
    const int w = scaled(colonnes, scale), h = scaled(lignes, scale);
    std::vector<uint8_t> pix;
    if (heights) {
        const std::vector<uint16_t> s = height_samples(m, scale);
        pix.resize(2 * s.size());
        for (size_t i = 0; i < s.size(); ++i) pix[2 * i] = static_cast<uint8_t>(s[i] >> 8), pix[2 * i + 1] = static_cast<uint8_t>(s[i]);
    } else {
        pix = preview_rgb(m, scale);
    }
    const size_t stride = heights ? 2ULL * w : 3ULL * w;
    std::vector<png_bytep> rows(h);
    for (int y = 0; y < h; ++y) rows[y] = pix.data() + y * stride;
    PngOut out;
    if (!encode(out, w, h, heights ? 16 : 8, heights ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, rows, heights))
        return Status::fail(path + ": cannot encode PNG: " + out.err);
    return write_file(path, out.bytes.data(), out.bytes.size());
}

Status parse_export(int argc, char **argv, ExportOptions &o, bool &help) {
    bool have_map = false;
    const std::vector<Option> options = {
        {"-o", true, [&](const char *v) { o.out = v; return Status{}; }},
        {"--scale", true, [&](const char *v) {
             long long n = 0;
             Status st = parse_int("--scale", v, 1, lignes, n);
             o.scale = static_cast<int>(n);
             return st;
         }},
        {"--heights", false, [&](const char *) { o.heights = true; return Status{}; }},
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

Status export_map(const ExportOptions &o, std::string &done) {
    Map m;
    if (Status st = read_whole_map(o.map, m); !st.ok) return st;
    if (Status st = export_png(m, o.out, o.scale, o.heights); !st.ok) return st;
    done = "wrote " + o.out + " (" + std::to_string(scaled(colonnes, o.scale)) + " x " +
           std::to_string(scaled(lignes, o.scale)) + ", " + (o.heights ? "16-bit heights" : "colours") + ")";
    return {};
}
