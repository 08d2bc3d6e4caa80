// Height and colour rasters read from memory: libpng and libtiff on buffers, raw 16-bit grids by hand.
#include "heightmap.h"

#include "export.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>


namespace {

Status fail(const std::string &name, const std::string &what) { return Status::fail(name + ": " + what); }

std::string lower_ext(const std::string &name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string e = name.substr(dot);
    for (char &c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
}

// The callers' cap, never above the one that keeps sizes within int and memory.
uint64_t sample_cap(uint64_t cap) { return std::min(cap, max_samples); }

Status too_large(const std::string &name, uint64_t w, uint64_t h, uint64_t cap) {
    return fail(name, std::to_string(w) + " x " + std::to_string(h) + " is too large to hold in memory (at most " +
                          std::to_string(cap) + " samples)");
}

// Sizes the grid after checking it is neither empty nor larger than `cap` (already within max_samples).
Status make_grid(HeightGrid &g, uint64_t w, uint64_t h, const std::string &name, uint64_t cap) {
    if (w == 0 || h == 0)
        return fail(name, "zero-sized image (" + std::to_string(w) + " x " + std::to_string(h) + ")");
    if (w > cap || h > cap || w * h > cap) return too_large(name, w, h, cap);
    g.w = static_cast<int>(w);
    g.h = static_cast<int>(h);
    g.z.assign(w * h, 0.0f);
    g.voids.assign(w * h, 0);
    return {};
}

const uint8_t png_sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

bool is_png(const uint8_t *p, size_t n) { return n >= 8 && !std::memcmp(p, png_sig, 8); }

bool is_tiff(const uint8_t *p, size_t n) {
    if (n < 4) return false;
    return (p[0] == 'I' && p[1] == 'I' && (p[2] == 42 || p[2] == 43) && p[3] == 0) ||
           (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && (p[3] == 42 || p[3] == 43));
}

uint32_t be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// ---- PNG through libpng, from memory -------------------------------------------------------

struct PngIn {
    const uint8_t *p;
    size_t n, pos = 8;
    std::string err;
    png_structp png = nullptr;
    png_infop info = nullptr;

    static void on_error(png_structp png, png_const_charp msg) {
        static_cast<PngIn *>(png_get_error_ptr(png))->err = msg;
        png_longjmp(png, 1);
    }
    static void on_warning(png_structp, png_const_charp) {}
    static void on_read(png_structp png, png_bytep out, png_size_t len) {
        auto *s = static_cast<PngIn *>(png_get_io_ptr(png));
        if (len > s->n - s->pos) png_error(png, "file ends early");
        std::memcpy(out, s->p + s->pos, len);
        s->pos += len;
    }

    PngIn(const uint8_t *data, size_t size) : p(data), n(size) {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, on_error, on_warning);
        if (png) info = png_create_info_struct(png);
        if (info) {
            png_set_read_fn(png, this, on_read);
            png_set_sig_bytes(png, 8);
            // Our own cap on the sample count applies instead of libpng's default of a million a side.
            png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
        }
    }
    ~PngIn() { png_destroy_read_struct(&png, &info, nullptr); }
    PngIn(const PngIn &) = delete;
    PngIn &operator=(const PngIn &) = delete;
};

struct PngImage {
    uint32_t w = 0, h = 0;
    int type = 0;        // colour type in the file
    int channels = 0;    // after the transforms
    int depth = 0;       // bits per sample after the transforms
    size_t rowbytes = 0;
    bool levels = false; // carries the level-scale mark
    bool too_large = false;
    std::vector<uint8_t> pix;
};

// Decodes the whole image; with `rgb8`, converted to 8-bit RGB. On false, in.err says why.
bool png_decode(PngIn &in, bool rgb8, uint64_t cap, PngImage &im) {
    if (!in.info) {
        in.err = "out of memory";
        return false;
    }
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(in.png))) return false;
    png_read_info(in.png, in.info);
    im.w = png_get_image_width(in.png, in.info);
    im.h = png_get_image_height(in.png, in.info);
    im.type = png_get_color_type(in.png, in.info);
    if (1ULL * im.w * im.h > cap) {
        im.too_large = true;
        return false;
    }
    if (im.type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(in.png);
    if (png_get_bit_depth(in.png, in.info) < 8) png_set_expand_gray_1_2_4_to_8(in.png);
    if (rgb8) {
        png_set_scale_16(in.png);
        png_set_strip_alpha(in.png);
        png_set_gray_to_rgb(in.png);
    }
    png_set_interlace_handling(in.png);
    png_read_update_info(in.png, in.info);
    im.channels = png_get_channels(in.png, in.info);
    im.depth = png_get_bit_depth(in.png, in.info);
    im.rowbytes = png_get_rowbytes(in.png, in.info);
    im.pix.resize(im.rowbytes * im.h);
    rows.resize(im.h);
    for (uint32_t y = 0; y < im.h; ++y) rows[y] = im.pix.data() + y * im.rowbytes;
    png_read_image(in.png, rows.data());
    png_read_end(in.png, in.info);
    png_textp text = nullptr;
    int ntext = 0;
    png_get_text(in.png, in.info, &text, &ntext);
    for (int i = 0; i < ntext; ++i)
        if (!std::strcmp(text[i].key, levels_key) && text[i].text && !std::strcmp(text[i].text, levels_value))
            im.levels = true;
    return true;
}

