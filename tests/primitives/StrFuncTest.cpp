// Item-name matching (WildMatch, MatchName) and the locale services behind it.
#include <gtest/gtest.h>

#include <clocale>
#include <locale.h>
#include <string>

#include "platform/System.h"
#include "primitives/AKStrFunc.h"
#include "tests/common/TestSupport.h"

namespace {

// Selects a process locale for one test and rebuilds the case tables; puts
// everything back afterwards.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old != nullptr ? old : "C";
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
        InitStrFunc();
    }
    ~ScopedLocale() {
        std::setlocale(LC_ALL, saved_.c_str());
        InitStrFunc();
    }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

bool LocaleAvailable(const char* name) {
    locale_t l = newlocale(LC_ALL_MASK, name, static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) return false;
    freelocale(l);
    return true;
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

} // namespace

TEST(WildMatch, Table) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    struct Case {
        const char* name;
        const char* mask;
        bool expected;
    } cases[] = {
        {"ab", "a*b", true},
        {"aXYZb", "a*b", true},
        {"abc", "a*b", false},
        {"a", "a*", true},
        {"a", "a**", false},  // a star never takes an empty rest when more mask follows
        {"ab", "a**", true},
        {"", "*", true},
        {"", "", true},
        {"", "?", false},
        {"x", "", false},
        {"abc", "?b?", true},
        {"abc", "??", false},
        {"ABC.txt", "abc.TXT", true},
        {"anything", "*.*", true},
        {"\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89", true}, // non-ASCII letters fold through the locale
        {"\xc3\xa9", "?", true},
        {"\xc3\xa9", "??", false},
        {"a\xe2\x82\xac" "b", "a?b", true},
        {"\xff\xfe", "??", true},                // not UTF-8: byte by byte
        {"\xc3", "?", true},
        {"\xe9", "\xc3\xa9", false},             // a stray byte is not the character of the same number
        {"\xc3\xa9", "\xc3?", false},
        {"\xe2\x82", "*\x82", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildMatch(c.name, c.mask, true), c.expected) << "name '" << c.name << "' mask '" << c.mask << "'";
    }
    EXPECT_FALSE(WildMatch("ABC", "abc", false));
    EXPECT_TRUE(WildMatch("abc", "a?c", false));
    EXPECT_FALSE(WildMatch("\xc3\x89", "\xc3\xa9", false));
    EXPECT_TRUE(WildMatch(nullptr, "*", true));
    EXPECT_TRUE(WildMatch("", nullptr, true));
}

TEST(WildMatch, ManyStarsDoNotBlowUp) {
    const std::string name(5000, 'a');
    EXPECT_FALSE(WildMatch(name.c_str(), "*a*a*a*a*a*a*a*a*a*a*b", true));
    EXPECT_FALSE(WildMatch(name.c_str(), (Repeat("*a", 200) + "b").c_str(), true));
    EXPECT_TRUE(WildMatch(name.c_str(), (Repeat("*a", 200) + "*").c_str(), true));
    EXPECT_TRUE(WildMatch((name + "b").c_str(), (Repeat("**a", 100) + "*b").c_str(), true));
}

TEST(CompareChars, EqualityOverMaxLen) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(CompareCharsIgnoreCase("a", "A", 1), 0);
    EXPECT_NE(CompareChars("a", "A", 1), 0);
    EXPECT_EQ(CompareChars("ab", "ac", 1), 0);
    EXPECT_NE(CompareChars("ab", "ac", 2), 0);
    EXPECT_EQ(CompareChars("", "", 1), 0);
    EXPECT_NE(CompareChars("", "a", 1), 0);
    EXPECT_EQ(CompareCharsIgnoreCase("\xc3\xa9x", "\xc3\x89y", 1), 0);
    EXPECT_LT(CompareChars("a", "b", 1), 0);
    EXPECT_GT(CompareChars("b", "a", 1), 0);
}

TEST(MatchName, Table) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    struct Case {
        const char* name;
        const char* mask;
        bool expected;
    } cases[] = {
        {"noext", "*.*", true},
        {"a.b.c", "*.*", true},
        {"dir/sub/file.txt", "*.*", true},
        {"noext", "*.", true},
        {"file.txt", "*.", false},
        {"file.", "*.", true},
        {"dir.d/file", "*.", true},    // the extension is that of the last component
        {"dir.d\\file", "*.", true},
        {"readme", "readme.", true},
        {"readme.", "readme", true},
        {"readme.txt", "readme.", false},
        {"ReadMe.TXT", "readme.txt", true},
        {"x", "", false},
        {"", "", false},
        {"a.b", "*.b", true},
        {"a.b", "*.c", false},
        {"\xc3\x89T\xc3\x89.txt", "\xc3\xa9t\xc3\xa9.*", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AKMatchName(c.name, c.mask), c.expected) << "name '" << c.name << "' mask '" << c.mask << "'";
    }
}

