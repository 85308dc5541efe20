// Traditional ZIP encryption. The buffer loops keep the keys in 32-bit locals
// and store them back once, since they run over every byte of encrypted items.
#include "primitives/AKCrypt.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "platform/Exception.h"
#include "platform/Streams.h"
#include "primitives/AKCrc.h"

namespace {

struct TKeys32 {
    uint32_t k0, k1, k2;
    explicit TKeys32(const TAKCryptKeys& k)
        : k0(static_cast<uint32_t>(k.Key0)), k1(static_cast<uint32_t>(k.Key1)), k2(static_cast<uint32_t>(k.Key2)) {}
    void StoreTo(TAKCryptKeys& k) const {
        k.Key0 = k0;
        k.Key1 = k1;
        k.Key2 = k2;
    }
    inline void Update(const uint32_t* table, uint8_t c) {
        k0 = table[(k0 ^ c) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1u; // modulo 2^32, as the cipher defines
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    inline uint8_t Stream() const {
        uint32_t t = (k2 | 2u) & 0xFFFFu; // bits above 15 cannot reach bits 8-15 of the product
        return static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
    }
};

// Fills buf with bytes from the kernel's secure random source.
void SecureRandomBytes(uint8_t* buf, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = getrandom(buf + done, len - done, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    if (done == len) return;
    // Kernels without getrandom(2): the same source through the device.
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        while (done < len) {
            ssize_t n = ::read(fd, buf + done, len - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (!(n < 0 && errno == EINTR)) {
                break;
            }
        }
        ::close(fd);
    }
    if (done != len) throw Exception("Cannot obtain random data for the encryption header");
}

} // namespace

void UpdateKeys(uint8_t c, TAKCryptKeys& keys) {
    TKeys32 k(keys);
    k.Update(CRC32Table(), c);
    k.StoreTo(keys);
}

uint8_t KeystreamByte(const TAKCryptKeys& keys) { return TKeys32(keys).Stream(); }

void InitKeys(const std::string& password, TAKCryptKeys& keys) {
    TKeys32 k(TAKCryptKeys{0x12345678u, 0x23456789u, 0x34567890u});
    const uint32_t* table = CRC32Table();
    for (char ch : password) k.Update(table, static_cast<uint8_t>(ch));
    k.StoreTo(keys);
}

uint8_t EncryptByte(uint8_t p, TAKCryptKeys& keys) {
    TKeys32 k(keys);
    uint8_t x = static_cast<uint8_t>(p ^ k.Stream());
    k.Update(CRC32Table(), p);
    k.StoreTo(keys);
    return x;
}

void EncryptBuffer(int64_t count, int64_t start, uint8_t* buffer, TAKCryptKeys& keys) {
    if (count <= 0 || buffer == nullptr) return;
    TKeys32 k(keys);
    const uint32_t* table = CRC32Table();
    uint8_t* p = buffer + start;
    uint8_t* end = p + count;
    for (; p != end; ++p) {
        uint8_t plain = *p;
        *p = static_cast<uint8_t>(plain ^ k.Stream());
        k.Update(table, plain);
    }
    k.StoreTo(keys);
}

void DecryptBuffer(uint8_t* buffer, int64_t count, TAKCryptKeys& keys) {
    if (count <= 0 || buffer == nullptr) return;
    TKeys32 k(keys);
    const uint32_t* table = CRC32Table();
    uint8_t* p = buffer;
    uint8_t* end = p + count;
    for (; p != end; ++p) {
        uint8_t plain = static_cast<uint8_t>(*p ^ k.Stream());
        *p = plain;
        k.Update(table, plain);
    }
    k.StoreTo(keys);
}

void DecryptHeader(const std::string& password, TAKCryptKeys& keys, uint8_t header[12]) {
    InitKeys(password, keys);
    DecryptBuffer(header, 12, keys);
}

bool CheckEncryptionHeader(const uint8_t header[12], const std::string& password, TAKCryptKeys& keys,
                           uint32_t crc32, uint16_t lastModTime, uint16_t flags) {
    uint8_t plain[12];
    std::memcpy(plain, header, sizeof plain);
    DecryptHeader(password, keys, plain);
    uint8_t expected = (flags & 0x0008) != 0 ? static_cast<uint8_t>(lastModTime >> 8)
                                             : static_cast<uint8_t>(crc32 >> 24);
    return plain[11] == expected;
}

void MakeEncryptionHeader(TStream& dest, uint32_t crc, const std::string& password, TAKCryptKeys& keys) {
    uint8_t header[12];
    SecureRandomBytes(header, 10);
    header[10] = static_cast<uint8_t>((crc >> 16) & 0xFF);
    header[11] = static_cast<uint8_t>(crc >> 24);
    InitKeys(password, keys);
    for (uint8_t& b : header) b = EncryptByte(b, keys);
    // In one piece: behind the volume writer every write is a placement.
    dest.WriteBuffer(header, sizeof header);
}
