// How the r16 fuzz target's input carries the size given with --size, shared with the seed writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Byte 0 says how the size is given: 0 not at all (a square is inferred); 1 as bytes 1 and 2
// (w, h, small sizes being the likely ones); 2 as two little-endian int32 in bytes 1 … 8
// (any size, zero and negative too). The file is what follows.
struct R16Input {
    int w = 0, h = 0;
    const uint8_t *file = nullptr;
    size_t n = 0;
};

inline R16Input split_r16(const uint8_t *d, size_t n) {
    R16Input in;
    size_t head = 1;
    const int mode = n ? d[0] % 3 : 0;
    if (mode == 1 && n >= 3) {
        in.w = d[1], in.h = d[2], head = 3;
    } else if (mode == 2 && n >= 9) {
        int32_t v[2];
        std::memcpy(v, d + 1, sizeof v);  // the fuzzer's bytes, whatever the host's byte order
        in.w = v[0], in.h = v[1], head = 9;
    }
    head = n < head ? n : head;
    in.file = d + head;
    in.n = n - head;
    return in;
}

inline std::vector<uint8_t> join_r16(int w, int h, const std::vector<uint8_t> &file) {
    std::vector<uint8_t> b;
    if (w == 0 && h == 0) b = {0};
    else if (w > 0 && w < 256 && h > 0 && h < 256) b = {1, static_cast<uint8_t>(w), static_cast<uint8_t>(h)};
    else {
        const int32_t v[2] = {w, h};
        b.resize(9, 2);
        std::memcpy(b.data() + 1, v, sizeof v);
    }
    b.insert(b.end(), file.begin(), file.end());
    return b;
}
