#pragma once
// File masks of the add operation: "*" and "?" wildcards, the 26 ASCII
// letters compared without regard to case, "[" an ordinary character. A
// multi-byte UTF-8 sequence is one item of the mask and one character of the
// name.
#include <cstdint>
#include <string>
#include <vector>

class TMask {
public:
    // Compiles the mask; more than 30 starred items raise Exception
    // "'<mask>' is an invalid mask at (<1-based position>)".
    explicit TMask(const std::string& mask);

    // Does the whole name match the mask.
    bool Matches(const std::string& name) const;

private:
    enum class TItemKind : uint8_t { Literal, AnyChar, MultiByte, End };
    struct TMaskItem {
        bool StarBefore = false;
        TItemKind Kind = TItemKind::Literal;
        uint8_t Char = 0;      // a literal byte, a to z upper-cased
        std::string Sequence;  // the bytes of a multi-byte character
    };
    std::vector<TMaskItem> items_; // the last item is End
};

// Compiles the mask and matches the name against it (compiled anew each call).
bool MatchesMask(const std::string& name, const std::string& mask);
