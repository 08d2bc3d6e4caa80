// The import's report: the way from the viewer's first view to the data, only when that view shows none.
#include "import/import_report.h"

#include "tests/unit/import/heights_fixture.h"

#include <gtest/gtest.h>

namespace {

class ImportReport : public HeightFiles {};

TEST_F(ImportReport, FirstViewHintOnlyWhenTheViewMissesTheData) {
    const struct {
        int w, h;
        bool hint;
    } cases[] = {{40, 200, true}, {300, 200, false}};
    for (const auto &c : cases) {
        RasterSpec s;
        s.w = c.w, s.h = c.h, s.values.assign(static_cast<size_t>(c.w) * c.h, 5);
        write_raster(dir + "/v.tif", "GTiff", s);
        ImportOptions o;
        o.heights = {dir + "/v.tif"};
        Heights h;
        std::vector<std::string> notes;
        ASSERT_TRUE(read_import(o, grid_columns, grid_rows, h, notes).ok);
        const std::string hint = first_view_hint(h.field);
        EXPECT_EQ(!hint.empty(), c.hint) << hint;
        if (c.hint) {
            EXPECT_NE(hint.find("press 6 about 137 times"), std::string::npos) << hint;
        }
    }
}

}  // namespace
