// The table defines the values; zlib's crc32 computes the same function many
// bytes at a time, so bulk data goes through it.
#include "primitives/AKCrc.h"

#include <array>
#include <climits>
#include <cstddef>

#include <zlib.h>

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        t[n] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x77073096u && kTable[255] == 0x2D02EF8Du);

// zlib complements on entry and on exit; undo both to work on the raw register.
uint32_t ZlibUpdate(uint32_t reg, const unsigned char* p, uint64_t len) {
    uLong crc = static_cast<uLong>(~reg & 0xFFFFFFFFu);
    while (len > 0) {
        uInt chunk = len > UINT_MAX ? UINT_MAX : static_cast<uInt>(len);
        crc = crc32(crc, p, chunk);
        p += chunk;
        len -= chunk;
    }
    return ~static_cast<uint32_t>(crc);
}

} // namespace

const uint32_t* CRC32Table() { return kTable.data(); }

uint32_t CRC32Update(uint32_t reg, const void* data, int32_t len) {
    if (data == nullptr || len <= 0) return reg;
    return ZlibUpdate(reg, static_cast<const unsigned char*>(data), static_cast<uint64_t>(len));
}

void UpdateCRC(const void* data, int64_t len, uint32_t& reg) {
    if (data == nullptr || len <= 0) return;
    reg = ZlibUpdate(reg, static_cast<const unsigned char*>(data), static_cast<uint64_t>(len));
}
