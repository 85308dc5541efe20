#pragma once
// printf-like formatting with typed arguments, as the messages need it:
// %s (string), %d and %u (integers), with width, "-" and ".precision"
// ("%.3d" zero-pads to three digits, "%5d" right-aligns in five), and "%%".
// A placeholder without an argument is left as it stands; extra arguments
// are ignored.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

using FmtArg = std::variant<std::string, int64_t>;

std::string Format(const std::string& fmt, const std::vector<FmtArg>& args);
