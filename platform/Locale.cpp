// Locale services: the language of the process locale, case mapping and
// comparison by code point. Strings are UTF-8; bytes that do not form valid
// UTF-8 are kept (and compared) as they are.
#include <clocale>
#include <cstring>
#include <cwctype>

#include "platform/System.h"

namespace platform {

namespace {

const char* CurrentLocaleName() {
    const char* name = std::setlocale(LC_CTYPE, nullptr);
    if (name == nullptr || *name == '\0') name = std::setlocale(LC_ALL, nullptr);
    return name == nullptr ? "" : name;
}

// Cheap test used on every case mapping: the language part is "tr".
bool IsTurkish() {
    const char* n = CurrentLocaleName();
    return (n[0] == 't' || n[0] == 'T') && (n[1] == 'r' || n[1] == 'R') &&
           (n[2] == '\0' || n[2] == '_' || n[2] == '.' || n[2] == '@');
}

bool IsScalar(char32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

template <class Map>
std::string MapCase(const std::string& s, Map map) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        char32_t cp = 0;
        int len = DecodeUtf8(s, i, cp);
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (len == 1 && b >= 0x80) {
            out.push_back(static_cast<char>(b)); // not UTF-8: kept as it is
        } else {
            AppendUtf8(out, map(cp));
        }
        i += static_cast<size_t>(len);
    }
    return out;
}

// Ordering key of the character at s[i]: its code point, or, for a byte that
// is not valid UTF-8, a value above every code point so it never equals one.
char32_t KeyAt(const std::string& s, size_t& i, bool upper) {
    char32_t cp = 0;
    int len = DecodeUtf8(s, i, cp);
    unsigned char b = static_cast<unsigned char>(s[i]);
    i += static_cast<size_t>(len);
    if (len == 1 && b >= 0x80) return 0x110000 + b;
    return upper ? UpperCodePoint(cp) : cp;
}

int Compare(const std::string& a, const std::string& b, bool ignoreCase) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ka = KeyAt(a, i, ignoreCase);
        char32_t kb = KeyAt(b, j, ignoreCase);
        if (ka != kb) return ka < kb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

} // namespace

std::string LocaleLanguage() {
    std::string name = CurrentLocaleName();
    size_t end = name.find_first_of("_.@");
    std::string lang = name.substr(0, end);
    if (lang == "C" || lang == "POSIX") return std::string();
    for (char& c : lang)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lang;
}

char32_t UpperCodePoint(char32_t c) {
    if (!IsScalar(c)) return c;
    if (IsTurkish()) {
        // Dotted and dotless i are separate letters; do not rely on the
        // locale data to say so.
        if (c == U'i') return U'\u0130';
        if (c == U'\u0131') return U'I';
        if (c == U'I' || c == U'\u0130') return c;
    }
    wint_t u = std::towupper(static_cast<wint_t>(c));
    char32_t r = static_cast<char32_t>(u);
    return IsScalar(r) ? r : c;
}

char32_t LowerCodePoint(char32_t c) {
    if (!IsScalar(c)) return c;
    if (IsTurkish()) {
        if (c == U'I') return U'\u0131';
        if (c == U'\u0130') return U'i';
        if (c == U'i' || c == U'\u0131') return c;
    }
    wint_t l = std::towlower(static_cast<wint_t>(c));
    char32_t r = static_cast<char32_t>(l);
    return IsScalar(r) ? r : c;
}

std::string AnsiUpperCase(const std::string& s) { return MapCase(s, UpperCodePoint); }

std::string AnsiLowerCase(const std::string& s) { return MapCase(s, LowerCodePoint); }

int AnsiCompareStr(const std::string& a, const std::string& b) { return Compare(a, b, false); }

int AnsiCompareText(const std::string& a, const std::string& b) { return Compare(a, b, true); }

int DecodeUtf8(const std::string& s, size_t i, char32_t& cp) {
    if (i >= s.size()) {
        cp = 0;
        return 0;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
    const size_t avail = s.size() - i;
    const unsigned char b0 = p[0];
    cp = b0;
    if (b0 < 0x80) return 1;
    int len;
    char32_t c;
    char32_t min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2; c = b0 & 0x1F; min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3; c = b0 & 0x0F; min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4; c = b0 & 0x07; min = 0x10000;
    } else {
        return 1; // continuation byte, overlong lead or beyond Unicode
    }
    if (avail < static_cast<size_t>(len)) return 1;
    for (int k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 1;
        c = (c << 6) | (p[k] & 0x3F);
    }
    if (c < min || !IsScalar(c)) return 1; // overlong form, surrogate or too large
    cp = c;
    return len;
}

} // namespace platform
