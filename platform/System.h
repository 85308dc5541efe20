#pragma once
// Temporary files, drives, code pages, locale, memory and the process lock.
#include <cstdint>
#include <mutex>
#include <string>

namespace platform {

// The system temporary folder with a trailing "/": $TMPDIR, else /tmp.
std::string SystemTempDir();
// Creates a new empty file "<dir>/<prefix>XXXXXX" and returns its name;
// empty when the system refused.
std::string MakeUniqueTempFile(const std::string& dir, const std::string& prefix);

// True when the block device behind the path reports removable in /sys.
bool IsRemovableMedia(const std::string& path);
// Bytes available to the caller on the file system of the path (or of its
// nearest existing parent); -1 when unknown.
int64_t DiskFreeBytes(const std::string& path);
// Best effort; false when not possible.
bool SetVolumeLabel(const std::string& path, const std::string& label);

// UTF-8 <-> IBM PC code page 437.
std::string AnsiToOem(const std::string& s);
std::string OemToAnsi(const std::string& s);
// True when every character of the UTF-8 string has a form in code page 437.
bool ConvertsToOemLosslessly(const std::string& s);
bool IsAscii(const std::string& s);
bool IsValidUtf8(const std::string& s);

// The process locale's language ("tr", "en", ...; "C" gives "").
std::string LocaleLanguage();
// Case mapping by code point through the process locale; invalid UTF-8 bytes
// are kept as they are. Turkish rule when the language is "tr".
std::string AnsiUpperCase(const std::string& s);
std::string AnsiLowerCase(const std::string& s);
char32_t UpperCodePoint(char32_t c);
char32_t LowerCodePoint(char32_t c);
// Comparison by code point; <0, 0, >0.
int AnsiCompareStr(const std::string& a, const std::string& b);
int AnsiCompareText(const std::string& a, const std::string& b);

// Decodes one UTF-8 sequence at s[i]; returns its byte length (1 for an
// invalid byte, whose value is returned as the code point).
int DecodeUtf8(const std::string& s, size_t i, char32_t& cp);

uint64_t AvailablePhysicalMemory();

// The one process-wide recursive lock.
std::recursive_mutex& ProcessLock();

} // namespace platform
