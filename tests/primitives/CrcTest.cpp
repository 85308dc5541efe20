// CRC-32: known value, empty input, block independence and agreement with a
// plain bitwise computation and a byte-at-a-time table over every length and
// alignment the folding path distinguishes (head to a 16-byte boundary, 64-byte
// blocks, 16-byte blocks, tail).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "primitives/AKCrc.h"
#include "tests/common/TestSupport.h"

namespace {

// One bit at a time, straight from the polynomial: no table shared with the code under test.
uint32_t BitwiseCrcUpdate(uint32_t reg, const std::string& data) {
    for (unsigned char b : data) {
        reg ^= b;
        for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg;
}

// Byte-at-a-time, with a table the test builds from the bitwise definition.
uint32_t TableCrcUpdate(uint32_t reg, const unsigned char* p, size_t n) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) t[i] = BitwiseCrcUpdate(i, std::string(1, '\0'));
        return t;
    }();
    for (size_t i = 0; i < n; ++i) reg = table[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

// Random bytes at a known distance from a 16-byte boundary.
class AlignedBytes {
public:
    AlignedBytes(size_t n, uint32_t seed) : store_(n + 32, '\0') {
        auto addr = reinterpret_cast<uintptr_t>(store_.data());
        base_ = reinterpret_cast<unsigned char*>(store_.data()) + ((16 - (addr & 15)) & 15);
        const std::string bytes = RandomBytes(n + 16, seed);
        std::copy(bytes.begin(), bytes.end(), base_);
    }
    // The byte at offset from the boundary; n bytes stay readable after it for offset < 16.
    const unsigned char* At(size_t offset) const { return base_ + offset; }

private:
    std::string store_;
    unsigned char* base_ = nullptr;
};

const uint32_t kStartRegisters[] = {0xFFFFFFFFu, 0u, 0x89ABCDEFu};

} // namespace

TEST(Crc32, CheckValue) {
    const char text[] = "123456789";
    EXPECT_EQ(~CRC32Update(0xFFFFFFFFu, text, 9), 0xCBF43926u);
    uint32_t reg = 0xFFFFFFFFu;
    UpdateCRC(text, 9, reg);
    EXPECT_EQ(~reg, 0xCBF43926u);
}

TEST(Crc32, EmptyInputLeavesRegister) {
    const char byte = 'x';
    EXPECT_EQ(CRC32Update(0x1234ABCDu, &byte, 0), 0x1234ABCDu);
    EXPECT_EQ(CRC32Update(0x1234ABCDu, &byte, -5), 0x1234ABCDu);
    EXPECT_EQ(CRC32Update(0x1234ABCDu, nullptr, 10), 0x1234ABCDu);
    uint32_t reg = 0xFFFFFFFFu;
    UpdateCRC(&byte, 0, reg);
    UpdateCRC(nullptr, 100, reg);
    EXPECT_EQ(~reg, 0u); // the CRC of no data
}

TEST(Crc32, TableIsTheStandardOne) {
    const uint32_t* table = CRC32Table();
    for (uint32_t n = 0; n < 256; ++n) {
        EXPECT_EQ(table[n], BitwiseCrcUpdate(n, std::string(1, '\0'))) << n;
        EXPECT_EQ(CRC32Step(0, static_cast<uint8_t>(n)), table[n]);
    }
}

TEST(Crc32, MatchesBitwiseOnRandomData) {
    for (size_t size : {1u, 3u, 15u, 16u, 17u, 255u, 4096u, 100003u}) {
        std::string data = RandomBytes(size, static_cast<uint32_t>(size));
        SCOPED_TRACE(size);
        EXPECT_EQ(CRC32Update(0xFFFFFFFFu, data.data(), static_cast<int32_t>(data.size())),
                  BitwiseCrcUpdate(0xFFFFFFFFu, data));
        // Any start value, not only the usual one.
        EXPECT_EQ(CRC32Update(0x5A5A0F0Fu, data.data(), static_cast<int32_t>(data.size())),
                  BitwiseCrcUpdate(0x5A5A0F0Fu, data));
    }
}

