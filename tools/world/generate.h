// mvx generate: the default world as a map, coloured with its light baked in.
#pragma once

#include "map/mapfile.h"
#include "map/sidecar.h"
#include "world/worldgen.h"

#include <string>
#include <vector>

struct GenerateOptions {
    std::string out = "datas.mvx";
    Links out_links = Links::refuse;   // -o follows: a link the user names is written through
    uint64_t seed = default_seed;
    bool quiet = false;  // nothing printed unless it fails
};

extern const char generate_summary[];
const char *generate_usage();

// Options as `mvx generate` takes them; `help` set on --help.
Status parse_generate(int argc, char **argv, GenerateOptions &o, bool &help);

// The world's nominal scale: it stands for no real place, so its cells and levels are given the
// sizes at which the viewer shows it unexaggerated (a level is a third of a cell's width).
constexpr double world_metres_per_cell = 90, world_metres_per_level = 30;

// The whole map for the seed: heights, tints and baked light, and its sidecar. `progress` gets
// the fraction done.
void generate_map(const GenerateOptions &o, Map &m, Sidecar &sc, const std::function<void(double)> &progress = {});