TEST(Locale, LanguageCaseAndComparison) {
    {
        ScopedLocale c("C");
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(platform::LocaleLanguage(), "");
        // Without a UTF-8 locale only ASCII letters change case.
        EXPECT_EQ(platform::AnsiUpperCase("ab\xc3\xa9"), "AB\xc3\xa9");
    }
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(platform::LocaleLanguage(), "");
    EXPECT_EQ(platform::AnsiUpperCase("stra\xc3\x9f" "e \xc3\xa9t\xc3\xa9"), "STRA\xc3\x9f" "E \xc3\x89T\xc3\x89");
    EXPECT_EQ(platform::AnsiLowerCase("\xc3\x89T\xc3\x89 ABC"), "\xc3\xa9t\xc3\xa9 abc");
    EXPECT_EQ(platform::AnsiUpperCase("a\xff" "b\xc3"), "A\xff" "B\xc3"); // stray bytes kept
    EXPECT_EQ(platform::UpperCodePoint(U'\u00e9'), U'\u00c9');
    EXPECT_EQ(platform::LowerCodePoint(U'Z'), U'z');
    EXPECT_EQ(platform::UpperCodePoint(0xD800), 0xD800u);
    EXPECT_EQ(platform::UpperCodePoint(0x110000), 0x110000u);

    EXPECT_EQ(platform::AnsiCompareText("\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89"), 0);
    EXPECT_NE(platform::AnsiCompareStr("\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89"), 0);
    EXPECT_LT(platform::AnsiCompareStr("a", "b"), 0);
    EXPECT_GT(platform::AnsiCompareStr("\xc3\xa9", "z"), 0);  // by code point, not by byte of a code page
    EXPECT_LT(platform::AnsiCompareStr("ab", "abc"), 0);
    EXPECT_EQ(platform::AnsiCompareStr("", ""), 0);
    EXPECT_NE(platform::AnsiCompareStr("\xe9", "\xc3\xa9"), 0);  // a stray byte is not U+00E9
    EXPECT_NE(platform::AnsiCompareText("\xe9", "\xc3\x89"), 0);
}

TEST(Locale, DecodeUtf8) {
    struct Case {
        const char* bytes;
        int length;
        char32_t cp;
    } cases[] = {
        {"A", 1, U'A'},
        {"\xc3\xa9", 2, 0xE9},
        {"\xe2\x82\xac", 3, 0x20AC},
        {"\xf0\x9f\x98\x80", 4, 0x1F600},
        {"\xc0\x80", 1, 0xC0},           // overlong
        {"\xe0\x80\xaf", 1, 0xE0},       // overlong
        {"\xed\xa0\x80", 1, 0xED},       // surrogate
        {"\xf4\x90\x80\x80", 1, 0xF4},   // beyond U+10FFFF
        {"\xe2\x82", 1, 0xE2},           // truncated
        {"\x80", 1, 0x80},               // lone continuation
        {"\xc3(", 1, 0xC3},
    };
    for (const Case& c : cases) {
        char32_t cp = 0;
        EXPECT_EQ(platform::DecodeUtf8(c.bytes, 0, cp), c.length) << c.bytes;
        EXPECT_EQ(cp, c.cp) << c.bytes;
    }
    char32_t cp = 1;
    EXPECT_EQ(platform::DecodeUtf8("ab", 2, cp), 0);
}

TEST(Locale, TurkishRule) {
    const char* name = nullptr;
    for (const char* candidate : {"tr_TR.UTF-8", "tr_TR.utf8"}) {
        if (LocaleAvailable(candidate)) {
            name = candidate;
            break;
        }
    }
    // Where the system lacks the locale, build one from the system's locale
    // sources (package locales) into a temporary folder and point the C
    // library at it. Only setlocale probes it: glibc's newlocale leaks its
    // copy of LOCPATH, which the leak checker of the sanitizer build reports.
    TempFolder localeDir;
    if (name == nullptr && HaveTool("localedef") &&
        RunCommand("localedef -i tr_TR -f UTF-8 " + ShellQuote(localeDir.File("tr_TR.UTF-8")) + " 2>&1") == 0) {
        setenv("LOCPATH", localeDir.Path().c_str(), 1);
        name = "tr_TR.UTF-8";
    }
    const char* const skipText = "no tr_TR.UTF-8 locale on this system and none could be built (localedef, locales)";
    if (name == nullptr) GTEST_SKIP() << skipText;
    ScopedLocale tr(name);
    if (!tr.ok()) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << skipText;
    }
    EXPECT_EQ(platform::LocaleLanguage(), "tr");
    EXPECT_EQ(platform::UpperCodePoint(U'i'), U'\u0130');
    EXPECT_EQ(platform::UpperCodePoint(U'\u0131'), U'I');
    EXPECT_EQ(platform::LowerCodePoint(U'I'), U'\u0131');
    EXPECT_EQ(platform::LowerCodePoint(U'\u0130'), U'i');
    EXPECT_EQ(platform::AnsiUpperCase("i\xc4\xb1"), "\xc4\xb0I");
    EXPECT_TRUE(WildMatch("\xc4\xb0stanbul", "i*", true));   // İstanbul
    EXPECT_FALSE(WildMatch("Istanbul", "i*", true));
    EXPECT_TRUE(WildMatch("I\xc4\x9f" "d\xc4\xb1r", "\xc4\xb1*", true)); // ı matches I
    EXPECT_TRUE(AKMatchName("\xc4\xb0NDEX.TXT", "index.txt"));
    EXPECT_FALSE(AKMatchName("INDEX.TXT", "index.txt"));
    unsetenv("LOCPATH");
}
