// Float GeoTIFFs in DEFLATE with the floating-point predictor, read block by block with the predictor undone in vector code.
#include "import/float_tiff.h"

#include "import/tiff_tags.h"
#include "sandbox/gate.h"

#include <emmintrin.h>
#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace {

// A row of w samples as the predictor left it: the samples' bytes in four planes, the most
// significant first, and the whole run of 4w bytes differenced byte by byte. Summed back sixteen
// bytes at a time (a prefix sum in four shifts, plus the last byte of the sixteen before), then
// samples c0 ... c1-1 gathered from the planes into out (x86 is little-endian: the least
// significant plane comes first in memory).
void undo_float_predictor(uint8_t *row, uint32_t w, uint32_t c0, uint32_t c1, float *out) {
    const size_t n = 4 * static_cast<size_t>(w);
    size_t i = 0;
    __m128i carry = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + i));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
        x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
        x = _mm_add_epi8(x, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(row + i), x);
        carry = _mm_shuffle_epi32(_mm_shufflehi_epi16(_mm_unpackhi_epi8(x, x), 0xff), 0xff);
    }
    for (uint8_t c = static_cast<uint8_t>(_mm_cvtsi128_si32(carry)); i < n; ++i) row[i] = c = static_cast<uint8_t>(row[i] + c);
    const uint8_t *p0 = row, *p1 = row + w, *p2 = row + 2 * static_cast<size_t>(w), *p3 = row + 3 * static_cast<size_t>(w);
    uint32_t k = c0;
    for (; k + 16 <= c1; k += 16, out += 16) {
        auto at = [k](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + k)); };
        const __m128i a0 = at(p0), a1 = at(p1), a2 = at(p2), a3 = at(p3);
        const __m128i low = _mm_unpacklo_epi8(a3, a2), high = _mm_unpacklo_epi8(a1, a0);
        const __m128i low2 = _mm_unpackhi_epi8(a3, a2), high2 = _mm_unpackhi_epi8(a1, a0);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi16(low, high));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), _mm_unpackhi_epi16(low, high));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8), _mm_unpacklo_epi16(low2, high2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12), _mm_unpackhi_epi16(low2, high2));
    }
    for (; k < c1; ++k, ++out) {
        const uint32_t v = uint32_t{p0[k]} << 24 | uint32_t{p1[k]} << 16 | uint32_t{p2[k]} << 8 | p3[k];
        std::memcpy(out, &v, sizeof v);
    }
}

}  // namespace

void FloatTiffBlocks::Free::operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }

FloatTiffBlocks::FloatTiffBlocks() = default;
FloatTiffBlocks::~FloatTiffBlocks() = default;

bool FloatTiffBlocks::attach(GDALDatasetH ds) {
    tif_ = nullptr;
    // The dataset's own image, as GDAL stands at it: not an overview's or a mask's.
    TIFF *t = GDALGetRasterCount(ds) == 1 && GDALGetRasterDataType(GDALGetRasterBand(ds, 1)) == GDT_Float32 ? full_image(ds) : nullptr;
    return t && attach(t);
}

bool FloatTiffBlocks::attach(TIFF *t) {
    tif_ = nullptr;
    uint32_t w = 0, h = 0;
    uint16_t compression = 0, predictor = 0, bits = 0, format = 0, samples = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) || w == 0 || h == 0 ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression) ||
        (compression != COMPRESSION_ADOBE_DEFLATE && compression != COMPRESSION_DEFLATE) ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor) || predictor != PREDICTOR_FLOATINGPOINT ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits) || bits != 32 ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format) || format != SAMPLEFORMAT_IEEEFP ||
        !TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples) || samples != 1)
        return false;
    tiled_ = TIFFIsTiled(t);
    uint32_t bw = w, bh = 0;
    if (tiled_ ? !TIFFGetField(t, TIFFTAG_TILEWIDTH, &bw) || !TIFFGetField(t, TIFFTAG_TILELENGTH, &bh)
               : !TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &bh))
        return false;
    bh = std::min(bh, h);
    if (bw == 0 || bh == 0 || 4ULL * bw * bh > static_cast<unsigned long long>(max_decode_bytes)) return false;
    tif_ = t, directory_ = TIFFCurrentDirOffset(t);
    width_ = w, height_ = h, block_w_ = bw, block_h_ = bh;
    return true;
}