TEST(Crc32, AnySplitIntoBlocksGivesTheSameValue) {
    const std::string data = RandomBytes(300000, 7);
    uint32_t whole = 0xFFFFFFFFu;
    UpdateCRC(data.data(), static_cast<int64_t>(data.size()), whole);
    std::string sizes = RandomBytes(4096, 8);
    for (size_t pattern : {1u, 2u, 7u, 4096u, 65536u, 0u}) {
        uint32_t reg = 0xFFFFFFFFu;
        size_t pos = 0, s = 0;
        while (pos < data.size()) {
            // pattern 0: block sizes drawn at random (1 to 1024 bytes, some empty calls).
            size_t n = pattern != 0 ? pattern : static_cast<unsigned char>(sizes[s++ % sizes.size()]) * 4;
            n = std::min(n, data.size() - pos);
            UpdateCRC(data.data() + pos, static_cast<int64_t>(n), reg);
            pos += n;
        }
        EXPECT_EQ(reg, whole) << "blocks of " << pattern;
    }
}

TEST(Crc32, EveryShortLengthAtEveryAlignment) {
    const AlignedBytes data(300, 11);
    for (uint32_t start : kStartRegisters) {
        for (size_t offset = 0; offset < 16; ++offset) {
            for (size_t n = 0; n <= 300; ++n) {
                const unsigned char* p = data.At(offset);
                const uint32_t expected = TableCrcUpdate(start, p, n);
                ASSERT_EQ(CRC32Update(start, p, static_cast<int32_t>(n)), expected)
                    << "start " << start << " offset " << offset << " length " << n;
                uint32_t reg = start;
                UpdateCRC(p, static_cast<int64_t>(n), reg);
                ASSERT_EQ(reg, expected) << "start " << start << " offset " << offset << " length " << n;
            }
        }
    }
}

TEST(Crc32, LongerLengthsAroundBlockBoundariesAtEveryAlignment) {
    const AlignedBytes data(70000, 12);
    for (size_t n : {319u, 320u, 321u, 383u, 1023u, 1024u, 1039u, 4095u, 4096u, 4111u, 65536u, 65551u, 69999u}) {
        for (size_t offset = 0; offset < 16; ++offset) {
            const unsigned char* p = data.At(offset);
            for (uint32_t start : kStartRegisters) {
                ASSERT_EQ(CRC32Update(start, p, static_cast<int32_t>(n)), TableCrcUpdate(start, p, n))
                    << "start " << start << " offset " << offset << " length " << n;
            }
        }
    }
}

TEST(Crc32, BigBufferInRandomBlocks) {
    // A few MiB cut at random points: block sizes from empty to ~100 KiB, mostly
    // short ones, so splits land at every alignment and inside every stage.
    const std::string data = RandomBytes((size_t{3} << 20) + 77, 13);
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const uint32_t expected = TableCrcUpdate(0xFFFFFFFFu, bytes, data.size());
    uint32_t whole = 0xFFFFFFFFu;
    UpdateCRC(bytes, static_cast<int64_t>(data.size()), whole);
    EXPECT_EQ(whole, expected);

    uint32_t x = 0x2545F491u;
    for (int round = 0; round < 4; ++round) {
        uint32_t reg = 0xFFFFFFFFu;
        size_t pos = 0;
        while (pos < data.size()) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            size_t n = (x & 3) == 0 ? (x >> 8) % 100000 : (x >> 8) % 600;
            n = std::min(n, data.size() - pos);
            const uint32_t before = reg;
            UpdateCRC(bytes + pos, static_cast<int64_t>(n), reg);
            // Each block on its own as well, so a wrong block is named.
            ASSERT_EQ(reg, TableCrcUpdate(before, bytes + pos, n)) << "block at " << pos << " of " << n;
            pos += n;
        }
        EXPECT_EQ(reg, expected) << "round " << round;
    }
}

