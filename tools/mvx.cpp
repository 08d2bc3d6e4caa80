// mvx: makes, imports, checks and previews Morvath map files.
#include "mapfile.h"
#include "relief.h"
#include "worldgen.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void die(const char *fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("mvx: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::exit(1);
}

const char usage[] =
    "usage: mvx COMMAND [OPTIONS]\n"
    "\n"
    "Makes and checks map files for the Morvath terrain viewer (6144 x 4096 cells,\n"
    "3 bytes each: 15-bit colour, signed 8-bit height; the viewer reads datas.mvx).\n"
    "\n"
    "commands:\n"
    "  generate   make the default world\n"
    "\n"
    "Run 'mvx COMMAND --help' for a command's options.\n";

const char usage_generate[] =
    "usage: mvx generate [-o FILE] [--seed N]\n"
    "\n"
    "Makes the default world: continents and coasts, river-cut mountain ranges and\n"
    "hills over the whole height range, coloured by height with the light baked in\n"
    "(from the north-west). Shows progress on standard error when it is a terminal.\n"
    "\n"
    "  -o FILE    output map (default datas.mvx); written whole or not at all\n"
    "  --seed N   world seed, a non-negative integer (default %llu)\n"
    "\n"
    "The same seed always gives the same file.\n";

bool is_help(const char *a) { return !std::strcmp(a, "--help") || !std::strcmp(a, "-h"); }

// The value after option argv[i], or die naming the option.
const char *value(int argc, char **argv, int &i) {
    if (i + 1 >= argc) die("%s needs a value", argv[i]);
    return argv[++i];
}

uint64_t parse_u64(const char *opt, const char *s) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, 10);
    if (!*s || *end || errno || *s == '-') die("%s: '%s' is not a non-negative integer", opt, s);
    return v;
}

int cmd_generate(int argc, char **argv) {
    std::string out = "datas.mvx";
    uint64_t seed = default_seed;
    for (int i = 0; i < argc; ++i) {
        if (is_help(argv[i])) {
            std::printf(usage_generate, static_cast<unsigned long long>(default_seed));
            return 0;
        } else if (!std::strcmp(argv[i], "-o")) {
            out = value(argc, argv, i);
        } else if (!std::strcmp(argv[i], "--seed")) {
            seed = parse_u64("--seed", value(argc, argv, i));
        } else {
            die("generate: unknown option '%s' (see mvx generate --help)", argv[i]);
        }
    }
    Map m;
    Progress progress("generating", 100);
    const std::vector<float> z = world_heights(map_w, map_h, seed, 0, [&](double f) { progress.step(std::lround(70 * f)); });
    colour_relief(z.data(), map_w, map_h, m.colour.data(), nullptr, 0,
                  [&](double f) { progress.step(70 + std::lround(25 * f)); });
    for (long long i = 0; i < map_cells; ++i) m.height[i] = quantise(z[i]);
    const Status st = write_map(out, m);
    if (!st.ok) die("%s", st.why.c_str());
    progress.step(100);
    progress.done();
    std::fprintf(stderr, "mvx: wrote %s (seed %llu)\n", out.c_str(), static_cast<unsigned long long>(seed));
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 1;
    }
    if (is_help(argv[1])) {
        std::fputs(usage, stdout);
        return 0;
    }
    const std::string cmd = argv[1];
    if (cmd == "generate") return cmd_generate(argc - 2, argv + 2);
    die("unknown command '%s' (see mvx --help)", argv[1]);
}
