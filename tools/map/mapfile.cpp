// Map files for the tools: packing rows into the file's cell layout, and unpacking them.
#include "map/mapfile.h"

#include "format/safe_read.h"

#include <cerrno>
#include <unistd.h>

void pack_rows(const Map &m, int y0, int y1, uint8_t *out) {
    for (long long i = 1LL * y0 * grid_columns; i < 1LL * y1 * grid_columns; ++i, out += cell_bytes)
        put_cell(out, m.colour[i], m.height[i]);
}

Status write_map(PendingFile &file, const Map &m) {
    return file.write([&](int fd) {
        std::vector<uint8_t> row(row_bytes);
        for (int y = 0; y < grid_rows; ++y) {
            pack_rows(m, y, y + 1, row.data());
            if (!write_all(fd, row.data(), row.size())) return false;
        }
        return true;
    });
}

Status write_map(const std::string &path, const Map &m) {
    PendingFile f(path);
    if (Status st = write_map(f, m); !st.ok) return st;
    return f.commit();
}

Status open_map(const std::string &path, int &fd, long long &size) {
    std::string why;
    fd = open_map_file(path.c_str(), size, why);
    if (fd == -3) return Status::at(path, "it is under " + why + ", where mvx reads nothing");
    if (fd == -2) return Status::at(path, "it is " + why + ", not a regular file");
    if (fd < 0) return Status::at(path, why);
    return {};
}

Status read_map(const std::string &path, Map &m, long long &bytes) {
    bytes = 0;
    int fd = -1;
    long long size = 0;
    if (Status st = open_map(path, fd, size); !st.ok) return st;
    std::vector<uint8_t> row(row_bytes);
    for (int y = 0; y < grid_rows; ++y) {
        const long long got = read_full(fd, row.data(), row_bytes);
        if (got < 0) {
            const int e = errno;
            close(fd);
            return Status::fail(cause(path, "cannot read", e));
        }
        const long long base = 1LL * y * grid_columns;
        for (long long c = 0; c + 2 < got; c += 3) {
            m.colour[base + c / 3] = colour_of(&row[c]);
            m.height[base + c / 3] = height_of(&row[c]);
        }
        bytes += got;
        if (got < row_bytes) break;
    }
    close(fd);
    // Count what lies beyond the grid too, so callers can tell a long file.
    if (bytes == grid_bytes && size > grid_bytes) bytes = size;
    return {};
}

Status read_whole_map(const std::string &path, Map &m) {
    long long bytes = 0;
    if (Status st = read_map(path, m, bytes); !st.ok) return st;
    if (bytes != grid_bytes)
        return Status::fail(path + ": " + std::to_string(bytes) + " bytes, not a complete map of " +
                            std::to_string(grid_bytes) + " (see mvx info)");
    return {};
}
