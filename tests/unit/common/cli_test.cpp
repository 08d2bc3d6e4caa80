// The commands' options as cli parses them: what they set, and which option or file a refusal names, with its cause.
#include "import/import.h"
#include "map/export.h"
#include "map/info.h"
#include "tests/unit/run_parser.h"
#include "view/launch.h"
#include "world/generate.h"

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
    ViewOptions vo;
    const Parser view = [&](int c, char **v, bool &h) { return parse_view(c, v, vo = {}, h); };
    const struct {
        const Parser *parse;
        std::vector<std::string> args;
        std::string names, cause;  // what the line begins with, and a phrase of its cause
    } cases[] = {
        {&exp, {"m", "-o", "x.png", "--scale", "abc"}, "--scale", "not a whole number"},
        {&exp, {"m", "-o", "x.png", "--scale", "0"}, "--scale", "out of range"},
        {&exp, {"m"}, "export", "no output given"},
        {&exp, {"a", "b", "-o", "x"}, "export", "one map only"},
        {&gen, {"--seed", "-3"}, "--seed", "not a whole number"},
        {&gen, {"--seed"}, "--seed", "needs a value"},
        {&gen, {"--sede", "3"}, "generate", "unknown option '--sede'"},
        {&inf, {"a", "b"}, "info", "one map only"},
        {&inf, {"--json=yes"}, "info", "unknown option '--json=yes'"},
        {&gen, {"-q", "extra"}, "generate", "unexpected argument 'extra'"},
        {&exp, {"m", "--quiet"}, "export", "no output given"},
        {&view, {"a", "b"}, "view", "one map only"},
        {&view, {"-q"}, "view", "unknown option '-q'"},
    };
    for (const auto &c : cases) {
        bool help = false;
        const Status st = run_parser(*c.parse, c.args, help);
        EXPECT_FALSE(st.ok) << c.names << " " << c.cause;
        EXPECT_EQ(st.why.rfind(c.names, 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
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
}

}  // namespace
