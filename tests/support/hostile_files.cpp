// Hostile headers built byte by byte: huge WebP canvases and GIF frames, long TIFF chains, run-length BMPs, FITS, MRF.
#include "tests/support/hostile_files.h"

#include <cstdio>

namespace {

void put_le(Bytes &b, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

Bytes webp_canvas(uint32_t w, uint32_t h) {
    Bytes vp8x = {'V', 'P', '8', 'X'};
    put_le(vp8x, 10, 4);
    put_le(vp8x, 0, 4);  // no alpha, no animation
    put_le(vp8x, w - 1, 3);
    put_le(vp8x, h - 1, 3);
    Bytes b = {'R', 'I', 'F', 'F'};
    put_le(b, 4 + vp8x.size(), 4);
    b.insert(b.end(), {'W', 'E', 'B', 'P'});
    b.insert(b.end(), vp8x.begin(), vp8x.end());
    return b;
}

Bytes gif_frames(const std::vector<std::pair<uint16_t, uint16_t>> &frames) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a'};
    put_le(b, 1, 2);
    put_le(b, 1, 2);
    b.insert(b.end(), {0, 0, 0});  // no global colour table
    for (const auto &[w, h] : frames) {
        b.push_back(0x2c);
        put_le(b, 0, 4);  // left, top
        put_le(b, w, 2);
        put_le(b, h, 2);
        b.insert(b.end(), {0, 8, 0});  // no local table; code size 8; no data
    }
    b.push_back(0x3b);
    return b;
}

Bytes tiff_chain(int n, bool big) {
    const int word = big ? 8 : 4, count = big ? 8 : 2;
    Bytes b = {'I', 'I', static_cast<uint8_t>(big ? 43 : 42), 0};
    if (big) put_le(b, 8 | 0 << 16, 4);  // offsets of 8 bytes
    put_le(b, b.size() + word, word);
    for (int i = 0; i < n; ++i) {
        const uint64_t next = i + 1 < n ? b.size() + count + 4 + 2 * word + word : 0;
        put_le(b, 1, count);
        put_le(b, 256, 2);  // ImageWidth, SHORT, 1: 1
        put_le(b, 3, 2);
        put_le(b, 1, word);
        put_le(b, 1, word);
        put_le(b, next, word);
    }
    return b;
}

Bytes bmp_rle(int32_t w, int32_t h) {
    const Bytes runs = {2, 7, 0, 1};  // two pixels of 7, then the end of the image
    Bytes b = {'B', 'M'};
    put_le(b, 54 + runs.size(), 4);
    put_le(b, 0, 4);
    put_le(b, 54 + 1024, 4);  // the data after the header and a palette of 256
    put_le(b, 40, 4);
    put_le(b, static_cast<uint32_t>(w), 4);
    put_le(b, static_cast<uint32_t>(h), 4);
    put_le(b, 1, 2);  // planes
    put_le(b, 8, 2);  // bits a pixel
    put_le(b, 1, 4);  // RLE8
    put_le(b, runs.size(), 4);
    b.insert(b.end(), 16, 0);  // resolutions, colours used and important
    for (int i = 0; i < 256; ++i) b.insert(b.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0});
    b.insert(b.end(), runs.begin(), runs.end());
    return b;
}

Bytes fits_image(int w, int h) {
    std::string header;
    auto card = [&](const char *key, const std::string &value) {
        char c[81];
        std::snprintf(c, sizeof c, "%-8.8s= %20s%50s", key, value.c_str(), "");
        header += c;
    };
    card("SIMPLE", "T");
    card("BITPIX", "16");
    card("NAXIS", "2");
    card("NAXIS1", std::to_string(w));
    card("NAXIS2", std::to_string(h));
    header += std::string("END") + std::string(77, ' ');
    header.resize((header.size() + 2879) / 2880 * 2880, ' ');
    Bytes b(header.begin(), header.end());
    const size_t data = 2ull * w * h;
    b.resize(b.size() + (data + 2879) / 2880 * 2880, 0);
    return b;
}

std::string mrf_header(const std::string &source, const std::string &data, const std::string &index) {
    return "<MRF_META>\n"
           "  <CachedSource><Source>" + source + "</Source></CachedSource>\n"
           "  <Raster>\n"
           "    <Size x=\"256\" y=\"256\" c=\"1\"/>\n"
           "    <PageSize x=\"256\" y=\"256\" c=\"1\"/>\n"
           "    <Compression>NONE</Compression>\n"
           "    <DataType>Byte</DataType>\n"
           "    <DataFile>" + data + "</DataFile>\n"
           "    <IndexFile>" + index + "</IndexFile>\n"
           "  </Raster>\n"
           "</MRF_META>\n";
}
