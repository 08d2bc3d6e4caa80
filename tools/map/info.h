// What a map file holds: completeness, heights, water, voids, the unused colour bit, and what its sidecar says.
#pragma once

#include "map/mapfile.h"
#include "map/sidecar.h"

#include <array>
#include <string>

struct MapStats {
    long long bytes = 0;                  // size of the file
    long long cells = 0;                  // whole cells present (at most grid_cells)
    int lo = 0, hi = 0;                   // height range over those cells
    std::array<long long, 256> count{};   // cells per height, index height + 128
    std::array<long long, 256> voids_at{};  // of those, voids
    long long water = 0;                  // cells below level 0, voids aside
    long long bit15 = 0;                  // cells whose colour has bit 15 set
    long long voids = 0;                  // cells without data (is_void)
    bool complete() const { return bytes == grid_bytes; }
};

// Everything `mvx info` says about a map, worked out once: the text report and the JSON object
// are two renderings of it, so they cannot disagree.
struct InfoFacts {
    std::string path;
    MapStats stats;
    std::array<long long, 16> bins{};     // cells per 16 levels, from -128 ... -113 up
    bool has_sidecar = false;
    Sidecar sidecar;
    std::string sidecar_error;            // why the sidecar beside the map could not be used
    long long sea = 0;                    // with a sidecar: cells at or below its sea level, voids aside
    double exaggeration = 0;              // with a metric scale: the viewer's exaggeration of the relief; else 0
};

struct InfoOptions {
    std::string map = "datas.mvx";
    bool json = false;
};

extern const char info_summary[];
extern const char info_usage[];

// Options as `mvx info` takes them; `help` set on --help.
Status parse_info(int argc, char **argv, InfoOptions &o, bool &help);

// The report on the map, as text or JSON; a failure when the file cannot be read or is not
// complete (the report then says what there is).
Status map_info(const InfoOptions &o, std::string &report);

// The failure, in `mvx info`'s words, for a file of `bytes` bytes that is not one whole map; ok otherwise.
Status check_complete(const std::string &path, long long bytes);

// Statistics over the cells a file of `bytes` bytes holds (read_map leaves the rest zero).
MapStats map_stats(const Map &m, long long bytes);

// The facts about a map with these statistics and, when it has one, its sidecar.
InfoFacts info_facts(const std::string &path, const MapStats &s, const Sidecar *sc = nullptr);

// The report `mvx info` prints: several lines, each ending in a newline; with the map's sidecar,
// also its source, place, scale and share of sea. Names and the sidecar's strings are escaped
// (see printable).
std::string format_info(const InfoFacts &f);

// The same facts as one JSON object (`mvx info --json`), ending in a newline; keys as info_usage lists them.
std::string info_json(const InfoFacts &f);
