// Checks of a file named as an input before GDAL sees it: a regular file, and no network source in its text.
#include "gate.h"

#include "fichier.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

Status check_plain_input(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return Status::fail(cause(path, "cannot open", errno));
    if (S_ISDIR(st.st_mode)) return {};
    // What it is, before an open that the reader's confinement may refuse.
    if (!S_ISREG(st.st_mode)) return Status::at(path, std::string("it is ") + genre_fichier(st.st_mode) + ", not a regular file");
    long long size = 0;
    std::string why;
    const int fd = ouvre_fichier(path.c_str(), size, why);
    if (fd == -2) return Status::at(path, "it is " + why + ", not a regular file");
    if (fd < 0) return Status::at(path, why);
    close(fd);
    return {};
}

Status check_references(const std::string &path) {
    int fd = -1;
    long long size = 0;
    if (!open_input(path, fd, size).ok) return {};
    // The head first: a binary file (most rasters, and large) is not read further. What such a
    // format names, the gate sees as GDAL opens it.
    std::string text(static_cast<size_t>(std::min(size, 4096LL)), '\0');
    bool binary = lit_plein(fd, text.data(), static_cast<long long>(text.size())) != static_cast<long long>(text.size()) ||
                  text.find('\0') != std::string::npos || size > (64LL << 20);
    if (!binary && size > static_cast<long long>(text.size())) {
        const size_t head = text.size();
        text.resize(static_cast<size_t>(size));
        binary = lit_plein(fd, text.data() + head, size - static_cast<long long>(head)) != size - static_cast<long long>(head);
    }
    close(fd);
    if (binary) return {};
    for (size_t from = 0; from < text.size();) {
        const size_t to = std::min(text.find_first_of(" \t\r\n<>\"'", from), text.size());
        const std::string_view word(text.data() + from, to - from);
        if ((word.find("://") != std::string_view::npos || word.find("/vsi") != std::string_view::npos) &&
            is_network_name(std::string(word)))
            return Status::at(path, "refers to a network source (" + std::string(word.substr(0, 120)) +
                                  "); mvx reads local files only: download it first");
        from = to + 1;
    }
    return {};
}
