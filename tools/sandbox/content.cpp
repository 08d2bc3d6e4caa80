// What a file's headers say its decoder would take: checks of PNG, TIFF, GIF, WebP, BMP and HDF5, bounded.
#include "sandbox/gate_rules.h"

#include "common/text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace {

// A PNG decoder allocates a chunk's whole stated length before reading it, but for the image data
// it streams: any other chunk larger than this, or running past the file's end, is refused.
constexpr long long max_png_chunk = 16LL << 20;

// GDAL reads every directory of a TIFF as it opens it (each an image, an overview or a mask), and
// libtiff remembers each it has seen: a chain longer than any real file's is refused.
constexpr long long max_tiff_directories = 4096;

// GDAL's GIF reader decodes every frame of the file as it opens it.
constexpr long long max_gif_frames = 4096;

bool read_at(VSIVirtualHandle &h, long long at, void *to, size_t n) {
    return at >= 0 && h.Seek(static_cast<vsi_l_offset>(at), SEEK_SET) == 0 && h.Read(to, 1, n) == n;
}

unsigned long long number_at(const unsigned char *p, int bytes, bool little) {
    unsigned long long v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<unsigned long long>(p[little ? i : bytes - 1 - i]) << (8 * i);
    return v;
}

std::string too_large(const char *what, long long w, long long h, long long bytes) {
    return std::string(what) + " of " + grouped(w) + " x " + grouped(h) + " pixels, decoded whole into " + grouped(bytes) +
           " bytes, more than the " + grouped(max_decode_bytes >> 20) + " MiB mvx decodes at once";
}

