// File masks of the add operation (TMask / MatchesMask).
#include <gtest/gtest.h>

#include <string>
#include <typeinfo>

#include "archiver/AKExcept.h"
#include "platform/Exception.h"
#include "primitives/AKMasks.h"

namespace {

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

} // namespace

TEST(Mask, Table) {
    struct Case {
        const char* mask;
        const char* name;
        bool expected;
    } cases[] = {
        // Letters fold for a to z only.
        {"ABC", "abc", true},
        {"abc", "AbC", true},
        {"*.TXT", "readme.txt", true},
        {"*.txt", "readme.txt.bak", false},
        {"\xc3\xa9", "\xc3\x89", false},   // é against É: not folded
        {"\xc3\xa9", "\xc3\xa9", true},
        {"a[b]c", "A[B]C", true},
        // "?" needs one character.
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"?", "", false},
        {"a?c", "a\xc3\xa9" "c", true},   // one multi-byte character
        {"a??c", "a\xc3\xa9" "c", false},
        {"?", "\xe2\x82\xac", true},       // three-byte character
        {"?", "\xf0\x9f\x98\x80", true},   // four-byte character
        // "*?" is a lone "*".
        {"*?", "", true},
        {"*?", "x", true},
        {"a*?", "a", true},
        {"?*", "", false},
        {"?*", "x", true},
        // "[" is an ordinary character: there are no sets.
        {"[ab]", "[ab]", true},
        {"[ab]", "a", false},
        {"[", "[", true},
        {"x[", "x", false},
        // Stars.
        {"*", "", true},
        {"*", "anything at all", true},
        {"ab*", "ab", true},
        {"ab*", "abxyz", true},
        {"*b", "ab", true},
        {"*b", "abc", false},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "acb", false},
        {"*a*", "bab", true},
        {"**", "", true},
        {"*.*", "name.ext", true},
        {"*.*", "noext", false},           // a dot is required here
        {"*\xc3\xa9", "xx\xc3\xa9", true},
        {"*\xc3\xa9", "xx\xc3\x89", false},
        {"", "", true},
        {"", "a", false},
        // Bytes that are not UTF-8 are characters of their own and never crash.
        {"?", "\xff", true},
        {"??", "\xc3\x28", true},
        {"?", "\xc3", true},
        {"\xff*", "\xff" "abc", true},
        {"*\xc3", "ab\xc3", true},
        {"\xc3", "\xc3\xa9", false},
        {"a\xe2\x82", "a\xe2\x82", true},  // truncated sequence at the end of both
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchesMask(c.name, c.mask), c.expected) << "mask '" << c.mask << "' name '" << c.name << "'";
    }
}

TEST(Mask, ThirtyStarredItemsAtMost) {
    EXPECT_NO_THROW(TMask(Repeat("*a", 30)));
    EXPECT_NO_THROW(TMask(Repeat("**?a", 30)));      // a run of stars counts once
    EXPECT_NO_THROW(TMask(Repeat("*a", 29) + "*"));  // the end counts when starred
    EXPECT_TRUE(MatchesMask(Repeat("a", 30), Repeat("*a", 30)));
    EXPECT_FALSE(MatchesMask(Repeat("a", 29), Repeat("*a", 30)));

    struct Case {
        std::string mask;
        const char* position;
    } cases[] = {
        {Repeat("*a", 31), "61"},
        {Repeat("*a", 30) + "*", "61"},
        {Repeat("*a", 30) + "**b", "61"},
        {"x" + Repeat("*?a", 31), "92"},
    };
    for (const Case& c : cases) {
        try {
            TMask m(c.mask);
            ADD_FAILURE() << "no error for " << c.mask;
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "'" + c.mask + "' is an invalid mask at (" + c.position + ")");
            EXPECT_EQ(typeid(e), typeid(Exception)); // the general class, not the archiver's
        }
    }
    EXPECT_THROW(MatchesMask("a", Repeat("*a", 31)), Exception);
}

TEST(Mask, ManyStarsDoNotBlowUp) {
    // Backtracking over every star placement would take astronomically long here.
    const std::string name(20000, 'a');
    EXPECT_FALSE(MatchesMask(name, Repeat("*a", 29) + "*b"));
    EXPECT_TRUE(MatchesMask(name + "b", Repeat("*a", 29) + "*b"));
    EXPECT_FALSE(MatchesMask(name, Repeat("*a?", 29) + "b"));
}
