// The traditional ZIP cipher: key start state, buffer operations, our own
// encryption header, and interchange with Info-ZIP and 7-Zip in both
// directions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Streams.h"
#include "primitives/AKCrc.h"
#include "primitives/AKCrypt.h"
#include "tests/common/TestSupport.h"

namespace {

uint32_t CrcOf(const std::string& data) {
    uint32_t reg = 0xFFFFFFFFu;
    UpdateCRC(data.data(), static_cast<int64_t>(data.size()), reg);
    return ~reg;
}

uint16_t Get16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1]) << 8);
}
uint32_t Get32(const std::string& d, size_t at) { return Get16(d, at) | static_cast<uint32_t>(Get16(d, at + 2)) << 16; }
void Put16(std::string& d, uint32_t v) {
    d.push_back(static_cast<char>(v & 0xFF));
    d.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& d, uint32_t v) {
    Put16(d, v & 0xFFFF);
    Put16(d, v >> 16);
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Our header followed by our encryption of the data, as the writer produces it.
std::string EncryptItem(const std::string& plain, const std::string& password) {
    TMemoryStream out;
    TAKCryptKeys keys;
    MakeEncryptionHeader(out, CrcOf(plain), password, keys);
    std::vector<uint8_t> body = Bytes(plain);
    EncryptBuffer(static_cast<int64_t>(body.size()), 0, body.data(), keys);
    std::string result(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
    result.append(body.begin(), body.end());
    return result;
}

// A one-item stored ZIP archive around an item encrypted by us.
std::string OneItemArchive(const std::string& name, const std::string& plain, const std::string& password) {
    const std::string item = EncryptItem(plain, password);
    const uint32_t crc = CrcOf(plain);
    const uint16_t time = 0x6000, date = 0x5A21;
    std::string zip;
    Put32(zip, 0x04034b50);
    Put16(zip, 20); Put16(zip, 1); Put16(zip, 0); Put16(zip, time); Put16(zip, date);
    Put32(zip, crc); Put32(zip, static_cast<uint32_t>(item.size())); Put32(zip, static_cast<uint32_t>(plain.size()));
    Put16(zip, static_cast<uint32_t>(name.size())); Put16(zip, 0);
    zip += name;
    zip += item;
    const size_t cdStart = zip.size();
    Put32(zip, 0x02014b50);
    Put16(zip, 20); Put16(zip, 20); Put16(zip, 1); Put16(zip, 0); Put16(zip, time); Put16(zip, date);
    Put32(zip, crc); Put32(zip, static_cast<uint32_t>(item.size())); Put32(zip, static_cast<uint32_t>(plain.size()));
    Put16(zip, static_cast<uint32_t>(name.size())); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0); Put16(zip, 0);
    Put32(zip, 0); Put32(zip, 0);
    zip += name;
    const size_t cdSize = zip.size() - cdStart;
    Put32(zip, 0x06054b50);
    Put16(zip, 0); Put16(zip, 0); Put16(zip, 1); Put16(zip, 1);
    Put32(zip, static_cast<uint32_t>(cdSize)); Put32(zip, static_cast<uint32_t>(cdStart)); Put16(zip, 0);
    return zip;
}

} // namespace

TEST(Cipher, EmptyPasswordLeavesTheConstants) {
    TAKCryptKeys keys{1, 2, 3};
    InitKeys("", keys);
    EXPECT_EQ(keys.Key0, 0x12345678u);
    EXPECT_EQ(keys.Key1, 0x23456789u);
    EXPECT_EQ(keys.Key2, 0x34567890u);
}

TEST(Cipher, KeysStayWithin32Bits) {
    TAKCryptKeys keys;
    InitKeys(RandomBytes(300, 1), keys);
    for (int i = 0; i < 1000; ++i) {
        UpdateKeys(static_cast<uint8_t>(i * 37), keys);
        ASSERT_EQ(keys.Key0 >> 32, 0u);
        ASSERT_EQ(keys.Key1 >> 32, 0u);
        ASSERT_EQ(keys.Key2 >> 32, 0u);
    }
}

