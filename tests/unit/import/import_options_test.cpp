// mvx import's options: what each sets, and the option and cause a refusal names.
#include "import/import_options.h"

#include "tests/unit/run_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ImportOptionParsing, RefusalsNameTheOptionAndTheCause) {
    const struct {
        std::vector<std::string> args;
        const char *option, *cause;
    } cases[] = {
        {{}, "import: ", "no height file given"},
        {{"h.tif", "--range", "5:1"}, "--range: ", "MIN must be below MAX"},
        {{"h.tif", "--range", "5"}, "--range: ", "needs 2 numbers"},
        {{"h.r16", "--size", "64"}, "--size: ", "is not WxH"},
        {{"h.r16", "--size", "0x4"}, "--size: ", "out of range"},
        {{"h.tif", "--fit", "fill"}, "--fit: ", "is not one of pad, crop, stretch"},
        {{"h.tif", "--resample", "lanczos"}, "--resample: ", "is not one of average, bilinear, cubic, nearest"},
        {{"h.tif", "--bounds", "1,2,3"}, "--bounds: ", "needs 4 numbers"},
        {{"h.tif", "--bounds", "5,2,3,4"}, "--bounds: ", "WEST must be below EAST"},
        {{"h.tif", "--exaggeration", "0"}, "--exaggeration: ", "out of range"},
        {{"h.tif", "--bands", "1,2"}, "--bands: ", "needs 3 numbers"},
        {{"a.r16", "b.r16", "--size", "2x2"}, "--size: ", "only for one .r16 file"},
    };
    for (const auto &c : cases) {
        ImportOptions o;
        bool help = false;
        const Status st = run_parser([&](int n, char **v, bool &h) { return parse_import(n, v, o, h); }, c.args, help);
        EXPECT_FALSE(st.ok) << c.cause;
        EXPECT_EQ(st.why.rfind(c.option, 0), 0u) << st.why;
        EXPECT_NE(st.why.find(c.cause), std::string::npos) << st.why;
    }
}

TEST(ImportOptionParsing, TakesTilesAndEveryOption) {
    ImportOptions o;
    bool help = false;
    const Status st = run_parser([&](int c, char **v, bool &h) { return parse_import(c, v, o, h); },
                                 {"a.tif", "b.tif", "-o", "m.mvx", "--colour", "i.tif", "--bands", "3,2,1", "--fit", "crop",
                                  "--bounds", "-1,2,3.5,4", "--sea-level", "-7", "--exaggeration", "2.5", "--resample", "cubic"},
                                 help);
    ASSERT_TRUE(st.ok) << st.why;
    EXPECT_EQ(o.heights, (std::vector<std::string>{"a.tif", "b.tif"}));
    EXPECT_EQ(o.out, "m.mvx");
    EXPECT_EQ(o.bands, (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(o.fit, FitMode::crop);
    EXPECT_TRUE(o.has_bounds);
    EXPECT_EQ(o.bounds.west, -1);
    EXPECT_EQ(o.bounds.east, 3.5);
    EXPECT_EQ(o.sea, -7);
    EXPECT_EQ(o.exaggeration, 2.5);
    EXPECT_EQ(o.resample, Resampling::cubic);
    EXPECT_TRUE(
        run_parser([&](int c, char **v, bool &h) { return parse_import(c, v, o, h); }, {"--help", "--nonsense"}, help).ok);
    EXPECT_TRUE(help);
    // A list alone is enough to import.
    ImportOptions l;
    ASSERT_TRUE(
        run_parser([&](int c, char **v, bool &h) { return parse_import(c, v, l, h); }, {"--input-list", "-"}, help).ok);
    EXPECT_EQ(l.input_list, "-");
    EXPECT_TRUE(l.heights.empty());
}

}  // namespace
