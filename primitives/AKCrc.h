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

#include <condition_variable>
#include <mutex>
#include <thread>

// Runs UpdateCRC on a block on a second core while the caller writes the same
// block out. Splitting and merging are bound by I/O; overlapped, the CRC costs
// them no time. The block must stay unchanged, and the register alive, until
// End returns. Small blocks, and a system that gives no thread, are done at once.
class TParallelCRC {
public:
    TParallelCRC() = default;
    ~TParallelCRC();
    TParallelCRC(const TParallelCRC&) = delete;
    TParallelCRC& operator=(const TParallelCRC&) = delete;

    void Begin(const void* data, int64_t len, uint32_t& reg);
    // Waits until the block given to Begin is done; does nothing when none is pending.
    void End();

private:
    void Loop();
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::thread worker_;
    const void* data_ = nullptr;
    int64_t len_ = 0;
    uint32_t* reg_ = nullptr;
    bool busy_ = false;
    bool quit_ = false;
};
