// Finding the files of a volume set on disk.
#include "volumes/VolumeFiles.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

} // namespace

std::string ResolveExistingVolumeName(const std::string& name)
{
    if (name.empty() || platform::FileExists(name)) return name;
    const std::string folder = platform::ExtractFilePath(name);
    const std::string wanted = platform::ExtractFileName(name);
    if (wanted.empty()) return name;

    std::vector<std::string> matches;
    std::vector<platform::TSearchRec> entries;
    try {
        entries = platform::FindFiles((folder.empty() ? "./" : folder) + "*.*", faAnyFile);
    } catch (const std::exception&) {
        return name; // an unreadable folder holds no usable variant either
    }
    for (const platform::TSearchRec& rec : entries) {
        if (rec.Attr & faDirectory) continue;
        if (EqualIgnoringAsciiCase(rec.Name, wanted)) matches.push_back(rec.Name);
    }
    if (matches.empty()) return name;
    std::sort(matches.begin(), matches.end());
    return folder + matches.front();
}

bool TakeExistingVolumeName(std::string& name)
{
    const std::string found = ResolveExistingVolumeName(name);
    if (!platform::FileExists(found)) return false;
    name = found;
    return true;
}
