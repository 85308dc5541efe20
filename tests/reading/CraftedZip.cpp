#include "tests/reading/CraftedZip.h"

#include "tests/reading/ReadingSupport.h"

namespace {

// Entries arrive as files in a folder: entry N is N.name, N.data and N.meta
// (method, password, date, time, block size, then the wrong passwords, one
// a line).
const char* const kWriter = R"PY(
import os, random, struct, sys, zipfile, zlib

TABLE = []
for n in range(256):
    c = n
    for _ in range(8):
        c = (0xEDB88320 ^ (c >> 1)) if c & 1 else c >> 1
    TABLE.append(c)

def crc_byte(reg, b):
    return TABLE[(reg ^ b) & 0xFF] ^ (reg >> 8)

class Keys:
    def __init__(self, pw):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for b in pw:
            self.update(b)
    def update(self, b):
        k0, k1, k2 = self.k
        k0 = crc_byte(k0, b)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = crc_byte(k2, k1 >> 24)
        self.k = [k0, k1, k2]
    def stream(self):
        t = (self.k[2] | 2) & 0xFFFF
        return ((t * (t ^ 1)) >> 8) & 0xFF
    def encrypt(self, data):
        out = bytearray()
        for b in data:
            out.append(b ^ self.stream())
            self.update(b)
        return bytes(out)
    def decrypt(self, data):
        out = bytearray()
        for b in data:
            p = b ^ self.stream()
            self.update(p)
            out.append(p)
        return bytes(out)

path, folder = sys.argv[1], sys.argv[2]
count = int(open(os.path.join(folder, 'count')).read())
out, central = bytearray(), bytearray()
for i in range(count):
    name = open(os.path.join(folder, '%d.name' % i), 'rb').read()
    data = open(os.path.join(folder, '%d.data' % i), 'rb').read()
    meta = open(os.path.join(folder, '%d.meta' % i), 'rb').read().split(b'\n')
    method, pw, date, time = int(meta[0]), meta[1], int(meta[2]), int(meta[3])
    block = int(meta[4])
    wrong = [w for w in meta[5:] if w]
    crc = zlib.crc32(data)
    if method == 8:
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        body = c.compress(data) + c.flush()
    elif block:
        # The block format: a 50-byte header (unprotected, zlib), then each
        # block's length and its own complete zlib stream.
        pieces = [data[k:k + block] for k in range(0, len(data), block)]
        body = struct.pack('<iIIIiBBHI', block, 0, len(data), 0, len(pieces), 0, 1, 0xFFFF, 0) + bytes(22)
        for piece in pieces:
            z = zlib.compress(piece)
            body += struct.pack('<I', len(z)) + z
    else:
        body = data
    flags = 0
    if pw:
        flags |= 1
        seed = i
        while True:
            rng = random.Random(seed)
            header = bytes(rng.randrange(256) for _ in range(11)) + bytes([crc >> 24])
            enc = Keys(pw).encrypt(header)
            if all(Keys(w).decrypt(enc)[11] != crc >> 24 for w in wrong):
                break
            seed += 1000
        body = Keys(pw).encrypt(header + body)
    offset = len(out)
    out += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, method, time, date, crc, len(body), len(data),
                       len(name), 0) + name + body
    central += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, flags, method, time, date, crc, len(body),
                           len(data), len(name), 0, 0, 0, 0, 0x20, offset) + name
cd = len(out)
out += central + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), cd, 0)
open(path, 'wb').write(out)

z = zipfile.ZipFile(path)
for i, info in enumerate(z.infolist()):
    meta = open(os.path.join(folder, '%d.meta' % i), 'rb').read().split(b'\n')
    want = open(os.path.join(folder, '%d.data' % i), 'rb').read()
    if info.compress_type in (0, 8):
        assert z.read(info, pwd=meta[1] or None) == want, info.filename
)PY";

} // namespace

void WriteCraftedZip(const std::string& path, const std::vector<TCraftedEntry>& entries) {
    TempFolder folder;
    WriteFile(folder.File("count"), std::to_string(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const TCraftedEntry& e = entries[i];
        const std::string base = folder.File(std::to_string(i));
        WriteFile(base + ".name", e.Name);
        WriteFile(base + ".data", e.Data);
        std::string meta = std::to_string(e.Method) + "\n" + e.Password + "\n" + std::to_string(e.Date) + "\n" +
                           std::to_string(e.Time) + "\n" + std::to_string(e.BlockSize) + "\n";
        for (const auto& w : e.WrongPasswords) meta += w + "\n";
        WriteFile(base + ".meta", meta);
    }
    RunPython(kWriter, {path, folder.Path()});
}
