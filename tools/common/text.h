// Numbers and names as the tools write them in messages and in arguments to GDAL, made safe for a terminal.
#pragma once

#include <cstddef>
#include <string>

// A number with at most `digits` significant digits (17 keeps every bit of a double).
std::string number(double v, int digits = 6);

// part / whole as "12.3%".
std::string percent(long long part, long long whole);

// 75497472 as "75,497,472".
std::string grouped(long long v);

// Whether `s` ends with `tail`, case aside (".TIF" ends with ".tif").
bool ends_with(const std::string &s, const char *tail);

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one (overlong forms,
// surrogates and code points past U+10FFFF included).
size_t utf8_length(const std::string &s, size_t i);

// `s` as a terminal may show it: control characters (bytes below 0x20, 0x7f, and U+0080 ... U+009F)
// and bytes that are not UTF-8 written as \n, \r, \t or \xNN, so that a name cannot move the
// cursor, start an escape sequence or forge a line; valid UTF-8 kept as it is.
std::string printable(const std::string &s);