// Checks the signature and the IHDR's size before libpng sees the file, for plain messages, and
// that no chunk before IEND runs past the end: libpng allocates a text chunk's whole length before
// reading it, so a tiny file could otherwise claim gigabytes.
Status png_precheck(const uint8_t *data, size_t n, const std::string &name) {
    if (n == 0) return fail(name, "empty file");
    if (!is_png(data, n)) return fail(name, "not a PNG file (no PNG signature)");
    if (n >= 24 && !std::memcmp(data + 12, "IHDR", 4) && (be32(data + 16) == 0 || be32(data + 20) == 0))
        return fail(name, "zero-sized image (" + std::to_string(be32(data + 16)) + " x " +
                              std::to_string(be32(data + 20)) + ")");
    for (size_t p = 8; p + 8 <= n && std::memcmp(data + p + 4, "IEND", 4);) {
        const uint64_t len = be32(data + p);
        if (len + 12 > n - p) return fail(name, "corrupt or truncated PNG: a chunk runs past the end of the file");
        p += 12 + len;
    }
    return {};
}

Status png_failure(const PngIn &in, const PngImage &im, const std::string &name, uint64_t cap) {
    if (im.too_large) return too_large(name, im.w, im.h, cap);
    return fail(name, "corrupt or truncated PNG: " + in.err);
}

// ---- TIFF through libtiff, from memory -----------------------------------------------------

constexpr ttag_t tag_gdal_nodata = 42113;

void add_nodata_tag(TIFF *tif);
TIFFExtendProc parent_extender = nullptr;

void add_nodata_tag(TIFF *tif) {
    static const TIFFFieldInfo info[] = {
        {tag_gdal_nodata, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char *>("GDALNoDataValue")}};
    TIFFMergeFieldInfo(tif, info, 1);
    if (parent_extender) parent_extender(tif);
}

struct TiffIn {
    const uint8_t *p = nullptr;
    uint64_t n = 0, pos = 0;
    std::string err;

