// Number formatting, name matching and escaping for the tools' messages.
#include "common/text.h"

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

size_t utf8_length(const std::string &s, size_t i) {
    const auto at = [&](size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
    const unsigned b = at(i);
    const auto cont = [&](size_t k) { return (at(k) & 0xC0) == 0x80; };
    if (b >= 0xC2 && b <= 0xDF) return cont(i + 1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        const unsigned lo = b == 0xE0 ? 0xA0 : 0x80, hi = b == 0xED ? 0x9F : 0xBF;
        return at(i + 1) >= lo && at(i + 1) <= hi && cont(i + 2) ? 3 : 0;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        const unsigned lo = b == 0xF0 ? 0x90 : 0x80, hi = b == 0xF4 ? 0x8F : 0xBF;
        return at(i + 1) >= lo && at(i + 1) <= hi && cont(i + 2) && cont(i + 3) ? 4 : 0;
    }
    return 0;
}

std::string printable(const std::string &s) {
    std::string r;
    r.reserve(s.size());
    const auto escape = [&r](unsigned char c) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02x", c);
        r += b;
    };
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const size_t n = utf8_length(s, i);
            // U+0080 ... U+009F, the C1 controls: some terminals take U+009B for an escape sequence.
            const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0;
            if (n && !c1) {
                r.append(s, i, n);
                i += n;
            } else {
                escape(c);  // of a C1 control, its second byte is then a continuation byte alone
                ++i;
            }
            continue;
        }
        ++i;
        if (c == '\n') r += "\\n";
        else if (c == '\r') r += "\\r";
        else if (c == '\t') r += "\\t";
        else if (c < 0x20 || c == 0x7f) escape(c);
        else r += static_cast<char>(c);
    }
    return r;
}
