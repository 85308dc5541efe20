// Wildcard matching of stored item names.
//
// The matcher's meaning is that of a recursive matcher which, at a "*", tries
// every split of the rest of the name. Tried literally that costs exponential
// time on masks with many stars, so the same function is computed by dynamic
// programming over (name position, star), in time proportional to the name
// length times the mask length.
#include "primitives/AKStrFunc.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/System.h"

namespace {

// Bytes that are not part of valid UTF-8 become these values, which no valid
// sequence decodes to (UTF-16 surrogates), so they only equal themselves.
constexpr char32_t kRawByteBase = 0xDC00;

struct TCaseTables {
    std::vector<char32_t> upper; // upper-case form of every code point below 0x10000
};

std::unique_ptr<TCaseTables>& TablesSlot() {
    static std::unique_ptr<TCaseTables> slot;
    return slot;
}

void BuildTables() {
    auto t = std::make_unique<TCaseTables>();
    t->upper.resize(0x10000);
    for (char32_t c = 0; c < 0x10000; ++c) {
        t->upper[c] = (c >= 0xD800 && c <= 0xDFFF) ? c : platform::UpperCodePoint(c);
    }
    TablesSlot() = std::move(t);
}

std::once_flag& InitFlag() {
    static std::once_flag flag;
    return flag;
}

const TCaseTables& Tables() {
    std::call_once(InitFlag(), BuildTables);
    return *TablesSlot();
}

inline char32_t Upper(const TCaseTables& t, char32_t c) {
    if (c < 0x10000) return t.upper[c];
    return platform::UpperCodePoint(c);
}

inline bool SameChar(const TCaseTables& t, char32_t a, char32_t b, bool ignoreCase) {
    if (a == b) return true;
    return ignoreCase && Upper(t, a) == Upper(t, b);
}

// Splits a UTF-8 string into characters.
std::vector<char32_t> Decode(const std::string& s) {
    std::vector<char32_t> out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        char32_t cp = 0;
        int len = platform::DecodeUtf8(s, i, cp);
        if (len <= 0) len = 1;
        unsigned char b = static_cast<unsigned char>(s[i]);
        if (len == 1 && b >= 0x80) cp = kRawByteBase + b;
        out.push_back(cp);
        i += static_cast<size_t>(len);
    }
    return out;
}

// The first character of a zero-terminated string, and its byte length (0 at the end).
char32_t FirstChar(const char* p, size_t& len) {
    size_t avail = strnlen(p, 4);
    if (avail == 0) {
        len = 0;
        return 0;
    }
    std::string head(p, avail);
    char32_t cp = 0;
    int n = platform::DecodeUtf8(head, 0, cp);
    if (n <= 0) n = 1;
    if (n == 1 && static_cast<unsigned char>(head[0]) >= 0x80) cp = kRawByteBase + static_cast<unsigned char>(head[0]);
    len = static_cast<size_t>(n);
    return cp;
}

int CompareN(const char* a, const char* b, int maxLen, bool ignoreCase) {
    if (a == nullptr) a = "";
    if (b == nullptr) b = "";
    const TCaseTables& t = Tables();
    for (int n = 0; n < maxLen; ++n) {
        size_t la = 0, lb = 0;
        char32_t ca = FirstChar(a, la);
        char32_t cb = FirstChar(b, lb);
        if (la == 0 && lb == 0) return 0;
        if (!SameChar(t, ca, cb, ignoreCase)) {
            char32_t ra = ignoreCase ? Upper(t, ca) : ca;
            char32_t rb = ignoreCase ? Upper(t, cb) : cb;
            return ra < rb ? -1 : 1;
        }
        a += la;
        b += lb;
    }
    return 0;
}

class TWildMatcher {
public:
    TWildMatcher(std::vector<char32_t> name, std::vector<char32_t> mask, bool ignoreCase)
        : n_(std::move(name)), m_(std::move(mask)), ignoreCase_(ignoreCase), t_(Tables()) {}

    bool Run() {
        const size_t N = n_.size();
        std::vector<size_t> stars;
        for (size_t k = 0; k < m_.size(); ++k)
            if (m_[k] == U'*') stars.push_back(k);
        // anyAfter[i]: does some split j in [i, N) satisfy the call that follows
        // the next star; computed from the last star back to the first.
        std::vector<char> anyAfter, next;
        for (size_t s = stars.size(); s-- > 0;) {
            std::vector<char> level(N + 1, 0);
            for (size_t j = N; j-- > 0;) {
                level[j] = static_cast<char>(level[j + 1] || Call(j, stars[s] + 1, next));
            }
            next.swap(level);
        }
        return Call(0, 0, next);
    }

private:
    bool RestIs(size_t k, const char32_t* text, size_t len) const {
        if (m_.size() - k != len) return false;
        for (size_t x = 0; x < len; ++x)
            if (m_[k + x] != text[x]) return false;
        return true;
    }

    // One call of the recursive matcher on the name from i and the mask from k;
    // anyAfter stands for its recursion at the first "*" it meets.
    bool Call(size_t i, size_t k, const std::vector<char>& anyAfter) const {
        static const char32_t starDotStar[] = {U'*', U'.', U'*'};
        static const char32_t star[] = {U'*'};
        const size_t N = n_.size(), M = m_.size();
        if (RestIs(k, starDotStar, 3)) return true;
        for (;;) {
            if (RestIs(k, star, 1)) return true;
            if (i == N) return k == M;
            if (k == M) return false; // the terminating zero equals no character
            if (m_[k] == U'*') return anyAfter[i] != 0;
            if (m_[k] != U'?' && !SameChar(t_, n_[i], m_[k], ignoreCase_)) return false;
            ++i;
            ++k;
        }
    }

    std::vector<char32_t> n_, m_;
    bool ignoreCase_;
    const TCaseTables& t_;
};

} // namespace

void InitStrFunc() {
    std::call_once(InitFlag(), [] {});
    BuildTables();
}

bool WildMatch(const char* name, const char* mask, bool ignoreCase) {
    if (name == nullptr) name = "";
    if (mask == nullptr) mask = "";
    if (std::strcmp(mask, "*.*") == 0) return true;
    TWildMatcher m(Decode(name), Decode(mask), ignoreCase);
    return m.Run();
}

int CompareCharsIgnoreCase(const char* a, const char* b, int maxLen) { return CompareN(a, b, maxLen, true); }

int CompareChars(const char* a, const char* b, int maxLen) { return CompareN(a, b, maxLen, false); }

bool AKMatchName(const std::string& name, const std::string& mask) {
    if (mask.empty()) return false;
    std::string m = mask;
    size_t pos = mask.find("*.*");
    if (pos != std::string::npos) m = mask.substr(0, pos) + "*" + mask.substr(pos + 3);
    const bool maskEndsWithDot = mask.back() == '.';
    if (maskEndsWithDot) m.pop_back();
    std::string n = name;
    if (!n.empty() && n.back() == '.') n.pop_back();
    bool r = WildMatch(n.c_str(), m.c_str(), true);
    if (r && maskEndsWithDot) {
        // Only names without an extension: the part from the last dot of the
        // last component is empty or a lone ".".
        size_t sep = name.find_last_of("/\\");
        size_t start = sep == std::string::npos ? 0 : sep + 1;
        size_t dot = name.find_last_of('.');
        std::string ext = (dot == std::string::npos || dot < start) ? std::string() : name.substr(dot);
        r = ext.empty() || ext == ".";
    }
    return r;
}