    static tmsize_t on_read(thandle_t h, void *buf, tmsize_t size) {
        auto *s = static_cast<TiffIn *>(h);
        if (size <= 0 || s->pos >= s->n) return 0;
        const uint64_t k = std::min<uint64_t>(static_cast<uint64_t>(size), s->n - s->pos);
        std::memcpy(buf, s->p + s->pos, k);
        s->pos += k;
        return static_cast<tmsize_t>(k);
    }
    static tmsize_t on_write(thandle_t, void *, tmsize_t) { return -1; }
    static toff_t on_seek(thandle_t h, toff_t off, int whence) {
        auto *s = static_cast<TiffIn *>(h);
        uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->n : 0;
        if (off > UINT64_MAX - base) return static_cast<toff_t>(-1);
        s->pos = base + off;
        return s->pos;
    }
    static int on_close(thandle_t) { return 0; }
    static toff_t on_size(thandle_t h) { return static_cast<TiffIn *>(h)->n; }
    static int on_map(thandle_t h, void **base, toff_t *size) {
        auto *s = static_cast<TiffIn *>(h);
        *base = const_cast<uint8_t *>(s->p);
        *size = s->n;
        return 1;
    }
    static void on_unmap(thandle_t, void *, toff_t) {}
    static int on_error(TIFF *, void *user, const char *module, const char *fmt, va_list ap) {
        auto *s = static_cast<TiffIn *>(user);
        if (s->err.empty()) {
            char buf[512];
            std::vsnprintf(buf, sizeof buf, fmt, ap);
            s->err = buf;
            (void)module;
        }
        return 1;
    }
    static int on_warning(TIFF *, void *, const char *, const char *, va_list) { return 1; }
};

struct TiffHandle {
    TIFF *t = nullptr;
    ~TiffHandle() {
        if (t) TIFFClose(t);
    }
};

// One sample of the file's type, converted; `bytes` per sample, `fmt` a SAMPLEFORMAT_*.
double tiff_sample(const uint8_t *q, int bytes, int fmt) {
    switch (fmt * 16 + bytes) {
    case SAMPLEFORMAT_UINT * 16 + 1: return *q;
    case SAMPLEFORMAT_INT * 16 + 1: return static_cast<int8_t>(*q);
    case SAMPLEFORMAT_UINT * 16 + 2: { uint16_t v; std::memcpy(&v, q, 2); return v; }
    case SAMPLEFORMAT_INT * 16 + 2: { int16_t v; std::memcpy(&v, q, 2); return v; }
    case SAMPLEFORMAT_UINT * 16 + 4: { uint32_t v; std::memcpy(&v, q, 4); return v; }
    case SAMPLEFORMAT_INT * 16 + 4: { int32_t v; std::memcpy(&v, q, 4); return v; }
    case SAMPLEFORMAT_IEEEFP * 16 + 4: { float v; std::memcpy(&v, q, 4); return v; }
    default: { double v; std::memcpy(&v, q, 8); return v; }
    }
}

}  // namespace

HeightFormat detect_format(const uint8_t *data, size_t n, const std::string &name) {
    if (is_png(data, n)) return HeightFormat::png;
    if (is_tiff(data, n)) return HeightFormat::tiff;
    const std::string e = lower_ext(name);
    if (e == ".hgt") return HeightFormat::hgt;
    if (e == ".r16") return HeightFormat::r16;
    if (e == ".png") return HeightFormat::png;
    if (e == ".tif" || e == ".tiff") return HeightFormat::tiff;
    return HeightFormat::unknown;
}

