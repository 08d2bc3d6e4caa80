// Writing JSON: escaping into valid UTF-8, round-trip numbers, indentation.
#include "common/json.h"

#include "common/text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Every line after the first indented by two more spaces, so that a nested value lines up under its member.
std::string indented(const std::string &v) {
    std::string r;
    for (char c : v) {
        r += c;
        if (c == '\n') r += "  ";
    }
    return r;
}

}  // namespace

std::string json_string(const std::string &s) {
    std::string r = "\"";
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            const size_t n = utf8_length(s, i);
            r += n ? s.substr(i, n) : "\xEF\xBF\xBD";
            i += n ? n : 1;
            continue;
        }
        ++i;
        switch (c) {
        case '"': r += "\\\""; break;
        case '\\': r += "\\\\"; break;
        case '\n': r += "\\n"; break;
        case '\t': r += "\\t"; break;
        case '\r': r += "\\r"; break;
        case '\b': r += "\\b"; break;
        case '\f': r += "\\f"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                r += b;
            } else {
                r += static_cast<char>(c);
            }
        }
    }
    return r + "\"";
}

std::string json_number(double v) {
    if (!std::isfinite(v)) return json_null();
    char b[40];
    // Whole numbers as such: %g would write 90 as 9e+01.
    if (v == std::floor(v) && std::fabs(v) < 1e15) {
        std::snprintf(b, sizeof b, "%.0f", v);
        return b;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(b, sizeof b, "%.*g", digits, v);
        if (std::strtod(b, nullptr) == v) break;
    }
    return b;
}

std::string json_int(long long v) { return std::to_string(v); }

std::string json_object(const JsonMembers &members, bool one_line) {
    if (members.empty()) return "{}";
    std::string r = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        r += i ? "," : "";
        r += one_line ? (i ? " " : "") : "\n  ";
        r += json_string(members[i].first) + ": " + (one_line ? members[i].second : indented(members[i].second));
    }
    return r + (one_line ? "}" : "\n}");
}

std::string json_array(const std::vector<std::string> &values) {
    if (values.empty()) return "[]";
    std::string r = "[";
    for (size_t i = 0; i < values.size(); ++i) r += (i ? ",\n  " : "\n  ") + indented(values[i]);
    return r + "\n]";
}
