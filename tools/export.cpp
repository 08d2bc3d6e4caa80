// Map export: block-averaged colour previews and 16-bit height images, encoded with libpng in memory.
#include "export.h"

#include "heightmap.h"
#include "parallel.h"
#include "resample.h"

#include <png.h>
#include <zlib.h>

#include <cmath>

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
    const int w = scaled(map_w, scale), h = scaled(map_h, scale);
    std::vector<uint8_t> out(3ULL * w * h);
    parallel_rows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                long sum[3] = {0, 0, 0}, n = 0;
                for (int yy = y * scale; yy < std::min(map_h, (y + 1) * scale); ++yy)
                    for (int xx = x * scale; xx < std::min(map_w, (x + 1) * scale); ++xx, ++n) {
                        const uint16_t c = m.colour[1LL * yy * map_w + xx];
                        sum[0] += c >> 10 & 31, sum[1] += c >> 5 & 31, sum[2] += c & 31;
                    }
                for (int k = 0; k < 3; ++k)
                    out[3 * (1ULL * y * w + x) + k] = static_cast<uint8_t>(std::lround(sum[k] * 255.0 / (31.0 * n)));
            }
    });
    return out;
}

std::vector<uint16_t> height_samples(const Map &m, int scale) {
    const int w = scaled(map_w, scale), h = scaled(map_h, scale);
    std::vector<uint16_t> out(1ULL * w * h);
    parallel_rows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = 0; x < w; ++x) {
                long sum = 0, n = 0;
                for (int yy = y * scale; yy < std::min(map_h, (y + 1) * scale); ++yy)
                    for (int xx = x * scale; xx < std::min(map_w, (x + 1) * scale); ++xx, ++n)
                        sum += m.height[1LL * yy * map_w + xx];
                const long level = std::lround(static_cast<double>(sum) / n);
                out[1ULL * y * w + x] = static_cast<uint16_t>((level + 128) * 257);
            }
    });
    return out;
}

Status export_png(const Map &m, const std::string &path, int scale, bool heights) {
    const int w = scaled(map_w, scale), h = scaled(map_h, scale);
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