Status read_png_heights(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, uint64_t cap) {
    if (Status st = png_precheck(data, n, name); !st.ok) return st;
    cap = sample_cap(cap);
    PngIn in(data, n);
    PngImage im;
    if (!png_decode(in, false, cap, im)) return png_failure(in, im, name, cap);
    const int ch = im.channels, bps = im.depth / 8;
    const bool alpha = ch == 2 || ch == 4;
    if (ch >= 3) {
        // A colour image is heights only when every pixel is grey.
        const size_t px = static_cast<size_t>(ch) * bps;
        for (uint32_t y = 0; y < im.h; ++y) {
            const uint8_t *r = im.pix.data() + y * im.rowbytes;
            for (uint32_t x = 0; x < im.w; ++x, r += px)
                if (std::memcmp(r, r + bps, bps) || std::memcmp(r, r + 2 * bps, bps))
                    return fail(name, std::string(im.type == PNG_COLOR_TYPE_PALETTE ? "a palette" : "a colour") +
                                          " image, not greyscale heights (convert it to greyscale, or give it as --colour)");
        }
        g.notes.push_back(name + ": " + (im.type == PNG_COLOR_TYPE_PALETTE ? "palette" : "colour") +
                          " image with only grey pixels, read as greyscale");
    }
    if (Status st = make_grid(g, im.w, im.h, name, cap); !st.ok) return st;
    const size_t px = static_cast<size_t>(ch) * bps;
    for (uint32_t y = 0; y < im.h; ++y) {
        const uint8_t *r = im.pix.data() + y * im.rowbytes;
        float *z = g.z.data() + static_cast<size_t>(y) * im.w;
        uint8_t *v = g.voids.data() + static_cast<size_t>(y) * im.w;
        for (uint32_t x = 0; x < im.w; ++x, r += px) {
            // PNG samples are big-endian; no gamma is applied, heights are not light.
            const unsigned s = bps == 2 ? (r[0] << 8 | r[1]) : r[0];
            if (alpha) {
                const uint8_t *a = r + px - bps;
                if (a[0] == 0 && (bps == 1 || a[1] == 0)) {
                    v[x] = 1;
                    continue;
                }
            }
            z[x] = static_cast<float>(s);
        }
    }
    if (alpha) g.notes.push_back(name + ": transparent pixels read as voids");
    if (im.levels) {
        g.has_range = true;
        g.range_lo = 0;
        g.range_hi = 65535;
    }
    return {};
}

Status read_png_rgb(const uint8_t *data, size_t n, const std::string &name, RgbImage &img, uint64_t cap) {
    if (Status st = png_precheck(data, n, name); !st.ok) return st;
    cap = sample_cap(cap);
    PngIn in(data, n);
    PngImage im;
    if (!png_decode(in, true, cap, im)) return png_failure(in, im, name, cap);
    img.w = static_cast<int>(im.w);
    img.h = static_cast<int>(im.h);
    img.rgb.resize(3ULL * im.w * im.h);
    for (uint32_t y = 0; y < im.h; ++y)
        std::memcpy(img.rgb.data() + 3ULL * y * im.w, im.pix.data() + y * im.rowbytes, 3ULL * im.w);
    return {};
}