TEST(Cipher, BufferOperationsAgreeWithBytewiseAndRoundTrip) {
    const std::string plain = RandomBytes(10000, 2);
    TAKCryptKeys a, b;
    InitKeys("pässword", a);
    InitKeys("pässword", b);
    std::vector<uint8_t> buf = Bytes(plain);
    EncryptBuffer(static_cast<int64_t>(buf.size()), 0, buf.data(), a);
    for (size_t i = 0; i < plain.size(); ++i) {
        uint8_t k = KeystreamByte(b);
        uint8_t x = EncryptByte(static_cast<uint8_t>(plain[i]), b);
        ASSERT_EQ(x, buf[i]) << i;
        ASSERT_EQ(x, static_cast<uint8_t>(plain[i]) ^ k);
    }
    EXPECT_EQ(a.Key0, b.Key0);
    EXPECT_EQ(a.Key1, b.Key1);
    EXPECT_EQ(a.Key2, b.Key2);

    // Decrypting in blocks of different sizes continues one stream.
    TAKCryptKeys d;
    InitKeys("pässword", d);
    DecryptBuffer(buf.data(), 1, d);
    DecryptBuffer(buf.data() + 1, 4095, d);
    DecryptBuffer(buf.data() + 4096, 0, d);
    DecryptBuffer(buf.data() + 4096, static_cast<int64_t>(buf.size()) - 4096, d);
    EXPECT_EQ(std::string(buf.begin(), buf.end()), plain);
}

TEST(Cipher, EncryptBufferFromStartIndex) {
    const std::string plain = RandomBytes(64, 3);
    std::vector<uint8_t> buf = Bytes(plain);
    TAKCryptKeys k1, k2;
    InitKeys("x", k1);
    InitKeys("x", k2);
    EncryptBuffer(static_cast<int64_t>(buf.size()) - 2, 2, buf.data(), k1);
    std::vector<uint8_t> tail(plain.begin() + 2, plain.end());
    EncryptBuffer(static_cast<int64_t>(tail.size()), 0, tail.data(), k2);
    EXPECT_EQ(buf[0], static_cast<uint8_t>(plain[0]));
    EXPECT_EQ(buf[1], static_cast<uint8_t>(plain[1]));
    EXPECT_EQ(std::vector<uint8_t>(buf.begin() + 2, buf.end()), tail);
    // A count of zero or less does nothing.
    std::vector<uint8_t> copy = buf;
    EncryptBuffer(0, 0, buf.data(), k1);
    EncryptBuffer(-3, 0, buf.data(), k1);
    DecryptBuffer(buf.data(), -1, k1);
    EXPECT_EQ(buf, copy);
    EXPECT_EQ(k1.Key0, k2.Key0);
}

TEST(Cipher, OwnHeaderPassesOwnCheck) {
    const uint32_t crc = 0xAB123456u;
    TMemoryStream out;
    TAKCryptKeys writer;
    MakeEncryptionHeader(out, crc, "secret", writer);
    ASSERT_EQ(out.Size(), 12);
    uint8_t header[12];
    std::memcpy(header, out.Memory(), 12);

    // The plain header carries the CRC's two high bytes at its end.
    uint8_t plain[12];
    std::memcpy(plain, header, 12);
    TAKCryptKeys k;
    DecryptHeader("secret", k, plain);
    EXPECT_EQ(plain[10], 0x12);
    EXPECT_EQ(plain[11], 0xAB);

    TAKCryptKeys reader;
    EXPECT_TRUE(CheckEncryptionHeader(header, "secret", reader, crc, 0x0000, 0));
    // The reader's state continues where the writer's left off.
    EXPECT_EQ(reader.Key0, writer.Key0);
    EXPECT_EQ(reader.Key1, writer.Key1);
    EXPECT_EQ(reader.Key2, writer.Key2);
    // The header argument is not changed by the check.
    EXPECT_EQ(std::memcmp(header, out.Memory(), 12), 0);

    // Bit 3 set: the check byte is the high byte of the time; the CRC field is not looked at.
    EXPECT_TRUE(CheckEncryptionHeader(header, "secret", reader, 0, 0xAB00, 0x0008));
    EXPECT_TRUE(CheckEncryptionHeader(header, "secret", reader, 0, 0xABFF, 0x0009));
    EXPECT_FALSE(CheckEncryptionHeader(header, "secret", reader, crc, 0x1200, 0x0008));
    EXPECT_FALSE(CheckEncryptionHeader(header, "secret", reader, 0x12123456u, 0xAB00, 0));
}

TEST(Cipher, HeadersDiffer) {
    // Ten random bytes: two headers for the same item are not equal.
    TMemoryStream a, b;
    TAKCryptKeys k;
    MakeEncryptionHeader(a, 0, "p", k);
    MakeEncryptionHeader(b, 0, "p", k);
    EXPECT_NE(std::memcmp(a.Memory(), b.Memory(), 12), 0);
}

