// CRC-32 throughput of UpdateCRC over a 256 MiB buffer, against zlib's crc32,
// the byte-at-a-time table loop and a plain read of the same memory (the
// ceiling); also within the cache, where the fold itself is the limit. And the
// cipher's buffer loops, which run over every byte of encrypted items.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <zlib.h>

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

// Reads every byte once, four independent chains like the fold.
uint64_t ReadAll(const uint8_t* p, size_t n) {
    uint64_t a = 0, b = 0, c = 0, d = 0;
    for (size_t i = 0; i + 32 <= n; i += 32) {
        uint64_t w[4];
        std::memcpy(w, p + i, sizeof w);
        a ^= w[0];
        b += w[1];
        c ^= w[2];
        d += w[3];
    }
    return a ^ b ^ c ^ d;
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
    uint32_t viaZlib = 0;
    double tZlib = BestSeconds(3, [&] {
        viaZlib = static_cast<uint32_t>(crc32(0, buf.data(), static_cast<uInt>(size)));
    });
    volatile uint64_t sink = 0;
    double tRead = BestSeconds(3, [&] { sink = sink + ReadAll(buf.data(), size); });
    double tSlow = BestSeconds(1, [&] { slow = ~TableCrc(0xFFFFFFFFu, buf.data(), size); });

    // Within the cache: 128 KiB, 2048 times over.
    const size_t small = size_t{128} << 10;
    const int rounds = 2048;
    uint32_t cachedReg = 0;
    double tCached = BestSeconds(3, [&] {
        uint32_t reg = 0xFFFFFFFFu;
        for (int r = 0; r < rounds; ++r) UpdateCRC(buf.data(), static_cast<int64_t>(small), reg);
        cachedReg = reg;
    });

    std::printf("UpdateCRC runs on %s\n", CRC32Accelerated() ? "the PCLMULQDQ fold" : "zlib");
    Report("UpdateCRC", size, tFast);
    Report("zlib crc32", size, tZlib);
    Report("byte-at-a-time table CRC", size, tSlow);
    Report("plain read of the buffer", size, tRead);
    Report("UpdateCRC, 128 KiB cached", small * rounds, tCached);
    uint32_t cachedSlow = 0xFFFFFFFFu;
    for (int r = 0; r < rounds; ++r) cachedSlow = TableCrc(cachedSlow, buf.data(), small);
    if (fast != slow || viaZlib != slow || cachedReg != cachedSlow) {
        std::printf("MISMATCH: %08X, zlib %08X vs %08X\n", fast, viaZlib, slow);
        return 1;
    }
    std::printf("CRC-32 %08X, speed-up %.1fx over the table, %.1fx over zlib\n", fast, tSlow / tFast,
                tZlib / tFast);

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
