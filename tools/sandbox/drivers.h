// The GDAL drivers mvx registers: those that read elevation data and imagery, and nothing else.
#pragma once

#include <string>

// Registers GDAL's drivers, then takes away every one not in the table of readers (plugins too):
// a file in another format is then one GDAL does not recognise. Not thread-safe; once, before
// GDAL opens anything (gdal_setup does it).
void register_readers();

// Whether `driver` (GDAL's short name, "GTiff") is one of mvx's readers.
bool is_reader(const std::string &driver);

// The readers for `mvx help import`: a line saying what they are, then one line each, indented
// by two spaces, "  NAME  what it reads".
std::string readers_help();
