// Delphi-style Format over typed arguments.
//
// A placeholder is "%" [index ":"] ["-"] [width] ["." precision] type, with
// width or precision also given as "*" (taken from the next integer
// argument). Types: s (string), d (signed), u (unsigned), x (hexadecimal).
// Anything that cannot be formatted (no argument left, unknown type, a "*"
// without an integer) is copied to the output as it stands.
#include "platform/Format.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string DecimalText(int64_t v, bool asUnsigned) {
    if (asUnsigned) return std::to_string(static_cast<uint64_t>(v));
    return std::to_string(v);
}

std::string HexText(int64_t v) {
    static const char digits[] = "0123456789ABCDEF";
    uint64_t u = static_cast<uint64_t>(v);
    char buf[16];
    size_t n = sizeof buf;
    do {
        buf[--n] = digits[u & 0xF];
        u >>= 4;
    } while (u != 0);
    return std::string(buf + n, sizeof buf - n);
}

// Zero-pads the digits of a number to at least `precision` digits, keeping a
// leading minus sign in front of the zeros.
std::string PadDigits(std::string text, int precision) {
    bool negative = !text.empty() && text[0] == '-';
    size_t digits = text.size() - (negative ? 1 : 0);
    if (precision > 0 && digits < static_cast<size_t>(precision)) {
        text.insert(negative ? 1 : 0, static_cast<size_t>(precision) - digits, '0');
    }
    return text;
}

bool ParseNumber(const std::string& fmt, size_t& i, int& value) {
    if (i >= fmt.size() || fmt[i] < '0' || fmt[i] > '9') return false;
    int64_t v = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        if (v < 100000000) v = v * 10 + (fmt[i] - '0');
        ++i;
    }
    value = static_cast<int>(v);
    return true;
}

} // namespace

std::string Format(const std::string& fmt, const std::vector<FmtArg>& args) {
    std::string out;
    out.reserve(fmt.size() + 16);
    size_t next = 0; // the next argument to consume
    size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t start = i++;
        if (i < fmt.size() && fmt[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        bool ok = true;
        size_t argIndex = next;
        // Optional explicit argument index "n:".
        {
            size_t j = i;
            int n = 0;
            if (ParseNumber(fmt, j, n) && j < fmt.size() && fmt[j] == ':') {
                argIndex = static_cast<size_t>(n);
                i = j + 1;
            }
        }
        bool leftAlign = false;
        if (i < fmt.size() && fmt[i] == '-') {
            leftAlign = true;
            ++i;
        }
        auto starValue = [&](int& value) {
            // "*": the value comes from the next argument, which must be an integer.
            if (argIndex < args.size() && std::holds_alternative<int64_t>(args[argIndex])) {
                int64_t v = std::get<int64_t>(args[argIndex]);
                value = v < 0 ? 0 : (v > 100000000 ? 100000000 : static_cast<int>(v));
                ++argIndex;
                return true;
            }
            return false;
        };
        int width = 0;
        if (i < fmt.size() && fmt[i] == '*') {
            ++i;
            ok = starValue(width);
        } else {
            ParseNumber(fmt, i, width);
        }
        int precision = -1;
        if (ok && i < fmt.size() && fmt[i] == '.') {
            ++i;
            precision = 0;
            if (i < fmt.size() && fmt[i] == '*') {
                ++i;
                ok = starValue(precision);
            } else {
                ParseNumber(fmt, i, precision);
            }
        }
        char type = (ok && i < fmt.size()) ? fmt[i] : '\0';
        if (type >= 'A' && type <= 'Z') type = static_cast<char>(type - 'A' + 'a');
        if (type != 's' && type != 'd' && type != 'u' && type != 'x') ok = false;
        if (ok && argIndex >= args.size()) ok = false;
        if (!ok) {
            // Not a placeholder we can fill: keep the text as written.
            size_t end = (i < fmt.size() && type != '\0') ? i + 1 : i;
            if (end <= start) end = start + 1;
            out.append(fmt, start, end - start);
            i = end;
            continue;
        }
        ++i; // past the type letter
        const FmtArg& arg = args[argIndex];
        next = argIndex + 1;

        std::string text;
        if (type == 's') {
            if (std::holds_alternative<std::string>(arg)) {
                text = std::get<std::string>(arg);
            } else {
                text = DecimalText(std::get<int64_t>(arg), false);
            }
            if (precision >= 0 && text.size() > static_cast<size_t>(precision)) {
                text.resize(static_cast<size_t>(precision));
            }
        } else if (std::holds_alternative<int64_t>(arg)) {
            int64_t v = std::get<int64_t>(arg);
            text = type == 'x' ? HexText(v) : DecimalText(v, type == 'u');
            text = PadDigits(std::move(text), precision);
        } else {
            // A string where a number was expected: show the string itself.
            text = std::get<std::string>(arg);
        }
        if (text.size() < static_cast<size_t>(width)) {
            size_t pad = static_cast<size_t>(width) - text.size();
            if (leftAlign) {
                text.append(pad, ' ');
            } else {
                text.insert(0, pad, ' ');
            }
        }
        out += text;
    }
    return out;
}
