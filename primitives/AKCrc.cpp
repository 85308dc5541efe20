// The table defines the values. Bulk data goes through a carry-less multiply
// fold (PCLMULQDQ) where the CPU has it, and through zlib's crc32 otherwise and
// for short blocks; all of them compute the same function.
#include "primitives/AKCrc.h"

#include <algorithm>
#include <array>
#include <climits>
#include <system_error>
#include <vector>
#include <cstddef>

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#define AKCRC_CLMUL 1
#endif

namespace {

// The reflected form is the definition (bit j of the register is the
// coefficient of x^(31-j)); everything else is derived from it.
constexpr uint32_t kReflectedPoly = 0xEDB88320u;

constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (kReflectedPoly ^ (c >> 1)) : (c >> 1);
        t[n] = c;
    }
    return t;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x77073096u && kTable[255] == 0x2D02EF8Du);

uint32_t TableUpdate(uint32_t reg, const unsigned char* p, size_t len) {
    for (size_t i = 0; i < len; ++i) reg = kTable[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

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

#if AKCRC_CLMUL

// Folding constants, derived from the polynomial.
//
// A 16-byte lane loaded little-endian holds the message bits in stream order:
// bit i is the coefficient of x^(127-i) relative to the end of the lane, so
// the low quadword carries the high-degree half. PCLMULQDQ of two such
// reflected operands yields their reflected product one bit short of the top.
// A constant K stored as Reflect32(K) << 1 makes up for that bit; then
// multiplying the low quadword of a lane that lies d bits before the target
// by the constant for x^(d+32) mod P, and its high quadword by that for
// x^(d-32) mod P, gives a 128-bit value congruent modulo P to the lane moved
// d bits on, ready to be xored into the target.

constexpr uint32_t Reflect32(uint32_t v) {
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i) r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

// P without its x^32 term, in the ordinary bit order (bit k = coefficient of x^k).
constexpr uint32_t kNormalPoly = Reflect32(kReflectedPoly);
static_assert(kNormalPoly == 0x04C11DB7u);

// x^e mod P in the ordinary bit order.
constexpr uint32_t XPowModP(int e) {
    uint32_t v = 1;
    for (int i = 0; i < e; ++i) v = (v & 0x80000000u) ? (v << 1) ^ kNormalPoly : v << 1;
    return v;
}
static_assert(XPowModP(31) == 0x80000000u && XPowModP(32) == kNormalPoly);

// Multiplier for x^e as a PCLMULQDQ operand (33 bits wide).
constexpr uint64_t FoldConstant(int e) { return static_cast<uint64_t>(Reflect32(XPowModP(e))) << 1; }

// Reflects the 33-bit value v (bit k -> bit 32-k).
constexpr uint64_t Reflect33(uint64_t v) {
    uint64_t r = 0;
    for (int i = 0; i <= 32; ++i) r |= ((v >> i) & 1u) << (32 - i);
    return r;
}

// floor(x^64 / P) by long division, in the ordinary bit order (33 bits).
constexpr uint64_t BarrettQuotient() {
    const uint64_t p = (uint64_t{1} << 32) | kNormalPoly;
    // x^64 - x^32 * P: the first quotient term consumes the x^64 that does not fit.
    uint64_t rem = static_cast<uint64_t>(kNormalPoly) << 32;
    uint64_t q = uint64_t{1} << 32;
    for (int i = 63; i >= 32; --i) {
        if ((rem >> i) & 1u) {
            q |= uint64_t{1} << (i - 32);
            rem ^= p << (i - 32);
        }
    }
    return q;
}

// x^64 mod P recomputed from the quotient: x^64 = q * P + r with deg r < 32,
// so the part of q * P from x^32 up must be exactly x^64.
constexpr bool QuotientIsExact(uint64_t q) {
    const uint64_t p = (uint64_t{1} << 32) | kNormalPoly;
    uint64_t lowProduct = 0; // bits 0..63 of q * P
    bool bit64 = false;
    for (int i = 0; i <= 32; ++i) {
        if ((q >> i) & 1u) {
            lowProduct ^= p << i;
            if (i == 32) bit64 = !bit64; // p's x^32 term times x^32
        }
    }
    return bit64 && (lowProduct >> 32) == 0 && static_cast<uint32_t>(lowProduct) == XPowModP(64);
}
static_assert(QuotientIsExact(BarrettQuotient()));

constexpr uint64_t kFold4Low = FoldConstant(4 * 128 + 32);  // low half, lane 512 bits back
constexpr uint64_t kFold4High = FoldConstant(4 * 128 - 32); // high half, lane 512 bits back
constexpr uint64_t kFold1Low = FoldConstant(128 + 32);
constexpr uint64_t kFold1High = FoldConstant(128 - 32);
constexpr uint64_t kReduce96 = FoldConstant(96);           // 128 bits (times x^32) to 96
constexpr uint64_t kReduce64 = FoldConstant(64);           // 96 bits to 64
constexpr uint64_t kBarrettMu = Reflect33(BarrettQuotient());
constexpr uint64_t kPoly33 = Reflect33((uint64_t{1} << 32) | kNormalPoly);
static_assert(kPoly33 == ((static_cast<uint64_t>(kReflectedPoly) << 1) | 1u));

// Where the fold starts paying off against zlib's call.
constexpr size_t kClmulMinimum = 64;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i lane, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(lane, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// len >= kClmulMinimum.
__attribute__((target("pclmul,sse4.1"))) uint32_t ClmulUpdate(uint32_t reg, const unsigned char* p, size_t len) {
    // Bring the loads onto 16-byte boundaries so none of them straddles a cache line.
    size_t head = (16 - (reinterpret_cast<uintptr_t>(p) & 15)) & 15;
    reg = TableUpdate(reg, p, head);
    p += head;
    len -= head;
    if (len < 64) return ZlibUpdate(reg, p, len);

    // The register enters as the first 32 message bits.
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    len -= 64;

    const __m128i k4 = _mm_set_epi64x(static_cast<long long>(kFold4High), static_cast<long long>(kFold4Low));
    while (len >= 64) {
        x0 = Fold(x0, k4, Load(p));
        x1 = Fold(x1, k4, Load(p + 16));
        x2 = Fold(x2, k4, Load(p + 32));
        x3 = Fold(x3, k4, Load(p + 48));
        p += 64;
        len -= 64;
    }

    const __m128i k1 = _mm_set_epi64x(static_cast<long long>(kFold1High), static_cast<long long>(kFold1Low));
    __m128i x = Fold(x0, k1, x1);
    x = Fold(x, k1, x2);
    x = Fold(x, k1, x3);
    while (len >= 16) {
        x = Fold(x, k1, Load(p));
        p += 16;
        len -= 16;
    }

    // The register is x * x^32 mod P. Fold the low (high-degree) quadword onto
    // the high one: 96 bits.
    const __m128i kr = _mm_set_epi64x(static_cast<long long>(kReduce64), static_cast<long long>(kReduce96));
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i t = _mm_xor_si128(_mm_clmulepi64_si128(x, kr, 0x00), _mm_srli_si128(x, 8));
    // Fold its top 32 bits (lowest dword): 64 bits.
    t = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), kr, 0x10), _mm_srli_si128(t, 4));
    // Barrett: q = floor(t / x^32 * mu / x^32), then t + q * P leaves the remainder
    // in the upper dword.
    const __m128i kb = _mm_set_epi64x(static_cast<long long>(kPoly33), static_cast<long long>(kBarrettMu));
    __m128i q = _mm_and_si128(_mm_clmulepi64_si128(_mm_and_si128(t, low32), kb, 0x00), low32);
    t = _mm_xor_si128(t, _mm_clmulepi64_si128(q, kb, 0x10));
    reg = static_cast<uint32_t>(_mm_extract_epi32(t, 1));

    return TableUpdate(reg, p, len);
}

