#pragma once
// Item-name matching: the recursive-star wildcard matcher and its character
// comparison, which ignores case as the process locale defines it (with the
// Turkish dotted/dotless i rule). Names are UTF-8: one multi-byte sequence is
// one character; bytes that are not valid UTF-8 are characters of their own.
#include <string>

// (Re)builds the case tables from the process locale. Done automatically on
// first use; call it explicitly after selecting the locale at start, before
// other threads match names.
void InitStrFunc();

// "*" matches any run of characters but not an empty rest of the name when
// more mask characters follow it; "?" matches one character; a mask of exactly
// "*.*" matches everything. Null pointers count as empty strings.
bool WildMatch(const char* name, const char* mask, bool ignoreCase);

// Compare at most maxLen characters of two zero-terminated strings; 0 when
// equal, otherwise the sign of the first difference by (upper-cased) code point.
int CompareCharsIgnoreCase(const char* a, const char* b, int maxLen);
int CompareChars(const char* a, const char* b, int maxLen);

// The archiver's item-name test: "*.*" matches every name, a mask ending in
// "." matches only names without an extension, an empty mask matches nothing.
bool AKMatchName(const std::string& name, const std::string& mask);
