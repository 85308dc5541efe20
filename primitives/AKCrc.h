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

#include <atomic>
#include <condition_variable>
#include <functional>
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

    // Reads len bytes at offset through ReadAt and keeps their CRC, while the
    // caller moves the same bytes elsewhere without ever seeing them (a copy
    // inside the kernel). ReadAt(buffer, count, offset) returns the bytes
    // read and must be safe beside the caller's own use of the file.
    using TReadAt = std::function<int64_t(void* buffer, int64_t count, int64_t offset)>;
    void BeginRange(TReadAt ReadAt, int64_t offset, int64_t len, uint32_t& reg);

    // Waits until the job given to Begin or BeginRange is done and returns
    // the bytes it covered (fewer than asked when a range read came up
    // short or was stopped); 0 when none was pending.
    int64_t End();
    // Ends a pending range job early, at its next read, and waits for it.
    void Stop();

private:
    void Loop();
    int64_t RunRange();
    bool StartWorker();
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::thread worker_;
    const void* data_ = nullptr;
    TReadAt readAt_;
    int64_t offset_ = 0;
    int64_t len_ = 0;
    int64_t covered_ = 0;
    uint32_t* reg_ = nullptr;
    bool busy_ = false;
    bool quit_ = false;
    std::atomic<bool> stop_{false};
};
