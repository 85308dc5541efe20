// File masks of the add operation.
//
// A compiled mask is a list of items, each possibly preceded by a star. The
// name matches when the items can be laid over the whole name with every star
// covering any run of characters. Backtracking to the most recent star alone
// decides that (a later star can absorb whatever an earlier one would), so
// matching takes time proportional to name length times mask length however
// many stars the mask has.
#include "primitives/AKMasks.h"

#include "platform/Exception.h"
#include "platform/Format.h"
#include "platform/System.h"

namespace {

constexpr int kMaxStarredItems = 30;

inline uint8_t FoldAscii(uint8_t b) { return (b >= 'a' && b <= 'z') ? static_cast<uint8_t>(b - 'a' + 'A') : b; }

// Byte length of the name character at p: a valid multi-byte UTF-8 sequence,
// or one byte.
inline size_t CharLen(const std::string& s, size_t p) {
    if (static_cast<unsigned char>(s[p]) < 0x80) return 1;
    char32_t cp = 0;
    int len = platform::DecodeUtf8(s, p, cp);
    return len > 0 ? static_cast<size_t>(len) : 1;
}

} // namespace

TMask::TMask(const std::string& mask) {
    bool starPending = false;
    size_t starPos = 0; // 1-based position of the star that began the pending run
    int starred = 0;
    auto append = [&](TMaskItem item) {
        item.StarBefore = starPending;
        if (starPending) {
            if (++starred > kMaxStarredItems) {
                throw Exception(Format("'%s' is an invalid mask at (%d)", {mask, static_cast<int64_t>(starPos)}));
            }
        }
        starPending = false;
        items_.push_back(std::move(item));
    };
    size_t i = 0;
    while (i < mask.size()) {
        uint8_t b = static_cast<uint8_t>(mask[i]);
        if (b == '*') {
            if (!starPending) starPos = i + 1;
            starPending = true;
            ++i;
        } else if (b == '?') {
            // "*?" behaves as a lone "*": a question mark right after a star is dropped.
            if (!starPending) {
                TMaskItem item;
                item.Kind = TItemKind::AnyChar;
                append(std::move(item));
            }
            ++i;
        } else {
            size_t len = CharLen(mask, i);
            TMaskItem item;
            if (len > 1) {
                item.Kind = TItemKind::MultiByte;
                item.Char = b;
                item.Sequence = mask.substr(i, len);
            } else {
                item.Kind = TItemKind::Literal;
                item.Char = FoldAscii(b);
            }
            append(std::move(item));
            i += len;
        }
    }
    TMaskItem end;
    end.Kind = TItemKind::End;
    append(std::move(end));
}

bool TMask::Matches(const std::string& name) const {
    const size_t n = name.size();
    // How many bytes the item covers at p, or 0 when it does not match there.
    auto covers = [&](const TMaskItem& it, size_t p) -> size_t {
        if (p >= n) return 0;
        switch (it.Kind) {
        case TItemKind::Literal: {
            size_t len = CharLen(name, p);
            return (len == 1 && FoldAscii(static_cast<uint8_t>(name[p])) == it.Char) ? 1 : 0;
        }
        case TItemKind::AnyChar:
            return CharLen(name, p);
        case TItemKind::MultiByte:
            return name.compare(p, it.Sequence.size(), it.Sequence) == 0 ? it.Sequence.size() : 0;
        case TItemKind::End:
            return 0;
        }
        return 0;
    };

    size_t p = 0, k = 0;
    bool haveStar = false;
    size_t starK = 0, starP = 0;
    for (;;) {
        const TMaskItem& it = items_[k];
        if (it.StarBefore) {
            haveStar = true;
            starK = k;
            starP = p;
        }
        if (it.Kind == TItemKind::End) {
            if (p == n) return true;
        } else if (size_t len = covers(it, p); len > 0) {
            p += len;
            ++k;
            continue;
        }
        // Let the most recent star take one more character and try again.
        if (!haveStar || starP >= n) return false;
        starP += CharLen(name, starP);
        p = starP;
        k = starK;
    }
}

bool MatchesMask(const std::string& name, const std::string& mask) {
    TMask m(mask);
    return m.Matches(name);
}
