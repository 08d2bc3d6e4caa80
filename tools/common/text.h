// Numbers and names as the tools write them in messages and in arguments to GDAL.
#pragma once

#include <string>

// A number with at most `digits` significant digits (17 keeps every bit of a double).
std::string number(double v, int digits = 6);

// part / whole as "12.3%".
std::string percent(long long part, long long whole);

// 75497472 as "75,497,472".
std::string grouped(long long v);

// Whether `s` ends with `tail`, case aside (".TIF" ends with ".tif").
bool ends_with(const std::string &s, const char *tail);
