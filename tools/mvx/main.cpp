// mvx: makes, imports, checks and previews Morvath map files; each command parses, calls its module, reports.
#include "common/cli.h"
#include "common/edit_distance.h"
#include "common/progress.h"
#include "common/text.h"
#include "import/confined.h"
#include "import/import.h"
#include "map/export.h"
#include "map/info.h"
#include "sandbox/drivers.h"
#include "sandbox/syscalls.h"
#include "view/launch.h"
#include "world/generate.h"

#include <cpl_error.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// One line of a command's summary on standard error; names in it escaped, as they are strangers' bytes.
void say(const std::string &line) { std::fprintf(stderr, "mvx: %s\n", printable(line).c_str()); }

// What a command's run function does: parse into its options, call its module, map the result to an exit code.
template <class Options, class Parse, class Usage>
bool parsed(int argc, char **argv, Options &o, Parse parse, Usage usage) {
    bool help = false;
    if (Status st = parse(argc, argv, o, help); !st.ok) die(st);
    if (help) std::fputs(usage(), stdout);
    return !help;
}

int run_generate(int argc, char **argv) {
    GenerateOptions o;
    if (!parsed(argc, argv, o, parse_generate, generate_usage)) return 0;
    if (Status st = check_map_output(o.out, {}, o.out_links); !st.ok) die(st);
    Map m;
    Sidecar sc;
    Progress progress("generating", 100, o.quiet);
    generate_map(o, m, sc, [&](double f) { progress.step(std::lround(100 * f)); });
    if (Status st = save_map(o.out, m, sc, o.out_links); !st.ok) die(st);
    progress.step(100);
    progress.done();
    if (!o.quiet) say("wrote " + o.out + " and its sidecar " + sidecar_path(o.out) + " (seed " + std::to_string(o.seed) + ")");
    return 0;
}

// The import's options, then the formats it reads, from the one table of them.
const char *import_help() {
    static const std::string help = import_usage + ("\n" + readers_help());
    return help.c_str();
}

int run_import(int argc, char **argv) {
    ImportOptions o;
    if (!parsed(argc, argv, o, parse_import, import_help)) return 0;
    if (Status st = check_map_output(o.out, import_inputs(o), o.out_links); !st.ok) die(st);
    std::vector<std::string> notes;
    Progress progress("importing", 100, o.quiet);
    // On failure the one line that says why is all the user sees.
    if (Status st = import_and_save(o, notes, [&](double f) { progress.step(std::lround(95 * f)); }); !st.ok) die(st);
    progress.step(100);
    progress.done();
    if (o.quiet) return 0;
    for (const std::string &n : notes) say(n);
    say("wrote " + o.out + " and its sidecar " + sidecar_path(o.out));
    return 0;
}

int run_export(int argc, char **argv) {
    ExportOptions o;
    if (!parsed(argc, argv, o, parse_export, [] { return export_usage; })) return 0;
    if (Status st = check_output(o.out, export_inputs(o)); !st.ok) die(st);
    std::string done;
    if (Status st = export_map(o, done); !st.ok) die(st);
    if (!o.quiet) say(done);
    return 0;
}

int run_info(int argc, char **argv) {
    InfoOptions o;
    if (!parsed(argc, argv, o, parse_info, [] { return info_usage; })) return 0;
    std::string report;
    const Status st = map_info(o, report);
    // An incomplete map still gets its report, before the line that says what is wrong.
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    if (!st.ok) die(st);
    return 0;
}

int run_view(int argc, char **argv) {
    ViewOptions o;
    if (!parsed(argc, argv, o, parse_view, [] { return view_usage; })) return 0;
    int status = 0;
    if (Status st = view_map(o, status); !st.ok) die(st);
    return status;
}

struct Command {
    const char *name;
    int (*run)(int argc, char **argv);
    const char *summary;
    const char *(*usage)();
};

const Command commands[] = {
    {"generate", run_generate, generate_summary, generate_usage},
    {"import", run_import, import_summary, import_help},
    {"export", run_export, export_summary, [] { return export_usage; }},
    {"info", run_info, info_summary, [] { return info_usage; }},
    {"view", run_view, view_summary, [] { return view_usage; }},
};

void usage(FILE *to) {
    std::fputs("usage: mvx COMMAND [OPTIONS]\n"
               "\n"
               "Makes, checks and shows map files for the Morvath terrain viewer (6144 x 4096\n"
               "cells, 3 bytes each: 15-bit colour, signed 8-bit height; the viewer reads\n"
               "datas.mvx).\n"
               "\n"
               "commands:\n",
               to);
    for (const Command &c : commands) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
    std::fputs("\n"
               "Run 'mvx help COMMAND' or 'mvx COMMAND --help' for a command's options,\n"
               "'mvx --version' for the version. '--' ends a command's options: every name\n"
               "after it is a file, even one that starts with '-' (mvx import -- *.tif).\n",
               to);
}

const Command *find(const char *name) {
    for (const Command &c : commands)
        if (!std::strcmp(c.name, name)) return &c;
    return nullptr;
}

[[noreturn]] void unknown(const char *name) {
    const Command *best = nullptr;
    size_t least = 3;  // more edits than two is another word
    for (const Command &c : commands)
        if (const size_t k = edit_distance(name, c.name); k < least) least = k, best = &c;
    if (best) die("unknown command '%s'; did you mean '%s'? (see mvx --help)", name, best->name);
    die("unknown command '%s' (see mvx --help)", name);
}

}  // namespace

int main(int argc, char **argv) {
    // GDAL's messages are read back into ours; none of its own lines may reach the terminal, even
    // from what runs before GDAL is set up (the sidecar's JSON reader).
    CPLSetErrorHandler(CPLQuietErrorHandler);
    if (argc < 2) {
        usage(stderr);
        return 1;
    }
    const char *first = argv[1];
    if (!std::strcmp(first, "--help") || !std::strcmp(first, "-h")) {
        usage(stdout);
        return 0;
    }
    if (!std::strcmp(first, "--version")) {
        std::printf("mvx %s\nthe reader of imports is confined by:\n%s", MORVATH_VERSION, reader_confinement().c_str());
        return 0;
    }
    if (!std::strcmp(first, "help")) {
        if (argc < 3) {
            usage(stdout);
            return 0;
        }
        const Command *c = find(argv[2]);
        if (!c) unknown(argv[2]);
        std::fputs(c->usage(), stdout);
        return 0;
    }
    const Command *c = find(first);
    if (!c) unknown(first);
    // mvx reads and writes local files only: no name an input holds can reach a server. But the
    // viewer that view starts inherits the filter, and its X display may be over TCP (ssh -X).
    if (std::strcmp(c->name, "view") != 0) forbid_internet();
    return c->run(argc - 2, argv + 2);
}
