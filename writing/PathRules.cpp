// How the add operation turns names and masks into absolute paths and
// stored names, and how one exclusion or no-compression mask is tested
// against a found file. "/" is the only separator; a name that begins with
// "/" is absolute; there is no drive and no server part.
#include <string>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "primitives/AKMasks.h"

namespace {

bool IsAbsolute(const std::string& s) {
    return !s.empty() && s[0] == '/';
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

std::string WithSlash(const std::string& s) {
    return platform::IncludeTrailingPathDelimiter(s);
}

// The last component of a relative path; a folder's trailing "/" is kept.
std::string LastComponent(const std::string& path) {
    const bool folder = !path.empty() && path.back() == '/';
    const std::string trimmed = folder ? path.substr(0, path.size() - 1) : path;
    const std::string leaf = platform::ExtractFileName(trimmed);
    return folder ? leaf + "/" : leaf;
}

// A relative mask names the file by its path below the base folder; a mask
// without any folder part (a trailing "/" only marks a folder) names it by
// its last component.
bool RelativeMaskMatches(const std::string& relPath, const std::string& mask) {
    std::string inner = mask;
    if (!inner.empty() && inner.back() == '/') inner.pop_back();
    const std::string n = inner.find('/') == std::string::npos ? LastComponent(relPath) : relPath;
    return MatchesMask(n, mask);
}

} // namespace

std::string TAKBaseArchiver::ResolvePath(const std::string& Folder, const std::string& Name,
                                         const std::string& Default) {
    std::string base = !Folder.empty() ? Folder : Default;
    // Without a folder and a default, names are taken from the process's
    // current folder (there is no "root of the current drive" to fall back to).
    if (base.empty()) base = platform::GetCurrentDir();
    base = WithSlash(base);

    if (!Name.empty()) {
        // Absolute names are only normalised, so that one file always has one
        // spelling (exclusions compare paths as text).
        if (IsAbsolute(Name)) return platform::ExpandFileName(Name);
        return platform::ExpandFileName(base + Name);
    }
    if (IsAbsolute(Folder)) return platform::ExpandFileName(Folder);
    // A relative folder that does not exist is left for the file system to
    // resolve (against the process's current folder).
    if (!Folder.empty() && !platform::DirectoryExists(base)) return Folder;
    return platform::ExpandFileName(base);
}

std::string TAKBaseArchiver::ResolveMask(const std::string& Mask, const std::string& Folder, bool& Relative) const {
    Relative = false;
    if (Mask.empty()) return Mask;
    if (IsAbsolute(Mask)) return Mask;
    const std::string d = WithSlash(ResolvePath(Folder, "", workingBaseDir_));
    if (StartsWith(Mask, "./")) return d + Mask.substr(2);
    // A mask that climbs is taken as it stands.
    if (Mask.find("../") != std::string::npos) return Mask;
    Relative = true;
    return d + Mask;
}

std::string TAKBaseArchiver::GetStoredName(const std::string& FileName, const std::string& BaseFolder,
                                           TAKStorePathMode Mode, const std::string& WorkingFolder) const {
    const std::string dir = ResolvePath(BaseFolder, "", WorkingFolder);
    std::string full = ResolvePath(dir, FileName, WorkingFolder);
    if (!full.empty() && full.back() == '/') full.pop_back();
    // A lone "." component names the folder it stands in. (A name such as
    // "notes." is a different file from "notes" here and keeps its dot.)
    if (full == "." || (full.size() >= 2 && full.compare(full.size() - 2, 2, "/.") == 0)) full.pop_back();

    std::string name;
    switch (Mode) {
    case spNoPath:
        name = platform::ExtractFileName(full);
        break;
    case spRelativePath: {
        const std::string r = platform::ExtractRelativePath(WithSlash(dir), full);
        // A file outside the base folder keeps its whole path.
        name = (r.find("../") != std::string::npos || r == "..") ? full : r;
        break;
    }
    case spFullPath:
        name = full;
        break;
    case spFullPathWithDrive:
        // There is no drive to keep: the full path as for spFullPath.
        name = platform::ExpandFileName(full);
        break;
    }
    // A stored name is never absolute.
    const size_t s = name.find_first_not_of('/');
    return s == std::string::npos ? std::string() : name.substr(s);
}

bool TAKBaseArchiver::FileMatchesMask(const std::string& FileName, const std::string& Mask, bool IsFolder) const {
    if (Mask == "*.*") return true;
    std::string file = FileName;
    std::string mask = Mask;
    if (IsFolder) {
        file = WithSlash(file);
        if (!mask.empty() && mask.back() != '*') mask = WithSlash(mask);
    }
    bool relative = false;
    const std::string full = ResolveMask(mask, workingBaseDir_, relative);
    if (full.empty()) return false;

    if (relative) {
        // full is the base folder followed by mask: match the file's path
        // below the working folder, or below BaseDir when that differs.
        const std::string work = WithSlash(ResolvePath(workingBaseDir_, "", workingBaseDir_));
        const std::string n = platform::ExtractRelativePath(work, file);
        if (RelativeMaskMatches(n, mask)) return true;
        if (baseDir_.empty()) return false;
        const std::string base = WithSlash(ResolvePath(baseDir_, "", workingBaseDir_));
        if (base == work) return false;
        return RelativeMaskMatches(platform::ExtractRelativePath(base, file), mask);
    }

    const std::string fileFolder = platform::AnsiLowerCase(platform::ExtractFilePath(file));
    const std::string maskFolder = platform::AnsiLowerCase(platform::ExtractFilePath(full));
    if (fileFolder == maskFolder) return MatchesMask(file, full);
    // "<folder>/*.*" takes in everything in that folder and below it.
    if (platform::ExtractFileName(full) != "*.*") return false;
    return fileFolder.compare(0, maskFolder.size(), maskFolder) == 0;
}
