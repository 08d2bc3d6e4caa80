// Map files for the tools: atomic writing, whole-file reading and the progress line.
#include "mapfile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string err(const std::string &path, const char *what, int e) {
    return path + ": " + what + ": " + std::strerror(e);
}

// The temporary file being written, removed if we are interrupted so no stray partial file stays behind.
char pending[4096];

void drop_pending(int sig) {
    if (pending[0]) unlink(pending);
    signal(sig, SIG_DFL);
    raise(sig);
}

bool write_all(int fd, const uint8_t *p, size_t n) {
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k == 0) errno = ENOSPC;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

}  // namespace

Status write_atomic(const std::string &path, const std::function<bool(int fd)> &fill) {
    std::string tmp = path + ".tmp.XXXXXX";
    if (tmp.size() >= sizeof pending) return Status::fail(path + ": path too long");
    int fd = mkstemp(tmp.data());
    if (fd < 0) return Status::fail(err(path, "cannot create a temporary file beside it", errno));
    std::memcpy(pending, tmp.c_str(), tmp.size() + 1);
    auto old_int = signal(SIGINT, drop_pending);
    auto old_term = signal(SIGTERM, drop_pending);
    auto old_hup = signal(SIGHUP, drop_pending);
    auto restore = [&] {
        pending[0] = 0;
        signal(SIGINT, old_int);
        signal(SIGTERM, old_term);
        signal(SIGHUP, old_hup);
    };
    auto fail = [&](const char *what, int e) {
        close(fd);
        unlink(tmp.c_str());
        restore();
        return Status::fail(err(path, what, e));
    };

    if (!fill(fd)) return fail("cannot write", errno);
    // Readable like any file the user creates; mkstemp makes it private.
    mode_t um = umask(0);
    umask(um);
    if (fchmod(fd, 0666 & ~um) != 0) return fail("cannot set permissions", errno);
    if (fsync(fd) != 0) return fail("cannot write", errno);
    if (close(fd) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        restore();
        return Status::fail(err(path, "cannot write", e));
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        unlink(tmp.c_str());
        restore();
        return Status::fail(err(path, "cannot replace", e));
    }
    restore();
    return {};
}

Status write_map(const std::string &path, const Map &m) {
    return write_atomic(path, [&](int fd) {
        std::vector<uint8_t> row(3 * map_w);
        for (int y = 0; y < map_h; ++y) {
            const long long base = 1LL * y * map_w;
            for (int x = 0; x < map_w; ++x) pack_cell(&row[3 * x], m.colour[base + x], m.height[base + x]);
            if (!write_all(fd, row.data(), row.size())) return false;
        }
        return true;
    });
}

Status write_file(const std::string &path, const uint8_t *data, size_t n) {
    return write_atomic(path, [&](int fd) { return write_all(fd, data, n); });
}

Status read_map(const std::string &path, Map &m, long long &bytes) {
    bytes = 0;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Status::fail(err(path, "cannot open", errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return Status::fail(path + ": not a regular file");
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::vector<uint8_t> row(3 * map_w);
    for (int y = 0; y < map_h; ++y) {
        size_t got = 0;
        while (got < row.size()) {
            ssize_t k = read(fd, row.data() + got, row.size() - got);
            if (k < 0 && errno == EINTR) continue;
            if (k < 0) {
                int e = errno;
                close(fd);
                return Status::fail(err(path, "cannot read", e));
            }
            if (k == 0) break;
            got += static_cast<size_t>(k);
        }
        const long long base = 1LL * y * map_w;
        for (size_t c = 0; c + 2 < got; c += 3) {
            m.colour[base + c / 3] = static_cast<uint16_t>(row[c] << 8 | row[c + 1]);
            m.height[base + c / 3] = static_cast<int8_t>(row[c + 2]);
        }
        bytes += static_cast<long long>(got);
        if (got < row.size()) break;
    }
    // Count what lies beyond the grid too, so callers can tell a long file.
    if (bytes == map_bytes && st.st_size > map_bytes) bytes = st.st_size;
    close(fd);
    return {};
}

Progress::Progress(const char *what, long long total) : what_(what), total_(total), tty_(isatty(2)) {}

void Progress::step(long long done) {
    if (!tty_ || total_ <= 0) return;
    int pc = static_cast<int>(100 * done / total_);
    if (pc == shown_) return;
    shown_ = pc;
    std::fprintf(stderr, "\r%s: %3d%%", what_, pc);
    std::fflush(stderr);
}

void Progress::done() {
    if (tty_ && shown_ >= 0) std::fprintf(stderr, "\r%s: done\n", what_);
}
