// Edit distance against counts made by hand: each kind of edit, a swap as one, and words far apart.
#include "common/edit_distance.h"

#include <gtest/gtest.h>

namespace {

TEST(EditDistance, CountsEachEditOnce) {
    const struct {
        const char *a, *b;
        size_t edits;
    } cases[] = {
        {"import", "import", 0}, {"", "info", 4},       {"info", "", 4},         {"imprt", "import", 1},
        {"exportt", "export", 1}, {"vuew", "view", 1},  {"inof", "info", 1},     {"genreate", "generate", 1},
        {"ab", "ba", 1},          {"abc", "ca", 3},     {"view", "info", 4},     {"expotr", "export", 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(edit_distance(c.a, c.b), c.edits) << c.a << " -> " << c.b;
        EXPECT_EQ(edit_distance(c.b, c.a), c.edits) << c.b << " -> " << c.a;
    }
}

}  // namespace
