#pragma once
// CRC-32 of ZIP (reflected polynomial 0xEDB88320). The register is the raw
// running value: a checksum starts at 0xFFFFFFFF and the stored CRC is the
// complement of the register after the last byte.
#include <cstdint>

// Advances the register over len bytes; no initial value or final complement.
// A null pointer or a length of 0 or less returns the register unchanged.
uint32_t CRC32Update(uint32_t reg, const void* data, int32_t len);

// CRC32Update on a register the caller holds, for blocks of any length.
void UpdateCRC(const void* data, int64_t len, uint32_t& reg);

// True when bulk updates run on the carry-less multiply fold (x86-64 with
// PCLMULQDQ); otherwise zlib computes them. Both give the same values.
bool CRC32Accelerated();

// The standard 256-entry table (one step: t[(reg ^ byte) & 0xFF] ^ (reg >> 8)).
const uint32_t* CRC32Table();

// One table step of the register with one byte.
inline uint32_t CRC32Step(uint32_t reg, uint8_t b) {
    return CRC32Table()[(reg ^ b) & 0xFF] ^ (reg >> 8);
}
