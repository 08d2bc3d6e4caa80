// Hand-built PNG and TIFF files for the reader tests and the end-to-end inputs.
#include "tests/support/rasters.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

void put32be(Bytes &b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

int channels(int type) { return type == 0 ? 1 : type == 2 ? 3 : type == 3 ? 1 : type == 4 ? 2 : 4; }

}  // namespace

Bytes png_chunk(const char type[4], const Bytes &data) {
    Bytes c;
    put32be(c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));  // a null buffer resets it
    put32be(c, static_cast<uint32_t>(crc));
    return c;
}

Bytes png_file(const PngSpec &s) {
    const size_t bits = static_cast<size_t>(channels(s.type)) * s.depth;
    const size_t row = (s.w * bits + 7) / 8;
    Bytes filtered;
    auto add_rows = [&](uint32_t x0, uint32_t y0, uint32_t dx, uint32_t dy) {
        const size_t px = bits / 8;
        for (uint32_t y = y0; y < s.h; y += dy) {
            if (x0 >= s.w) break;
            filtered.push_back(0);  // filter: none
            if (dx == 1) {
                filtered.insert(filtered.end(), s.raw.begin() + y * row, s.raw.begin() + (y + 1) * row);
                continue;
            }
            for (uint32_t x = x0; x < s.w; x += dx)
                filtered.insert(filtered.end(), s.raw.begin() + y * row + x * px, s.raw.begin() + y * row + (x + 1) * px);
        }
    };
    if (s.raw.size() < row * s.h) {
        // Too few samples for the header's size: only the header matters (size checks).
    } else if (s.interlace) {
        if (bits % 8) throw std::invalid_argument("interlaced test PNGs need whole-byte pixels");
        const uint32_t adam7[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto &p : adam7) add_rows(p[0], p[1], p[2], p[3]);
    } else {
        add_rows(0, 0, 1, 1);
    }
    uLongf zlen = compressBound(filtered.size());
    Bytes z(zlen);
    if (compress(z.data(), &zlen, filtered.data(), filtered.size()) != Z_OK) throw std::runtime_error("compress");
    z.resize(zlen);

    Bytes ihdr;
    put32be(ihdr, s.w);
    put32be(ihdr, s.h);
    ihdr.insert(ihdr.end(), {static_cast<uint8_t>(s.depth), static_cast<uint8_t>(s.type), 0, 0,
                             static_cast<uint8_t>(s.interlace)});
    Bytes f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const Bytes &c : {png_chunk("IHDR", ihdr), s.type == 3 ? png_chunk("PLTE", s.palette) : Bytes{}, s.extra,
                           png_chunk("IDAT", z), png_chunk("IEND", {})})
        f.insert(f.end(), c.begin(), c.end());
    return f;
}

