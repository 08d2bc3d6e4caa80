// What an operation did: ok, or one line saying why not, naming the file; and the one errno translation.
#pragma once

#include <cstring>
#include <string>
#include <utility>

struct Status {
    bool ok = true;
    std::string why;
    static Status fail(std::string w) { return {false, std::move(w)}; }
    // "name: what", the form of every failure about a file or an option.
    static Status at(const std::string &name, const std::string &what) { return fail(name + ": " + what); }
};

// "path: what: <strerror(e)>", the form of every failure that has an errno.
inline std::string cause(const std::string &path, const char *what, int e) {
    return path + ": " + what + ": " + std::strerror(e);
}