// A PNG's chunks other than image data, from their headers alone: each must end within the file
// and be of a size worth reading. A file cut short in its image data is left to the decoder,
// which says in which row.
Refusal vet_png(VSIVirtualHandle &h, const std::string &name, long long size) {
    for (long long at = 8; at + 12 <= size;) {
        unsigned char b[8];
        if (!read_at(h, at, b, 8)) return {};
        const long long length = static_cast<long long>(number_at(b, 4, false));
        const std::string type(reinterpret_cast<const char *>(b + 4), 4);
        // A type of other than four letters is the decoder's to refuse, before it allocates.
        if (type == "IEND" || !std::all_of(type.begin(), type.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
            break;
        if (type != "IDAT") {
            const std::string what = "a PNG whose " + type + " chunk at byte " + grouped(at) + " claims " + grouped(length) + " bytes";
            if (at + 12 + length > size) return {name, what + ", past the end of the file (" + grouped(size) + " bytes)"};
            if (length > max_png_chunk) return {name, what + ", more than mvx reads"};
        }
        at += 12 + length;
    }
    return {};
}

// A TIFF's chain of directories, from each one's count of entries and link to the next.
Refusal vet_tiff(VSIVirtualHandle &h, const std::string &name, long long size, const unsigned char *head) {
    const bool little = head[0] == 'I', big = number_at(head + 2, 2, little) == 43;
    const int count_bytes = big ? 8 : 2, entry_bytes = big ? 20 : 12, link_bytes = big ? 8 : 4;
    unsigned long long at = big ? number_at(head + 8, 8, little) : number_at(head + 4, 4, little);
    std::set<unsigned long long> seen;
    for (long long n = 0; at > 0 && at < static_cast<unsigned long long>(size) && seen.insert(at).second; ++n) {
        if (n == max_tiff_directories)
            return {name, "a TIFF of more than " + grouped(max_tiff_directories) + " directories, more than mvx opens"};
        unsigned char b[8];
        if (!read_at(h, static_cast<long long>(at), b, count_bytes)) break;
        const unsigned long long entries = number_at(b, count_bytes, little);
        if (entries > static_cast<unsigned long long>(size) / entry_bytes) break;  // libtiff refuses it
        if (!read_at(h, static_cast<long long>(at + count_bytes + entries * entry_bytes), b, link_bytes)) break;
        at = number_at(b, link_bytes, little);
    }
    return {};
}

// Reads a run of GIF sub-blocks (a length byte, then that many bytes) up to its empty one.
bool skip_sub_blocks(VSIVirtualHandle &h) {
    unsigned char length = 0, skipped[255];
    while (h.Read(&length, 1, 1) == 1) {
        if (length == 0) return true;
        if (h.Read(skipped, 1, length) != length) return false;
    }
    return false;
}

// A GIF's frames, from their descriptors: GDAL's reader holds every one decoded at once.
Refusal vet_gif(VSIVirtualHandle &h, const std::string &name, const unsigned char *head) {
    long long at = 13;
    if (head[10] & 0x80) at += 3LL << ((head[10] & 7) + 1);  // the global colour table
    if (h.Seek(static_cast<vsi_l_offset>(at), SEEK_SET) != 0) return {};
    long long frames = 0, bytes = 0;
    unsigned char b[10];
    while (h.Read(b, 1, 1) == 1) {
        if (b[0] == 0x21) {  // an extension: its label, then sub-blocks
            if (h.Read(b, 1, 1) != 1 || !skip_sub_blocks(h)) break;
        } else if (b[0] == 0x2c) {  // an image: its descriptor, colour table, code size, sub-blocks
            if (h.Read(b, 1, 9) != 9) break;
            const long long w = static_cast<long long>(number_at(b + 4, 2, true)), hh = static_cast<long long>(number_at(b + 6, 2, true));
            bytes += w * hh;
            if (++frames > max_gif_frames) return {name, "a GIF of more than " + grouped(max_gif_frames) + " frames, more than mvx decodes"};
            if (bytes > max_decode_bytes)
                return {name, "a GIF whose " + grouped(frames) + (frames == 1 ? " frame decodes" : " frames decode") + " into " +
                                  grouped(bytes) + " bytes at once, more than the " + grouped(max_decode_bytes >> 20) +
                                  " MiB mvx decodes at once"};
            const long long table = b[8] & 0x80 ? 3LL << ((b[8] & 7) + 1) : 0;
            if (h.Seek(h.Tell() + static_cast<vsi_l_offset>(table + 1), SEEK_SET) != 0 || !skip_sub_blocks(h)) break;
        } else {
            break;  // the trailer, or what the decoder refuses
        }
    }
    return {};
}

// A WebP's canvas, from its first chunk: GDAL's reader decodes the whole image at once.
Refusal vet_webp(const std::string &name, const unsigned char *head, size_t n) {
    if (n < 30) return {};
    const unsigned char *data = head + 20;
    long long w = 0, h = 0;
    int bands = 3;
    if (!std::memcmp(head + 12, "VP8 ", 4) && data[3] == 0x9d && data[4] == 0x01 && data[5] == 0x2a) {
        w = number_at(data + 6, 2, true) & 0x3fff, h = number_at(data + 8, 2, true) & 0x3fff;
    } else if (!std::memcmp(head + 12, "VP8L", 4) && data[0] == 0x2f) {
        const unsigned long long bits = number_at(data + 1, 4, true);
        w = static_cast<long long>(bits & 0x3fff) + 1, h = static_cast<long long>((bits >> 14) & 0x3fff) + 1;
        if (bits >> 28 & 1) bands = 4;
    } else if (!std::memcmp(head + 12, "VP8X", 4)) {
        w = static_cast<long long>(number_at(data + 4, 3, true)) + 1, h = static_cast<long long>(number_at(data + 7, 3, true)) + 1;
        if (data[0] & 0x10) bands = 4;
    }
    if (w * h * bands > max_decode_bytes) return {name, too_large("a WebP image", w, h, w * h * bands)};
    return {};
}

// A BMP compressed by run lengths, which GDAL's reader expands whole, one byte a pixel.
Refusal vet_bmp(const std::string &name, const unsigned char *head, size_t n) {
    if (n < 34 || number_at(head + 14, 4, true) < 40) return {};
    const unsigned long long compression = number_at(head + 30, 4, true);
    if (compression != 1 && compression != 2) return {};
    const auto side = [&](int at) { return std::llabs(static_cast<int32_t>(number_at(head + at, 4, true))); };
    const long long w = side(18), h = side(22);
    if (w * h > max_decode_bytes) return {name, too_large("a run-length compressed BMP", w, h, w * h)};
    return {};
}

const unsigned char hdf5_signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};

}  // namespace

Refusal vet_image(VSIVirtualHandle &h, const std::string &name, long long size, const unsigned char *head, size_t n) {
    if (n >= 8 && !std::memcmp(head, "\x89PNG\r\n\x1a\n", 8)) return vet_png(h, name, size);
    if (n >= 16 && (!std::memcmp(head, "II*\0", 4) || !std::memcmp(head, "MM\0*", 4) || !std::memcmp(head, "II+\0", 4) ||
                    !std::memcmp(head, "MM\0+", 4)))
        return vet_tiff(h, name, size, head);
    if (n >= 13 && (!std::memcmp(head, "GIF87a", 6) || !std::memcmp(head, "GIF89a", 6))) return vet_gif(h, name, head);
    if (n >= 12 && !std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "WEBP", 4)) return vet_webp(name, head, n);
    if (n >= 2 && !std::memcmp(head, "BM", 2)) return vet_bmp(name, head, n);
    return {};
}

bool is_hdf5(VSIVirtualHandle &h, long long size, const unsigned char *head, size_t n, bool deep) {
    for (long long at = 0; at + 8 <= size; at = at ? 2 * at : 512) {
        if (at + 8 <= static_cast<long long>(n)) {
            if (!std::memcmp(head + at, hdf5_signature, 8)) return true;
            continue;
        }
        if (!deep) return false;
        unsigned char b[8];
        if (!read_at(h, at, b, 8)) return false;
        if (!std::memcmp(b, hdf5_signature, 8)) return true;
    }
    return false;
}