#if defined(__x86_64__)
TEST(Crc32, FoldRunsWhereTheCpuHasIt) {
    // Otherwise the tests above would check only zlib on this machine.
    __builtin_cpu_init();
    EXPECT_EQ(CRC32Accelerated(), __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1"));
}
#endif

TEST(ParallelCrc, SameValueAsInline) {
    const std::string data = RandomBytes(3 * 1048576 + 123, 99);
    uint32_t inline_ = 0xFFFFFFFFu;
    UpdateCRC(data.data(), static_cast<int64_t>(data.size()), inline_);
    // Blocks of several sizes, small ones (done at once) among them, handed
    // over one after the other as the pipelines do.
    for (int64_t block : {int64_t(1000), int64_t(65536), int64_t(1048576), int64_t(3 * 1048576 + 123)}) {
        uint32_t reg = 0xFFFFFFFFu;
        TParallelCRC crc;
        for (int64_t pos = 0; pos < static_cast<int64_t>(data.size()); pos += block) {
            crc.Begin(data.data() + pos, std::min<int64_t>(block, static_cast<int64_t>(data.size()) - pos), reg);
            crc.End();
        }
        crc.End(); // nothing pending: returns at once
        EXPECT_EQ(reg, inline_) << block;
    }
    // Destroyed with a block pending: it finishes first.
    uint32_t reg = 0xFFFFFFFFu;
    {
        TParallelCRC crc;
        crc.Begin(data.data(), static_cast<int64_t>(data.size()), reg);
    }
    EXPECT_EQ(reg, inline_);
}

// A range job reads its own bytes through the reader it is given: the value
// is that of the range, whatever its offset; a reader that comes up short or
// throws ends the job, which reports how far it got.
TEST(ParallelCrc, RangeReadsItsOwnBytesAndReportsHowFarItGot) {
    const std::string data = RandomBytes(3 * 1048576 + 123, 98);
    int64_t limit = static_cast<int64_t>(data.size()); // the reader's end
    bool throwing = false;
    const TParallelCRC::TReadAt readAt = [&](void* buffer, int64_t count, int64_t offset) -> int64_t {
        if (offset >= limit) {
            if (throwing) throw std::runtime_error("gone");
            return 0;
        }
        const int64_t n = std::min(count, limit - offset);
        std::memcpy(buffer, data.data() + offset, static_cast<size_t>(n));
        return n;
    };
    auto crcOf = [&](int64_t offset, int64_t len) {
        uint32_t reg = 0xFFFFFFFFu;
        UpdateCRC(data.data() + offset, len, reg);
        return reg;
    };
    struct Case {
        int64_t Offset, Length, Limit;
        bool Throwing;
        int64_t Covered;
    };
    const int64_t all = static_cast<int64_t>(data.size());
    for (const Case& c : {Case{0, all, all, false, all}, Case{12345, 2 * 1048576 + 7, all, false, 2 * 1048576 + 7},
                          Case{5, 1000, all, false, 1000}, // small: done at once
                          Case{0, all, 1048576 + 3, false, 1048576 + 3},
                          Case{100, all - 100, 1048576, true, 1048576 - 100}}) {
        SCOPED_TRACE(std::to_string(c.Offset) + "+" + std::to_string(c.Length) + " up to " + std::to_string(c.Limit));
        limit = c.Limit;
        throwing = c.Throwing;
        uint32_t reg = 0xFFFFFFFFu;
        TParallelCRC crc;
        crc.BeginRange(readAt, c.Offset, c.Length, reg);
        EXPECT_EQ(crc.End(), c.Covered);
        EXPECT_EQ(reg, crcOf(c.Offset, c.Covered));
        EXPECT_EQ(crc.End(), 0); // nothing pending any more
    }
}
