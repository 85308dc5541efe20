// The message formatter.
#include <gtest/gtest.h>

#include <limits>

#include "platform/Format.h"

TEST(Format, Table) {
    using S = std::string;
    using I = int64_t;
    struct Case {
        const char* fmt;
        std::vector<FmtArg> args;
        const char* expected;
    } cases[] = {
        {"%.3d", {I{1}}, "001"},
        {"%.3u", {I{1000}}, "1000"},
        {"%5d", {I{13}}, "   13"},
        {"%.2d", {I{100}}, "100"},
        {"%.3d", {I{-7}}, "-007"},
        {"%-5d|", {I{13}}, "13   |"},
        {"%6.3d|", {I{5}}, "   005|"},
        {"%5s|%-4s|", {S("ab"), S("c")}, "   ab|c   |"},
        {"%.2s", {S("abc")}, "ab"},
        {"%s: %s", {S("zip"), S("text")}, "zip: text"},
        {"%d", {std::numeric_limits<I>::min()}, "-9223372036854775808"},
        {"%u", {I{-1}}, "18446744073709551615"},
        {"%x", {I{255}}, "FF"},
        {"100%%", {}, "100%"},
        {"%d and %d", {I{1}}, "1 and %d"},
        {"%s", {}, "%s"},
        {"%1:s %0:s", {S("a"), S("b")}, "b a"},
        {"%d %d", {I{1}, I{2}, I{3}}, "1 2"},
        {"%d", {S("abc")}, "abc"},
        {"%s", {I{42}}, "42"},
        {"%*d", {I{4}, I{7}}, "   7"},
        {"%q %d", {I{3}}, "%q 3"},
        {"trailing %", {I{1}}, "trailing %"},
        {"%5", {I{1}}, "%5"},
        {"", {I{1}}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Format(c.fmt, c.args), c.expected) << c.fmt;
}
