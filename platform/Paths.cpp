#include "platform/Paths.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace {

std::vector<std::string> SplitComponents(const std::string& path)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        const size_t j = path.find('/', i);
        const size_t end = j == std::string::npos ? path.size() : j;
        if (end > i) parts.push_back(path.substr(i, end - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return parts;
}

} // namespace

std::string GetCurrentDir()
{
    std::vector<char> buf(4096);
    for (;;) {
        if (::getcwd(buf.data(), buf.size()) != nullptr) return std::string(buf.data());
        if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
        buf.resize(buf.size() * 2);
    }
}

std::string ExpandFileName(const std::string& name)
{
    if (name.empty()) return std::string();
    const std::string full = name[0] == '/' ? name : GetCurrentDir() + "/" + name;
    // Purely textual: ".." removes the component before it, whatever it is
    // on disk, and never climbs above the root.
    std::vector<std::string> out;
    for (auto& part : SplitComponents(full)) {
        if (part == ".") continue;
        if (part == "..") {
            if (!out.empty()) out.pop_back();
            continue;
        }
        out.push_back(std::move(part));
    }
    std::string result;
    for (const auto& part : out) result += "/" + part;
    if (result.empty()) return "/";
    if (name.back() == '/') result += '/';
    return result;
}

std::string ExtractRelativePath(const std::string& baseName, const std::string& destName)
{
    const std::vector<std::string> base = SplitComponents(ExtractFilePath(ExpandFileName(baseName)));
    const std::string destFull = ExpandFileName(destName);
    const std::vector<std::string> dest = SplitComponents(ExtractFilePath(destFull));

    size_t common = 0;
    while (common < base.size() && common < dest.size() && base[common] == dest[common]) ++common;
    std::string result;
    for (size_t i = common; i < base.size(); ++i) result += "../";
    for (size_t i = common; i < dest.size(); ++i) result += dest[i] + "/";
    return result + ExtractFileName(destFull);
}

std::string ExtractFilePath(const std::string& name)
{
    const size_t p = name.rfind('/');
    return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

std::string ExtractFileDir(const std::string& name)
{
    const size_t p = name.rfind('/');
    if (p == std::string::npos) return std::string();
    // The root keeps its "/", and so does a name whose last "/" is doubled.
    if (p == 0 || name[p - 1] == '/') return name.substr(0, p + 1);
    return name.substr(0, p);
}

std::string ExtractFileName(const std::string& name)
{
    const size_t p = name.rfind('/');
    return p == std::string::npos ? name : name.substr(p + 1);
}

std::string ExtractFileExt(const std::string& name)
{
    const size_t p = name.find_last_of("./");
    if (p == std::string::npos || name[p] != '.') return std::string();
    return name.substr(p);
}

std::string ChangeFileExt(const std::string& name, const std::string& ext)
{
    const size_t p = name.find_last_of("./");
    if (p == std::string::npos || name[p] != '.') return name + ext;
    return name.substr(0, p) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& s)
{
    if (!s.empty() && s.back() == PathDelim) return s;
    return s + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& s)
{
    // The root stays "/": an empty name would mean the current folder.
    if (s.size() > 1 && s.back() == PathDelim) return s.substr(0, s.size() - 1);
    return s;
}

std::string ForwardSlashes(std::string name)
{
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

} // namespace platform
