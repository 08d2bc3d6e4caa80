// Number formatting and name matching for the tools' messages.
#include "text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

std::string number(double v, int digits) {
    char b[40];
    std::snprintf(b, sizeof b, "%.*g", digits, v);
    return b;
}

std::string percent(long long part, long long whole) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f%%", whole ? 100.0 * part / whole : 0.0);
    return b;
}

std::string grouped(long long v) {
    std::string s = std::to_string(v);
    for (int i = static_cast<int>(s.size()) - 3; i > (s[0] == '-' ? 1 : 0); i -= 3) s.insert(static_cast<size_t>(i), ",");
    return s;
}

bool ends_with(const std::string &s, const char *tail) {
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != std::tolower(static_cast<unsigned char>(tail[i])))
            return false;
    return true;
}
