// The report an import gives: the input and its range, how it was placed, the scale, sea and voids, and the way to the data.
#pragma once

#include "import/import.h"
#include "map/levels.h"
#include "map/sidecar.h"

#include <atomic>
#include <string>
#include <vector>

// The map's cells that are sea, void, or clamped at the ends of the level range.
struct LevelCounts {
    std::atomic<long long> sea{0}, voids{0}, clamped{0};
};

// The summary: the input and its range, how it was placed, the scale, sea and voids, and how to
// find the data from the viewer's first view; appended to `notes`.
void report_import(const ImportOptions &o, const Heights &h, const LevelScale &scale, const Sidecar &sc,
                   const LevelCounts &n, std::vector<std::string> &notes);

// Where the viewer's first view lies against the data, and what to press to reach it; empty when
// it shows some data.
std::string first_view_hint(const Field &f);