bool DetectClmul() {
    __builtin_cpu_init(); // may run before the library's constructors
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

bool HaveClmul() {
    static const bool have = DetectClmul();
    return have;
}

#endif // AKCRC_CLMUL

uint32_t Update(uint32_t reg, const unsigned char* p, uint64_t len) {
#if AKCRC_CLMUL
    if (len >= kClmulMinimum && HaveClmul()) return ClmulUpdate(reg, p, static_cast<size_t>(len));
#endif
    return ZlibUpdate(reg, p, len);
}

} // namespace

const uint32_t* CRC32Table() { return kTable.data(); }

bool CRC32Accelerated() {
#if AKCRC_CLMUL
    return HaveClmul();
#else
    return false;
#endif
}

uint32_t CRC32Update(uint32_t reg, const void* data, int32_t len) {
    if (data == nullptr || len <= 0) return reg;
    return Update(reg, static_cast<const unsigned char*>(data), static_cast<uint64_t>(len));
}

void UpdateCRC(const void* data, int64_t len, uint32_t& reg) {
    if (data == nullptr || len <= 0) return;
    reg = Update(reg, static_cast<const unsigned char*>(data), static_cast<uint64_t>(len));
}

namespace {
// Below this a thread hand-over costs more than it saves.
constexpr int64_t MinParallelBlock = 64 * 1024;
} // namespace

