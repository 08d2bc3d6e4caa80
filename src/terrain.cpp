// Terrain grid: loads the map file once and samples cells for the renderer.
#include "src/terrain.h"

#include "format/safe_read.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

const char *const map_file_name = "datas.mvx";  // the map, looked up in the working directory
unsigned char data3d[grid_bytes];  // the grid, row-major, 3 bytes a cell; zero until loaded, so missing rows show black

namespace {

load_result failed(const char *name, const std::string &cause) {
    return {load_failed, 0, std::string(name) + ": " + cause};
}

}  // namespace

load_result charge_terrain(const char *name) {
    long long size = 0;
    std::string reason;
    const int fd = open_map_file(name, size, reason);
    if (fd == -2) return failed(name, "cannot load: it is " + reason + ", not a map file");
    if (fd == -3) return failed(name, "cannot load: it is under " + reason + ", not a map file");
    if (fd < 0) return failed(name, reason);

    // One row at a time, straight into place; a short file stops early and leaves the rest zero.
    long long bytes_read = 0;
    for (int r = 0; r < grid_rows; ++r) {
        const long long got = read_full(fd, data3d + r * row_bytes, row_bytes);
        if (got < 0) {
            const int e = errno;
            close(fd);
            return failed(name, std::string("cannot read: ") + std::strerror(e));
        }
        bytes_read += got;
        if (got < row_bytes) break;
    }
    close(fd);
    if (bytes_read < grid_bytes) {
        std::memset(data3d + bytes_read, 0, static_cast<size_t>(grid_bytes - bytes_read));
        return {load_short, bytes_read,
                std::string(name) + ": short map: " + std::to_string(bytes_read) + " of " +
                    std::to_string(grid_bytes) + " bytes read; the rest shows black at height 0"};
    }
    return {load_ok, bytes_read, ""};
}

map_cell lit_cellule(long long x, long long y) {
    // Callers keep x, y >= 0 and below about 2^40, so this cannot overflow in 64 bits.
    long long o = 3 * (y * grid_columns + x);
    if (o < 0 || o + 2 >= grid_bytes) return {0, 0};
    return {colour_of(data3d + o), height_of(data3d + o)};
}
