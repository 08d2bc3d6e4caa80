// testmap: writes a map whose colours encode position, for checking what the viewer draws where.
// Cell (x, y) has red (x / 8) % 32, green (y / 8) % 32, blue (x / 256 + y / 256) % 32 and height 0,
// so every 8 × 8 block is one flat colour and a pixel inside a block tells which block it shows.
#include "map/mapfile.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fputs("usage: testmap OUT\n", stderr);
        return 2;
    }
    Map m;
    for (long long y = 0; y < grid_rows; ++y)
        for (long long x = 0; x < grid_columns; ++x)
            m.colour[y * grid_columns + x] = static_cast<uint16_t>(((x / 8) % 32) << 10 | ((y / 8) % 32) << 5 | ((x / 256 + y / 256) % 32));
    const Status s = write_map(argv[1], m);
    if (!s.ok) {
        std::fprintf(stderr, "testmap: %s\n", s.why.c_str());
        return 1;
    }
    return 0;
}