Status read_tiff(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, uint64_t cap) {
    if (n == 0) return fail(name, "empty file");
    if (!is_tiff(data, n)) return fail(name, "not a TIFF file (no TIFF header)");
    static std::once_flag once;
    std::call_once(once, [] { parent_extender = TIFFSetTagExtender(add_nodata_tag); });

    TiffIn in;
    in.p = data;
    in.n = n;
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts) return fail(name, "out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffIn::on_error, &in);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffIn::on_warning, &in);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(1) << 31);
    TiffHandle tif;
    tif.t = TIFFClientOpenExt(name.c_str(), "r", &in, TiffIn::on_read, TiffIn::on_write, TiffIn::on_seek,
                              TiffIn::on_close, TiffIn::on_size, TiffIn::on_map, TiffIn::on_unmap, opts);
    TIFFOpenOptionsFree(opts);
    auto corrupt = [&] { return fail(name, "corrupt or truncated TIFF: " + (in.err.empty() ? "unreadable" : in.err)); };
    if (!tif.t) return corrupt();
    TIFF *t = tif.t;

    uint32_t w = 0, h = 0;
    uint16_t spp = 1, bits = 0, fmt = SAMPLEFORMAT_UINT, photo = PHOTOMETRIC_MINISBLACK;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h))
        return fail(name, "corrupt TIFF: no image size");
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &fmt);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photo);
    if (photo == PHOTOMETRIC_PALETTE)
        return fail(name, "a palette image, not heights (heights need one numeric sample per pixel)");
    if (spp != 1)
        return fail(name, "has " + std::to_string(spp) +
                              " samples per pixel, not heights (a colour image? heights need one sample per pixel)");
    const bool known = (fmt == SAMPLEFORMAT_UINT || fmt == SAMPLEFORMAT_INT) ? (bits == 8 || bits == 16 || bits == 32)
                       : fmt == SAMPLEFORMAT_IEEEFP                        ? (bits == 32 || bits == 64)
                                                                           : false;
    if (!known)
        return fail(name, "unsupported sample type: " + std::to_string(bits) + "-bit " +
                              (fmt == SAMPLEFORMAT_IEEEFP ? "float" : fmt == SAMPLEFORMAT_INT ? "signed" :
                               fmt == SAMPLEFORMAT_UINT ? "unsigned" : "format " + std::to_string(fmt)) +
                              " (heights must be 8/16/32-bit integers or 32/64-bit floats)");
    if (Status st = make_grid(g, w, h, name, sample_cap(cap)); !st.ok) return st;

    bool has_nodata = false;
    double nodata = 0;
    char *nd = nullptr;
    if (TIFFGetField(t, tag_gdal_nodata, &nd) && nd) {
        char *end = nullptr;
        const double v = std::strtod(nd, &end);
        if (end != nd) {
            has_nodata = true;
            // Compare in the sample's own precision, as the writer stored it.
            nodata = fmt == SAMPLEFORMAT_IEEEFP && bits == 32 ? static_cast<double>(static_cast<float>(v)) : v;
        } else {
            g.notes.push_back(name + ": NoData value '" + nd + "' is not a number, ignored");
        }
    }
    const int bps = bits / 8;
    // Infinities, and doubles no float can hold, would stretch the height scale over everything:
    // they are no data, like NaN.
    uint64_t unusable = 0;
    auto put = [&](const uint8_t *q, uint32_t x, uint32_t y) {
        const double v = tiff_sample(q, bps, fmt);
        const size_t i = static_cast<size_t>(y) * w + x;
        if (has_nodata && v == nodata) g.voids[i] = 1;
        else if (!(std::fabs(v) <= FLT_MAX)) g.voids[i] = 1, unusable += !std::isnan(v);
        else g.z[i] = static_cast<float>(v);
    };

    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        // Tiles may overhang a small image, but not by so much that one tile would dwarf it.
        if (tw == 0 || th == 0 || 1ULL * tw * th > std::max<uint64_t>(1ULL << 20, 4ULL * w * h))
            return fail(name, "corrupt TIFF: tiles of " + std::to_string(tw) + " x " + std::to_string(th) +
                                  " for a " + std::to_string(w) + " x " + std::to_string(h) + " image");
        const tmsize_t size = TIFFTileSize(t);
        if (size <= 0 || static_cast<uint64_t>(size) < 1ULL * tw * th * bps) return corrupt();
        std::vector<uint8_t> buf(static_cast<size_t>(size));
        for (uint32_t ty = 0; ty < h; ty += th)
            for (uint32_t tx = 0; tx < w; tx += tw) {
                if (TIFFReadEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), buf.data(), size) < 0) return corrupt();
                for (uint32_t y = ty; y < std::min(h, ty + th); ++y)
                    for (uint32_t x = tx; x < std::min(w, tx + tw); ++x)
                        put(buf.data() + (static_cast<size_t>(y - ty) * tw + (x - tx)) * bps, x, y);
            }
    } else {
        uint32_t rps = h;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps);
        rps = std::clamp<uint32_t>(rps, 1, h);
        const tmsize_t line = TIFFScanlineSize(t);
        if (line <= 0 || static_cast<uint64_t>(line) < 1ULL * w * bps) return corrupt();
        std::vector<uint8_t> buf(static_cast<size_t>(line) * rps);
        for (uint32_t y0 = 0; y0 < h; y0 += rps) {
            const uint32_t rows = std::min(rps, h - y0);
            const tmsize_t want = line * rows;
            if (TIFFReadEncodedStrip(t, TIFFComputeStrip(t, y0, 0), buf.data(), want) < want) return corrupt();
            for (uint32_t y = y0; y < y0 + rows; ++y)
                for (uint32_t x = 0; x < w; ++x) put(buf.data() + (y - y0) * line + static_cast<size_t>(x) * bps, x, y);
        }
    }
    if (unusable)
        g.notes.push_back(name + ": samples infinite or too large for a float, read as voids: " + std::to_string(unusable));
    return {};
}

