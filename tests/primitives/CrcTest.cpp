// CRC-32: known value, empty input, block independence and agreement with a
// plain bitwise computation.
#include <gtest/gtest.h>

#include <algorithm>
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
