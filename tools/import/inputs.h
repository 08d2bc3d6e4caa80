// The files an import's names stand for: files as named, directories walked, lists read a line at a time; each file once.
#pragma once

#include "common/io.h"

#include <string>
#include <vector>

// The most files one import takes, and the most lines a list may hold: far above real tile sets
// (a country's 1:25,000 sheets are a few thousand), low enough that a list without end, or a
// folder of millions, is refused early and in little memory.
constexpr long long max_inputs = 100000;

// A name GDAL resolves itself: a /vsi path or a driver's "FORMAT:..." syntax, not a plain file.
bool is_gdal_name(const std::string &name);

// Whether a file only accompanies a raster, in an archive or a directory of tiles: georeferencing,
// statistics, overviews, masks, headers, notes, checksums, maps of ours.
bool is_companion(const std::string &name);

// The files that `given` names: each file as it is, each directory as every file in it and below
// (sorted; hidden files and companions left out, entries that vanish or are links to nothing
// skipped with a note), then those listed one a line in `list` ("-": standard input; blank lines
// and # comments skipped), when `list` is not empty. The same file named twice (same device and
// inode, by any path or link) is kept once, where first named, with a note. Refused, as soon as it
// is passed: a list line longer than PATH_MAX, a list of more than `most` lines, more than `most`
// files in all (a folder's subfolders counting as files).
Status expand_inputs(const std::vector<std::string> &given, const std::string &list, std::vector<std::string> &paths,
                     std::vector<std::string> &notes, long long most = max_inputs);
