// mvx generate: the default world as a map, coloured with its light baked in.
#pragma once

#include "mapfile.h"
#include "worldgen.h"

#include <string>
#include <vector>

struct GenerateOptions {
    std::string out = "datas.mvx";
    uint64_t seed = default_seed;
};

extern const char generate_summary[];
const char *generate_usage();

// Options as `mvx generate` takes them; `help` set on --help.
Status parse_generate(int argc, char **argv, GenerateOptions &o, bool &help);

// The whole map for the seed: heights, tints and baked light. `progress` gets the fraction done.
void generate_map(const GenerateOptions &o, Map &m, const std::function<void(double)> &progress = {});
