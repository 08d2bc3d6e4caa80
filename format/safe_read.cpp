// Reading files safely: open without blocking, refuse what is not a regular file or not a map, read with EINTR retried.
#include "format/safe_read.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// Where the kernel shows processes, devices and itself.
const char *const kernel_dirs[] = {"/proc", "/sys", "/dev"};

// The kernel's directory the open file `fd` (named `name`) lies in, by its file system or by its
// path after links; null when none.
const char *kernel_dir(const char *name, int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) == 0) {
        if (fs.f_type == PROC_SUPER_MAGIC) return "/proc";
        if (fs.f_type == SYSFS_MAGIC) return "/sys";
    }
    char *real = realpath(name, nullptr);
    const std::string path = real ? real : "";
    std::free(real);
    for (const char *d : kernel_dirs) {
        const size_t n = std::strlen(d);
        if (path.compare(0, n, d) == 0 && (path.size() == n || path[n] == '/')) return d;
    }
    return nullptr;
}

}  // namespace

const char *file_kind(mode_t m) {
    if (S_ISDIR(m)) return "a directory";
    if (S_ISFIFO(m)) return "a FIFO";
    if (S_ISCHR(m)) return "a character device";
    if (S_ISBLK(m)) return "a block device";
    if (S_ISSOCK(m)) return "a socket";
    return "not a regular file";
}

int open_regular(const char *name, long long &size, std::string &reason) {
    // O_NONBLOCK so that opening a FIFO with no writer returns at once; it is refused below anyway.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = file_kind(st.st_mode);
        close(fd);
        return -2;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    size = st.st_size;
    return fd;
}

int open_map_file(const char *name, long long &size, std::string &reason) {
    const int fd = open_regular(name, size, reason);
    if (fd < 0) return fd;
    if (const char *d = kernel_dir(name, fd)) {
        close(fd);
        reason = d;
        return -3;
    }
    return fd;
}

long long read_full(int fd, void *dest, long long n) {
    char *p = static_cast<char *>(dest);
    long long got = 0;
    while (got < n) {
        const ssize_t k = read(fd, p + got, static_cast<size_t>(n - got));
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) return -1;
        if (k == 0) break;
        got += k;
    }
    return got;
}
