// The JSON that scripts read (strings any parser takes whatever bytes they hold, numbers finite or
// null), and the same strings escaped for a terminal.
#include "common/json.h"
#include "common/text.h"

#include <cpl_json.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

// The same strangers' bytes for a script (JSON) and for a terminal (printable): each keeps valid
// UTF-8 and can neither break its string nor move the cursor.
TEST(Json, StringsEscapeQuotesBackslashesAndControlsAndReplaceInvalidUtf8) {
    const struct {
        std::string in, json, shown;
    } cases[] = {
        {"plain.mvx", "\"plain.mvx\"", "plain.mvx"},
        {"a\"b\\c/d", "\"a\\\"b\\\\c/d\"", "a\"b\\c/d"},
        {"\n\t\r\b\f", "\"\\n\\t\\r\\b\\f\"", "\\n\\t\\r\\x08\\x0c"},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\"", "\\x01\\x1f\\x7f"},
        {std::string("nul\0end", 7), "\"nul\\u0000end\"", "nul\\x00end"},
        {"\x1b[2J\x1b]0;title\x07", "\"\\u001b[2J\\u001b]0;title\\u0007\"", "\\x1b[2J\\x1b]0;title\\x07"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x97\xBA", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x97\xBA\"",
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x97\xBA"},  // 2, 3 and 4 bytes kept
        {"\xC2\x9B" "1m", "\"\xC2\x9B" "1m\"", "\\xc2\\x9b" "1m"},   // U+009B, a terminal's CSI
        {"\xFF", "\"\xEF\xBF\xBD\"", "\\xff"},                        // never valid
        {"\x80x", "\"\xEF\xBF\xBDx\"", "\\x80x"},                      // a continuation byte alone
        {"\xC3", "\"\xEF\xBF\xBD\"", "\\xc3"},                        // cut short at the end
        {"\xE2\x82x", "\"\xEF\xBF\xBD\xEF\xBF\xBDx\"", "\\xe2\\x82x"},      // cut short before another character
        {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"", "\\xc0\\xaf"},        // overlong '/'
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", "\\xed\\xa0\\x80"},  // a UTF-16 surrogate
        {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
    };
    for (const auto &c : cases) {
        EXPECT_EQ(json_string(c.in), c.json) << c.in;
        EXPECT_EQ(printable(c.in), c.shown) << c.in;
    }
}

TEST(Json, NumbersReadBackExactlyAndAreNullWhenNotFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {inf, -inf, std::nan("")}) EXPECT_EQ(json_number(v), "null") << v;
    EXPECT_EQ(json_number(90), "90");
    EXPECT_EQ(json_number(-15), "-15");
    EXPECT_EQ(json_number(0.1), "0.1");
    EXPECT_EQ(json_number(1e300), "1e+300");
    for (double v : {1.0 / 3, 0.3409404754638672, -2.5e-7, 123456789.125, 4.9e-324})
        EXPECT_EQ(std::strtod(json_number(v).c_str(), nullptr), v) << json_number(v);
}

TEST(Json, NestedObjectsAndArraysParse) {
    const std::string text =
        json_object({{"name", json_string("we\"ird\n\xFF")},
                     {"list", json_array({json_number(1.5), json_null(), json_object({{"k", json_bool(true)}}, true)})},
                     {"empty", json_object({})},
                     {"inner", json_object({{"x", json_int(-3)}, {"y", json_array({})}})}});
    CPLJSONDocument doc;
    ASSERT_TRUE(doc.LoadMemory(text)) << text;
    const CPLJSONObject r = doc.GetRoot();
    EXPECT_EQ(r.GetString("name"), "we\"ird\n\xEF\xBF\xBD");
    const CPLJSONArray list = r.GetArray("list");
    ASSERT_EQ(list.Size(), 3);
    EXPECT_EQ(list[0].ToDouble(), 1.5);
    EXPECT_EQ(list[1].GetType(), CPLJSONObject::Type::Null);
    EXPECT_TRUE(list[2].GetBool("k"));
    EXPECT_EQ(r.GetInteger("inner/x"), -3);
    EXPECT_EQ(r.GetArray("inner/y").Size(), 0);
}

}  // namespace