Status read_hgt(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, uint64_t cap) {
    int side = 0;
    for (int s : {1201, 3601})
        if (n == 2ULL * s * s) side = s;
    if (!side)
        return fail(name, std::to_string(n) + " bytes is not an SRTM tile (1201 x 1201 or 3601 x 3601 samples: " +
                              std::to_string(2 * 1201 * 1201) + " or " + std::to_string(2 * 3601 * 3601) + " bytes)");
    if (Status st = make_grid(g, side, side, name, sample_cap(cap)); !st.ok) return st;
    for (size_t i = 0; i < g.z.size(); ++i) {
        const int16_t v = static_cast<int16_t>(data[2 * i] << 8 | data[2 * i + 1]);
        if (v == -32768) g.voids[i] = 1;
        else g.z[i] = v;
    }
    return {};
}

Status read_r16(const uint8_t *data, size_t n, const std::string &name, HeightGrid &g, int w, int h, uint64_t cap) {
    if (n == 0) return fail(name, "empty file");
    if (w > 0 && h > 0) {
        const uint64_t need = 2ULL * w * h;
        if (need != n)
            return fail(name, std::to_string(n) + " bytes do not hold " + std::to_string(w) + " x " + std::to_string(h) +
                                  " 16-bit samples (" + std::to_string(need) + " bytes)");
    } else {
        const uint64_t samples = n / 2;
        uint64_t side = static_cast<uint64_t>(std::llround(std::sqrt(static_cast<double>(samples))));
        if (n % 2 || side * side != samples)
            return fail(name, std::to_string(n) + " bytes is not a square grid of 16-bit samples (give its size with --size WxH)");
        if (side > max_samples) side = max_samples + 1;  // make_grid refuses it without overflowing int
        w = h = static_cast<int>(std::min<uint64_t>(side, 0x7fffffff));
    }
    if (Status st = make_grid(g, static_cast<uint64_t>(w), static_cast<uint64_t>(h), name, sample_cap(cap)); !st.ok)
        return st;
    for (size_t i = 0; i < g.z.size(); ++i) g.z[i] = static_cast<float>(data[2 * i] | data[2 * i + 1] << 8);
    return {};
}

Status read_heights(const std::string &path, HeightGrid &g, int size_w, int size_h) {
    std::vector<uint8_t> bytes;
    // A raster of max_samples 64-bit floats, uncompressed, plus its headers.
    if (Status st = read_whole(path, bytes, max_samples * 8 + (1 << 20)); !st.ok) return st;
    if (bytes.empty()) return fail(path, "empty file");
    const HeightFormat f = detect_format(bytes.data(), bytes.size(), path);
    if (size_w > 0 && f != HeightFormat::r16) return fail(path, "a size is only needed for headerless .r16 files");
    switch (f) {
    case HeightFormat::png: return read_png_heights(bytes.data(), bytes.size(), path, g);
    case HeightFormat::tiff: return read_tiff(bytes.data(), bytes.size(), path, g);
    case HeightFormat::hgt: return read_hgt(bytes.data(), bytes.size(), path, g);
    case HeightFormat::r16: return read_r16(bytes.data(), bytes.size(), path, g, size_w, size_h);
    case HeightFormat::unknown: break;
    }
    return fail(path, "unknown format (heights must be PNG or GeoTIFF, or raw data named .hgt or .r16)");
}