Bytes tiff_file(const TiffSpec &s) {
    const bool be = s.big_endian;
    Bytes f;
    auto put = [&](uint64_t v, int n) {
        for (int k = 0; k < n; ++k) f.push_back(static_cast<uint8_t>(v >> (8 * (be ? n - 1 - k : k))));
    };
    auto at = [&](size_t pos, uint32_t v) {
        for (int k = 0; k < 4; ++k) f[pos + k] = static_cast<uint8_t>(v >> (8 * (be ? 3 - k : k)));
    };
    f = be ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
    put(0, 4);  // IFD offset, set below

    const size_t bps = static_cast<size_t>(s.bits) / 8, px = bps * s.spp;
    // A sample in host order, written in the file's.
    auto sample = [&](size_t i) {
        for (size_t k = 0; k < bps; ++k) f.push_back(s.samples[i * bps + (be ? bps - 1 - k : k)]);
    };
    std::vector<uint32_t> offsets, counts;
    // Fewer samples than the header's size claims: the data is left out (size checks).
    const bool have = s.samples.size() >= px * s.w * s.h;
    if (s.tile) {
        for (uint32_t ty = 0; ty < s.h; ty += s.tile)
            for (uint32_t tx = 0; tx < s.w; tx += s.tile) {
                offsets.push_back(static_cast<uint32_t>(f.size()) + s.offset_shift);
                for (uint32_t y = ty; y < ty + s.tile && have; ++y)
                    for (uint32_t x = tx; x < tx + s.tile; ++x)
                        for (int c = 0; c < s.spp; ++c) {
                            if (x < s.w && y < s.h) sample((static_cast<size_t>(y) * s.w + x) * s.spp + c);
                            else f.insert(f.end(), bps, 0);
                        }
                counts.push_back(static_cast<uint32_t>(px * s.tile * s.tile));
            }
    } else {
        const uint32_t rps = s.rows_per_strip ? s.rows_per_strip : s.h;
        for (uint32_t y0 = 0; y0 < s.h; y0 += rps) {
            offsets.push_back(static_cast<uint32_t>(f.size()) + s.offset_shift);
            const uint32_t rows = std::min(rps, s.h - y0);
            for (size_t i = static_cast<size_t>(y0) * s.w * s.spp; have && i < static_cast<size_t>(y0 + rows) * s.w * s.spp; ++i)
                sample(i);
            counts.push_back(static_cast<uint32_t>(px * s.w * rows));
        }
    }

    struct Tag {
        uint16_t tag, type;
        std::vector<uint32_t> v;  // SHORT (3) or LONG (4) values
        std::string text;         // ASCII (2)
    };
    std::vector<Tag> tags = {{256, 4, {s.w}, ""},
                             {257, 4, {s.h}, ""},
                             {258, 3, std::vector<uint32_t>(s.spp, s.bits), ""},
                             {259, 3, {1}, ""},
                             {262, 3, {static_cast<uint32_t>(s.photometric)}, ""}};
    if (s.tile) {
        tags.push_back({277, 3, {static_cast<uint32_t>(s.spp)}, ""});
        tags.push_back({322, 4, {s.tile}, ""});
        tags.push_back({323, 4, {s.tile}, ""});
        tags.push_back({324, 4, offsets, ""});
        tags.push_back({325, 4, counts, ""});
    } else {
        tags.push_back({273, 4, offsets, ""});
        tags.push_back({277, 3, {static_cast<uint32_t>(s.spp)}, ""});
        tags.push_back({278, 4, {s.rows_per_strip ? s.rows_per_strip : s.h}, ""});
        tags.push_back({279, 4, counts, ""});
    }
    if (s.colormap) {
        std::vector<uint32_t> map(3u << s.bits);
        for (size_t i = 0; i < map.size(); ++i) map[i] = static_cast<uint32_t>(i % (1u << s.bits) * 257);
        tags.push_back({320, 3, map, ""});
    }
    tags.push_back({339, 3, std::vector<uint32_t>(s.spp, s.format), ""});
    if (!s.nodata.empty()) tags.push_back({42113, 2, {}, s.nodata});
    std::sort(tags.begin(), tags.end(), [](const Tag &a, const Tag &b) { return a.tag < b.tag; });

    if (f.size() % 2) f.push_back(0);
    at(4, static_cast<uint32_t>(f.size()));
    const size_t ifd = f.size();
    const size_t data = ifd + 2 + 12 * tags.size() + 4;
    Bytes extra;  // values too long for their entry, placed after the IFD
    put(tags.size(), 2);
    for (const Tag &t : tags) {
        const size_t width = t.type == 2 ? 1 : t.type == 3 ? 2 : 4;
        const size_t count = t.type == 2 ? t.text.size() + 1 : t.v.size();
        put(t.tag, 2);
        put(t.type, 2);
        put(count, 4);
        Bytes val;
        std::swap(f, val);
        if (t.type == 2) {
            f.insert(f.end(), t.text.begin(), t.text.end());
            f.push_back(0);
        } else {
            for (uint32_t v : t.v) put(v, static_cast<int>(width));
        }
        std::swap(f, val);
        if (val.size() <= 4) {
            val.resize(4, 0);
            f.insert(f.end(), val.begin(), val.end());
        } else {
            put(data + extra.size(), 4);
            extra.insert(extra.end(), val.begin(), val.end());
            if (extra.size() % 2) extra.push_back(0);
        }
    }
    put(0, 4);  // no next IFD
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

void write_bytes(const std::string &path, const Bytes &b) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    const bool ok = b.empty() || std::fwrite(b.data(), 1, b.size(), f) == b.size();
    if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}