TParallelCRC::~TParallelCRC() {
    Stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

bool TParallelCRC::StartWorker() {
    if (worker_.joinable()) return true;
    try {
        worker_ = std::thread([this] { Loop(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void TParallelCRC::Begin(const void* data, int64_t len, uint32_t& reg) {
    End();
    if (len < MinParallelBlock || !StartWorker()) {
        UpdateCRC(data, len, reg);
        covered_ = len;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        data_ = data;
        readAt_ = nullptr;
        len_ = len;
        reg_ = &reg;
        busy_ = true;
    }
    wake_.notify_one();
}

void TParallelCRC::BeginRange(TReadAt ReadAt, int64_t offset, int64_t len, uint32_t& reg) {
    End();
    std::unique_lock<std::mutex> lock(mutex_);
    data_ = nullptr;
    readAt_ = std::move(ReadAt);
    offset_ = offset;
    len_ = len;
    reg_ = &reg;
    stop_ = false;
    if (len < MinParallelBlock || !StartWorker()) {
        // Done here and now; End reports it as usual.
        lock.unlock();
        const int64_t covered = RunRange();
        lock.lock();
        covered_ = covered;
        return;
    }
    busy_ = true;
    lock.unlock();
    wake_.notify_one();
}

int64_t TParallelCRC::RunRange() {
    // Small enough to stay in the core's cache, so that reading the bytes
    // costs little more than the CRC itself.
    constexpr int64_t kPiece = 256 * 1024;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(len_, kPiece)));
    int64_t done = 0;
    while (done < len_ && !stop_) {
        int64_t n = 0;
        try {
            n = readAt_(buffer.data(), std::min(len_ - done, kPiece), offset_ + done);
        } catch (...) {
            break; // a reader that throws ends the range like a short read
        }
        if (n <= 0) break;
        UpdateCRC(buffer.data(), n, *reg_);
        done += n;
    }
    return done;
}

int64_t TParallelCRC::End() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !busy_; });
    const int64_t covered = covered_;
    covered_ = 0;
    readAt_ = nullptr;
    return covered;
}

void TParallelCRC::Stop() {
    stop_ = true;
    End();
}

void TParallelCRC::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return busy_ || quit_; });
        if (!busy_) return; // quit with nothing pending
        const void* data = data_;
        const bool range = readAt_ != nullptr;
        const int64_t len = len_;
        uint32_t* reg = reg_;
        lock.unlock();
        int64_t covered = len;
        if (range)
            covered = RunRange();
        else
            UpdateCRC(data, len, *reg);
        lock.lock();
        covered_ = covered;
        busy_ = false;
        done_.notify_all();
    }
}
