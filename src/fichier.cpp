// Reading files safely: open without blocking, refuse what is not a regular file or not a map, read with EINTR retried.
#include "fichier.h"

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
const char *const dossiers_noyau[] = {"/proc", "/sys", "/dev"};

// The kernel's directory the open file `fd` (named `nom`) lies in, by its file system or by its
// path after links; null when none.
const char *dossier_noyau(const char *nom, int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) == 0) {
        if (fs.f_type == PROC_SUPER_MAGIC) return "/proc";
        if (fs.f_type == SYSFS_MAGIC) return "/sys";
    }
    char *vrai = realpath(nom, nullptr);
    const std::string chemin = vrai ? vrai : "";
    std::free(vrai);
    for (const char *d : dossiers_noyau) {
        const size_t n = std::strlen(d);
        if (chemin.compare(0, n, d) == 0 && (chemin.size() == n || chemin[n] == '/')) return d;
    }
    return nullptr;
}

}  // namespace

const char *genre_fichier(mode_t m) {
    if (S_ISDIR(m)) return "a directory";
    if (S_ISFIFO(m)) return "a FIFO";
    if (S_ISCHR(m)) return "a character device";
    if (S_ISBLK(m)) return "a block device";
    if (S_ISSOCK(m)) return "a socket";
    return "not a regular file";
}

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
        raison = genre_fichier(st.st_mode);
        close(fd);
        return -2;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    taille = st.st_size;
    return fd;
}

int ouvre_carte(const char *nom, long long &taille, std::string &raison) {
    const int fd = ouvre_fichier(nom, taille, raison);
    if (fd < 0) return fd;
    if (const char *d = dossier_noyau(nom, fd)) {
        close(fd);
        raison = d;
        return -3;
    }
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
