// Map files as the tools see them: the 6144 × 4096 grid of colours and heights, read and written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int map_w = 6144;                                  // columns
constexpr int map_h = 4096;                                  // rows
constexpr long long map_cells = 1LL * map_w * map_h;         // 25,165,824
constexpr long long map_bytes = 3 * map_cells;               // 75,497,472

// One map in memory, row-major; colour bit 15 is unused.
struct Map {
    std::vector<uint16_t> colour;
    std::vector<int8_t> height;
    Map() : colour(map_cells), height(map_cells) {}
};

// What a file operation did: ok, or why not (naming the file).
struct Status {
    bool ok = true;
    std::string why;
    static Status fail(std::string w) { return {false, std::move(w)}; }
};

// Writes the map beside `path` under a temporary name and renames it into place, so the
// target is either the old file or the complete new one, never a part.
Status write_map(const std::string &path, const Map &m);

// Any file written the same way: fill(fd) writes the content and returns false on failure (errno set).
Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill);
Status write_file(const std::string &path, const uint8_t *data, size_t n);

// Reads a map file; `bytes` gets its size. Missing bytes of a short file are left zero.
Status read_map(const std::string &path, Map &m, long long &bytes);

// Packs one cell the way the file stores it: colour high byte, low byte, height.
inline void pack_cell(uint8_t *p, uint16_t colour, int8_t height) {
    p[0] = static_cast<uint8_t>(colour >> 8);
    p[1] = static_cast<uint8_t>(colour);
    p[2] = static_cast<uint8_t>(height);
}

// A one-line progress report on standard error, shown only when it is a terminal.
class Progress {
public:
    Progress(const char *what, long long total);
    void step(long long done);
    void done();

private:
    const char *what_;
    long long total_;
    int shown_ = -1;
    bool tty_;
};

// The nearest height level to an unquantised height, clamped to -128 … 127.
inline int8_t quantise(float z) {
    if (!(z > -128.0f)) return -128;  // also NaN, so nothing undefined reaches the cast
    if (z >= 127.0f) return 127;
    return static_cast<int8_t>(z < 0 ? -static_cast<int>(-z + 0.5f) : static_cast<int>(z + 0.5f));
}
