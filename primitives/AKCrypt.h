#pragma once
// The traditional ZIP cipher and its 12-byte encryption header.
#include <cstdint>
#include <string>

class TStream;

// Cipher state of one item. The fields are 64 bits wide but always hold
// 32-bit values.
struct TAKCryptKeys {
    uint64_t Key0 = 0;
    uint64_t Key1 = 0;
    uint64_t Key2 = 0;
};

// Key update with one plaintext byte.
void UpdateKeys(uint8_t c, TAKCryptKeys& keys);
// The next key-stream byte; the keys do not change.
uint8_t KeystreamByte(const TAKCryptKeys& keys);
// Start state: the three constants, then every byte of the password as is.
void InitKeys(const std::string& password, TAKCryptKeys& keys);
uint8_t EncryptByte(uint8_t p, TAKCryptKeys& keys);
// Encrypts buffer[start .. start + count - 1] in place; count <= 0 does nothing.
void EncryptBuffer(int64_t count, int64_t start, uint8_t* buffer, TAKCryptKeys& keys);
// Decrypts buffer[0 .. count - 1] in place; count <= 0 does nothing.
void DecryptBuffer(uint8_t* buffer, int64_t count, TAKCryptKeys& keys);
// InitKeys with the password, then decrypts the 12 header bytes in place.
void DecryptHeader(const std::string& password, TAKCryptKeys& keys, uint8_t header[12]);

// Checks an encryption header already read from the archive: decrypts a copy
// with the password and compares its last byte with the check byte (the high
// byte of the local header's time when bit 3 of the flags is set, else the top
// byte of its CRC-32). When true, keys stand on the first data byte.
bool CheckEncryptionHeader(const uint8_t header[12], const std::string& password, TAKCryptKeys& keys,
                           uint32_t crc32, uint16_t lastModTime, uint16_t flags);

// Builds the header for an item whose final CRC-32 is crc (ten random bytes
// from the system's secure source, then the CRC's bits 16-23 and 24-31),
// encrypts it with a fresh state for the password and writes the 12 bytes to
// dest one at a time. Keys are left ready for the item's data.
void MakeEncryptionHeader(TStream& dest, uint32_t crc, const std::string& password, TAKCryptKeys& keys);
