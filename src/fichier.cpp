// Reading files safely: open without blocking, refuse what is not a regular file, read with EINTR retried.
#include "fichier.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *genre(mode_t m) {
    if (S_ISDIR(m)) return "a directory";
    if (S_ISFIFO(m)) return "a FIFO";
    if (S_ISCHR(m)) return "a character device";
    if (S_ISBLK(m)) return "a block device";
    if (S_ISSOCK(m)) return "a socket";
    return "not a regular file";
}

}  // namespace

const char *genre_fichier(unsigned mode) { return genre(static_cast<mode_t>(mode)); }

int ouvre_fichier(const char *nom, long long &taille, std::string &raison) {
    // O_NONBLOCK so that opening a FIFO with no writer returns at once; it is refused below anyway.
    const int fd = open(nom, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        raison = std::string("cannot open: ") + std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        raison = std::string("cannot open: ") + std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        raison = genre(st.st_mode);
        close(fd);
        return -2;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    taille = st.st_size;
    return fd;
}

long long lit_plein(int fd, void *dest, long long n) {
    char *p = static_cast<char *>(dest);
    long long pris = 0;
    while (pris < n) {
        const ssize_t k = read(fd, p + pris, static_cast<size_t>(n - pris));
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) return -1;
        if (k == 0) break;
        pris += k;
    }
    return pris;
}
