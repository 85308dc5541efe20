#pragma once
// Archives built by a small Python writer for cases that no tool makes on
// purpose: names that climb out of the destination, traditional encryption
// with a known header, chosen methods and versions. Python's zipfile checks
// every archive it can read before the test uses it.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TCraftedEntry {
    TCraftedEntry() = default;
    TCraftedEntry(std::string name, std::string data, int method = 0, std::string password = "",
                  std::vector<std::string> wrong = {})
        : Name(std::move(name)), Data(std::move(data)), Method(method), Password(std::move(password)),
          WrongPasswords(std::move(wrong)) {}

    std::string Name;
    std::string Data;
    int Method = 0;            // 0 stored, 8 deflated
    std::string Password;      // not empty: traditional encryption
    // Passwords that must fail the header's check byte (the ten random
    // header bytes are chosen until they do, so the test is exact).
    std::vector<std::string> WrongPasswords;
    // Above 0 (with a method other than 0, 8 and 9): the data goes in the
    // block format, in zlib blocks of this size.
    int BlockSize = 0;
    uint16_t Date = (41 << 9) | (6 << 5) | 15; // 2021-06-15
    uint16_t Time = (12 << 11) | (34 << 5) | 28;
};

// Writes the archive: local headers with data, the central directory, the
// end record. Fails the current test when Python fails.
void WriteCraftedZip(const std::string& path, const std::vector<TCraftedEntry>& entries);