bool FloatTiffBlocks::absent(int x0, int y0, int nx, int ny) const {
    if (!tif_ || nx <= 0 || ny <= 0) return false;
    for (uint32_t by = static_cast<uint32_t>(y0) / block_h_ * block_h_; by < static_cast<uint32_t>(y0 + ny); by += block_h_)
        for (uint32_t bx = static_cast<uint32_t>(x0) / block_w_ * block_w_; bx < static_cast<uint32_t>(x0 + nx); bx += block_w_)
            if (TIFFGetStrileByteCount(tif_, tiled_ ? TIFFComputeTile(tif_, bx, by, 0, 0) : TIFFComputeStrip(tif_, by, 0)) != 0)
                return false;
    return true;
}

// Block `block`, of `bytes` when whole, inflated into block_.
bool FloatTiffBlocks::inflate(uint32_t block, size_t bytes) {
    const uint64_t offset = TIFFGetStrileOffset(tif_, block), size = TIFFGetStrileByteCount(tif_, block);
    // Left out of a sparse file, or larger than DEFLATE ever makes it: GDAL's way.
    if (offset == 0 || size == 0 || size > bytes + bytes / 8 + 4096) return false;
    if (!inflater_) inflater_.reset(libdeflate_alloc_decompressor());
    if (!inflater_) return false;
    packed_.resize(size);
    const tmsize_t got = tiled_ ? TIFFReadRawTile(tif_, block, packed_.data(), static_cast<tmsize_t>(size))
                                : TIFFReadRawStrip(tif_, block, packed_.data(), static_cast<tmsize_t>(size));
    if (got != static_cast<tmsize_t>(size)) return false;
    block_.resize(bytes);
    size_t out = 0;
    return libdeflate_zlib_decompress(inflater_.get(), packed_.data(), size, block_.data(), bytes, &out) ==
               LIBDEFLATE_SUCCESS &&
           out == bytes;
}

bool FloatTiffBlocks::read(int x0, int y0, int nx, int ny, float *out) {
    if (!tif_ || TIFFCurrentDirOffset(tif_) != directory_ || x0 < 0 || y0 < 0 || nx <= 0 || ny <= 0 ||
        static_cast<uint32_t>(x0) + static_cast<uint32_t>(nx) > width_ || static_cast<uint32_t>(y0) + static_cast<uint32_t>(ny) > height_)
        return false;
    const uint32_t x1 = static_cast<uint32_t>(x0 + nx), y1 = static_cast<uint32_t>(y0 + ny);
    for (uint32_t by = static_cast<uint32_t>(y0) / block_h_ * block_h_; by < y1; by += block_h_)
        for (uint32_t bx = static_cast<uint32_t>(x0) / block_w_ * block_w_; bx < x1; bx += block_w_) {
            // A strip ends with the image; a tile is whole, past the image's edge too.
            const uint32_t rows = tiled_ ? block_h_ : std::min(block_h_, height_ - by);
            const uint32_t block = tiled_ ? TIFFComputeTile(tif_, bx, by, 0, 0) : TIFFComputeStrip(tif_, by, 0);
            if (!inflate(block, static_cast<size_t>(block_w_) * rows * 4)) return false;
            const uint32_t c0 = std::max(bx, static_cast<uint32_t>(x0)) - bx, c1 = std::min(bx + block_w_, x1) - bx;
            for (uint32_t y = std::max(by, static_cast<uint32_t>(y0)); y < std::min(by + rows, y1); ++y)
                undo_float_predictor(block_.data() + static_cast<size_t>(y - by) * block_w_ * 4, block_w_, c0, c1,
                                     out + static_cast<size_t>(y - static_cast<uint32_t>(y0)) * nx + (bx + c0 - static_cast<uint32_t>(x0)));
        }
    return true;
}
