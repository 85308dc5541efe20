// CRC-32 throughput of UpdateCRC over a 256 MiB buffer, against the
// byte-at-a-time table loop it replaces; and the cipher's buffer loops, which
// run over every byte of encrypted items.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "primitives/AKCrc.h"
#include "primitives/AKCrypt.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double BestSeconds(int runs, F&& f) {
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        auto t0 = Clock::now();
        f();
        std::chrono::duration<double> d = Clock::now() - t0;
        best = std::min(best, d.count());
    }
    return best;
}

uint32_t TableCrc(uint32_t reg, const uint8_t* p, size_t n) {
    const uint32_t* t = CRC32Table();
    for (size_t i = 0; i < n; ++i) reg = t[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

void Report(const char* what, size_t bytes, double seconds) {
    std::printf("%-28s %8.2f GB/s  (%zu MiB in %.3f s)\n", what, static_cast<double>(bytes) / seconds / 1e9,
                bytes >> 20, seconds);
}

} // namespace

int main() {
    const size_t size = size_t{256} << 20;
    std::vector<uint8_t> buf(size);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        buf[i] = static_cast<uint8_t>(x);
    }

    uint32_t fast = 0, slow = 0;
    double tFast = BestSeconds(3, [&] {
        uint32_t reg = 0xFFFFFFFFu;
        UpdateCRC(buf.data(), static_cast<int64_t>(size), reg);
        fast = ~reg;
    });
    double tSlow = BestSeconds(1, [&] { slow = ~TableCrc(0xFFFFFFFFu, buf.data(), size); });
    Report("UpdateCRC", size, tFast);
    Report("byte-at-a-time table CRC", size, tSlow);
    if (fast != slow) {
        std::printf("MISMATCH: %08X vs %08X\n", fast, slow);
        return 1;
    }
    std::printf("CRC-32 %08X, speed-up %.1fx\n", fast, tSlow / tFast);

    const size_t cipherBytes = size_t{64} << 20;
    TAKCryptKeys keys;
    InitKeys("benchmark", keys);
    double tEnc = BestSeconds(1, [&] { EncryptBuffer(static_cast<int64_t>(cipherBytes), 0, buf.data(), keys); });
    InitKeys("benchmark", keys);
    double tDec = BestSeconds(1, [&] { DecryptBuffer(buf.data(), static_cast<int64_t>(cipherBytes), keys); });
    Report("EncryptBuffer", cipherBytes, tEnc);
    Report("DecryptBuffer", cipherBytes, tDec);
    return 0;
}