TEST(CipherPeers, PeerEncryptedItemsDecrypt) {
    struct Peer {
        const char* tool;
        const char* command;
    } peers[] = {
        {"zip", "zip -q -0 -P secret a.zip f.bin"},
        {"7zz", "7zz a -bd -tzip -mx0 -psecret -mem=ZipCrypto a.zip f.bin"},
    };
    int ran = 0;
    for (const Peer& peer : peers) {
        if (!HaveTool(peer.tool)) continue;
        SCOPED_TRACE(peer.tool);
        ++ran;
        TempFolder dir;
        const std::string plain = RandomBytes(5000, 4);
        WriteFile(dir.File("f.bin"), plain);
        std::string log;
        ASSERT_EQ(RunCommand("cd " + ShellQuote(dir.Path()) + " && " + peer.command, &log), 0) << log;
        const std::string zip = ReadFile(dir.File("a.zip"));

        ASSERT_GE(zip.size(), 30u);
        ASSERT_EQ(Get32(zip, 0), 0x04034b50u);
        const uint16_t flags = Get16(zip, 6);
        const uint16_t time = Get16(zip, 10);
        const uint32_t crc = Get32(zip, 14);
        ASSERT_EQ(flags & 1, 1);
        ASSERT_EQ(Get16(zip, 8), 0); // stored
        ASSERT_EQ(Get32(zip, 18), plain.size() + 12);
        const size_t data = 30 + Get16(zip, 26) + Get16(zip, 28);
        ASSERT_GE(zip.size(), data + 12 + plain.size());
        uint8_t header[12];
        std::memcpy(header, zip.data() + data, 12);

        TAKCryptKeys keys;
        ASSERT_TRUE(CheckEncryptionHeader(header, "secret", keys, crc, time, flags));
        std::vector<uint8_t> body(zip.begin() + static_cast<std::ptrdiff_t>(data + 12),
                                  zip.begin() + static_cast<std::ptrdiff_t>(data + 12 + plain.size()));
        DecryptBuffer(body.data(), static_cast<int64_t>(body.size()), keys);
        EXPECT_EQ(std::string(body.begin(), body.end()), plain);

        // A wrong password passes the one-byte check about once in 256; it
        // never yields the data.
        int passed = 0;
        for (int i = 0; i < 64; ++i) {
            const std::string wrong = "wrong" + std::to_string(i);
            TAKCryptKeys k;
            if (!CheckEncryptionHeader(header, wrong, k, crc, time, flags)) continue;
            ++passed;
            std::vector<uint8_t> trial(zip.begin() + static_cast<std::ptrdiff_t>(data + 12),
                                       zip.begin() + static_cast<std::ptrdiff_t>(data + 12 + plain.size()));
            DecryptBuffer(trial.data(), static_cast<int64_t>(trial.size()), k);
            EXPECT_NE(std::string(trial.begin(), trial.end()), plain);
        }
        EXPECT_LT(passed, 10);
    }
    if (ran == 0) GTEST_SKIP() << "neither zip nor 7zz is installed";
}

TEST(CipherPeers, PeersDecryptOurItems) {
    TempFolder dir;
    const std::string plain = RandomBytes(20000, 5);
    WriteFile(dir.File("ours.zip"), OneItemArchive("f.bin", plain, "secret"));
    int ran = 0;
    if (HaveTool("unzip")) {
        ++ran;
        std::string log;
        EXPECT_EQ(RunCommand("cd " + ShellQuote(dir.Path()) + " && unzip -q -P secret -d u ours.zip", &log), 0) << log;
        EXPECT_EQ(ReadFile(dir.File("u/f.bin")), plain);
        EXPECT_NE(RunCommand("cd " + ShellQuote(dir.Path()) + " && unzip -q -P wrong -d w ours.zip", &log), 0);
    }
    if (ran == 0 && HaveTool("python3")) {
        ++ran;
        std::string out;
        EXPECT_EQ(RunCommand("cd " + ShellQuote(dir.Path()) +
                                 " && python3 -c \"import zipfile,sys; "
                                 "sys.stdout.buffer.write(zipfile.ZipFile('ours.zip').read('f.bin', pwd=b'secret'))\" > p.bin",
                             &out),
                  0)
            << out;
        EXPECT_EQ(ReadFile(dir.File("p.bin")), plain);
    }
    if (ran == 0) GTEST_SKIP() << "neither unzip nor python3 is installed";
}
