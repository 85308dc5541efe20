#pragma once
// Path operations on "/" paths: a name that begins with "/" is absolute,
// there is no drive part.
#include <string>

namespace platform {

constexpr char PathDelim = '/';

// Folds "." and "..", makes relative names absolute against the current folder.
// Keeps a trailing "/".
std::string ExpandFileName(const std::string& name);
// Relative path from baseName's folder part (up to its last "/") to destName;
// uses "../" to climb. Both are expanded first.
std::string ExtractRelativePath(const std::string& baseName, const std::string& destName);
// Folder part including its final "/" (empty when none).
std::string ExtractFilePath(const std::string& name);
// Folder part without a trailing "/" (except for the root).
std::string ExtractFileDir(const std::string& name);
// Part after the last "/".
std::string ExtractFileName(const std::string& name);
// From the last "." of the name part, the dot included; empty when none.
std::string ExtractFileExt(const std::string& name);
std::string ChangeFileExt(const std::string& name, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& s);
std::string ExcludeTrailingPathDelimiter(const std::string& s);
std::string GetCurrentDir();
// Stored names from archives made on Windows separate folders with "\";
// here both count: every "\" becomes "/".
std::string ForwardSlashes(std::string name);

} // namespace platform
