// JSON for scripts to read: strings that any parser takes, numbers that are finite or null, indented objects.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A JSON string: quotes, backslashes and control characters escaped, and each byte that is not
// part of valid UTF-8 (a file name may hold any) replaced by U+FFFD.
std::string json_string(const std::string &s);

// The shortest text that reads back as the same double; null when it is not finite.
std::string json_number(double v);
std::string json_int(long long v);
inline std::string json_bool(bool b) { return b ? "true" : "false"; }
inline const char *json_null() { return "null"; }

// An object of (name, JSON text) members: one member a line, nested values indented under it,
// or all on one line when `one_line`.
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
std::string json_object(const JsonMembers &members, bool one_line = false);

// An array of JSON texts, one value a line.
std::string json_array(const std::vector<std::string> &values);
