// mvx generate: options, then the world's heights coloured and quantised into a map.
#include "world/generate.h"

#include "common/cli.h"
#include "common/parallel.h"
#include "map/levels.h"
#include "world/relief.h"

#include <cmath>

const char generate_summary[] = "make the default world";

const char *generate_usage() {
    static const std::string u =
        "usage: mvx generate [-o FILE] [--seed N] [-q]\n"
        "\n"
        "Makes the default world: continents and coasts, river-cut mountain ranges and\n"
        "hills over the whole height range, coloured by height with the light baked in\n"
        "(from the north-west). Shows progress on standard error when it is a terminal.\n"
        "\n"
        "  -o FILE      output map (default datas.mvx); written whole or not at all,\n"
        "               never over a directory, a device or a file that is not a map\n"
        "               (neither empty nor 75,497,472 bytes); a symlink given as FILE\n"
        "               is written through, but a default datas.mvx or a FILE.json\n"
        "               that is a symlink is refused; a replaced file keeps its mode\n"
        "  --seed N     world seed, a whole number from 0 to 2^64 - 1 (default " +
        std::to_string(default_seed) +
        ")\n"
        "  -q, --quiet  nothing on standard output or error unless it fails: no\n"
        "               progress, no summary\n"
        "\n"
        "The same seed always gives the same file.\n";
    return u.c_str();
}

Status parse_generate(int argc, char **argv, GenerateOptions &o, bool &help) {
    const std::vector<Option> options = {
        {"-o", true, [&](const char *v) { o.out = v, o.out_links = Links::follow; return Status{}; }},
        {"--seed", true, [&](const char *v) { return parse_u64("--seed", v, o.seed); }},
        quiet_option(o.quiet),
    };
    return parse_options("generate", argc, argv, options, [](const char *a) {
        return Status::fail(std::string("generate: unexpected argument '") + a + "' (see mvx generate --help)");
    }, help);
}

void generate_map(const GenerateOptions &o, Map &m, Sidecar &sc, const std::function<void(double)> &progress) {
    auto report = [&](double f) {
        if (progress) progress(f);
    };
    const std::vector<float> z = world_heights(grid_columns, grid_rows, o.seed, 0, [&](double f) { report(0.7 * f); });
    colour_relief(z.data(), grid_columns, grid_rows, m.colour.data(), nullptr, {}, 0, [&](double f) { report(0.7 + 0.25 * f); });
    parallel_rows(grid_rows, [&](int y0, int y1) {
        for (long long i = 1LL * y0 * grid_columns; i < 1LL * y1 * grid_columns; ++i) m.height[i] = quantise(z[i]);
    });
    sc = Sidecar{};
    sc.written_by = "mvx generate";
    sc.sources = {"the default world, seed " + std::to_string(o.seed)};
    sc.box_w = grid_columns, sc.box_h = grid_rows;
    sc.cell_x = sc.cell_y = world_metres_per_cell;
    sc.nominal = true;
    sc.metres = true;
    sc.per_level_below = sc.per_level_above = world_metres_per_level;
    sc.height_at_m1 = -world_metres_per_level;
    sc.sea_level = -world_metres_per_level / 2;  // water is below level 0
    report(0.95);
}
