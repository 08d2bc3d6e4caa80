// Each command's options: what they set, and the one line that says what is wrong with them.
#include "export.h"
#include "generate.h"
#include "import.h"
#include "info.h"
#include "launch.h"
#include "progress.h"
#include "run_parser.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(Options, ErrorsNameTheOptionAndTheRange) {
    ExportOptions eo;
    GenerateOptions go;
    InfoOptions info;
    const Parser exp = [&](int c, char **v, bool &h) { return parse_export(c, v, eo = {}, h); };
    const Parser gen = [&](int c, char **v, bool &h) { return parse_generate(c, v, go = {}, h); };
    const Parser inf = [&](int c, char **v, bool &h) { return parse_info(c, v, info = {}, h); };
    const struct {
        const Parser *parse;
        std::vector<std::string> args;
        std::string why;
    } cases[] = {
        {&exp, {"m", "-o", "x.png", "--scale", "abc"}, "--scale: 'abc' is not a whole number from 1 to 4096"},
        {&exp, {"m", "-o", "x.png", "--scale", "0"}, "--scale: 0 is out of range: it must be from 1 to 4096"},
        {&exp, {"m"}, "export: no output given: -o FILE.png (see mvx export --help)"},
        {&exp, {"a", "b", "-o", "x"}, "export: one map only ('a' and 'b')"},
        {&gen, {"--seed", "-3"}, "--seed: '-3' is not a whole number from 0 to 18446744073709551615"},
        {&gen, {"--seed"}, "--seed needs a value (see mvx generate --help)"},
        {&gen, {"--sede", "3"}, "generate: unknown option '--sede' (see mvx generate --help)"},
        {&inf, {"a", "b"}, "info: one map only ('a' and 'b')"},
        {&inf, {"--json=yes"}, "info: unknown option '--json=yes' (see mvx info --help)"},
        {&gen, {"-q", "extra"}, "generate: unexpected argument 'extra' (see mvx generate --help)"},
        {&exp, {"m", "--quiet"}, "export: no output given: -o FILE.png (see mvx export --help)"},
    };
    for (const auto &c : cases) {
        bool help = false;
        const Status st = run_parser(*c.parse, c.args, help);
        EXPECT_FALSE(st.ok) << c.why;
        EXPECT_EQ(st.why, c.why);
    }
}

// After "--" every argument is a file, whatever it starts with; before it, options as usual.
TEST(Options, DoubleDashEndsTheOptions) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> heights;
        std::string out;
        bool quiet;
    } cases[] = {
        {{"a.tif", "--", "-o", "--help"}, {"a.tif", "-o", "--help"}, "datas.mvx", false},
        {{"-o", "m.mvx", "--", "-q", "--"}, {"-q", "--"}, "m.mvx", false},
        {{"-q", "--", "./-o"}, {"./-o"}, "datas.mvx", true},
    };
    for (const auto &c : cases) {
        ImportOptions o;
        bool help = true;
        const Status st = run_parser([&](int n, char **v, bool &h) { return parse_import(n, v, o, h); }, c.args, help);
        ASSERT_TRUE(st.ok) << st.why;
        EXPECT_FALSE(help);
        EXPECT_EQ(o.heights, c.heights) << c.args[1];
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.quiet, c.quiet);
    }
    InfoOptions io;
    bool help = false;
    ASSERT_TRUE(run_parser([&](int n, char **v, bool &h) { return parse_info(n, v, io, h); }, {"--", "--json"}, help).ok);
    EXPECT_EQ(io.map, "--json");
    EXPECT_FALSE(io.json);
}

TEST(Progress, TimeLeftOnceItCanBeTold) {
    const struct {
        double elapsed, fraction;
        const char *says;
    } cases[] = {
        {2, 0.5, ""},                                // too soon
        {10, 0.01, ""},                              // too little done
        {10, 1, ""},                                 // done
        {5, 0.5, "about 5 s left"},
        {30, 0.25, "about 1 min 30 s left"},         // 90 s
        {100, 0.2, "about 6 min 40 s left"},         // 400 s, to ten seconds
        {60, 0.05, "about 19 min left"},             // 1140 s, to the minute
        {600, 0.1, "about 1 h 30 min left"},
    };
    for (const auto &c : cases) EXPECT_EQ(time_left(c.elapsed, c.fraction), c.says) << c.elapsed << " " << c.fraction;
}

// -q and --quiet on the three commands that write, each alone and among other options.
TEST(Options, QuietOnEveryCommandThatWrites) {
    const struct {
        const char *name;
        std::function<bool(std::vector<std::string>, bool &)> quiet;  // whether the parse set it
    } commands[] = {
        {"generate", [](std::vector<std::string> a, bool &help) {
             GenerateOptions o;
             EXPECT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_generate(c, v, o, h); }, a, help).ok);
             return o.quiet;
         }},
        {"import", [](std::vector<std::string> a, bool &help) {
             ImportOptions o;
             a.push_back("h.tif");
             EXPECT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_import(c, v, o, h); }, a, help).ok);
             return o.quiet;
         }},
        {"export", [](std::vector<std::string> a, bool &help) {
             ExportOptions o;
             a.insert(a.end(), {"-o", "x.png"});
             EXPECT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_export(c, v, o, h); }, a, help).ok);
             return o.quiet;
         }},
    };
    const struct {
        std::vector<std::string> args;
        bool quiet;
    } cases[] = {{{}, false}, {{"-q"}, true}, {{"--quiet"}, true}, {{"-o", "-q"}, false}};
    for (const auto &c : commands)
        for (const auto &k : cases) {
            bool help = true;
            EXPECT_EQ(c.quiet(k.args, help), k.quiet) << c.name << " " << (k.args.empty() ? "" : k.args.back());
            EXPECT_FALSE(help);
        }
}

TEST(Options, InfoJsonAndViewMap) {
    InfoOptions io;
    bool help = false;
    ASSERT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_info(c, v, io, h); }, {"--json", "m.mvx"}, help).ok);
    EXPECT_TRUE(io.json);
    EXPECT_EQ(io.map, "m.mvx");
    ViewOptions vo;
    ASSERT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_view(c, v, vo, h); }, {}, help).ok);
    EXPECT_EQ(vo.map, "datas.mvx");
    ASSERT_TRUE(run_parser([&](int c, char **v, bool &h) { return parse_view(c, v, vo, h); }, {"../x.mvx"}, help).ok);
    EXPECT_EQ(vo.map, "../x.mvx");
    vo = {};
    EXPECT_EQ(run_parser([&](int c, char **v, bool &h) { return parse_view(c, v, vo, h); }, {"a", "b"}, help).why,
              "view: one map only ('a' and 'b')");
    EXPECT_EQ(run_parser([&](int c, char **v, bool &h) { return parse_view(c, v, vo, h); }, {"-q"}, help).why,
              "view: unknown option '-q' (see mvx view --help)");
}

}  // namespace
