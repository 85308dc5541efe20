// ZIP record values and layouts: thresholds, version values, the central
// extra field (built, parsed, written back), stored names; and whole small
// archives built from these records, checked against Python's zipfile and
// Info-ZIP, and archives made by Info-ZIP parsed with them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/DirArray.h"
#include "container/ZipRecords.h"
#include "tests/common/TestSupport.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string Str(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

TExtraBlock Block(uint16_t id, std::vector<uint8_t> data) { return MakeExtraBlock(id, std::move(data)); }

// An item whose 32-bit fields hold the markers as zmAlways writes them.
TDirItem Zip64Item(int64_t size, int64_t offset) {
    TDirItem item;
    item.Header.UncompressedSize = Field32(size, true);
    item.Header.CompressedSize = Field32(size, true);
    item.Header.LocalHeaderOffset = Field32(offset, true);
    item.UncompressedSize64 = size;
    item.CompressedSize64 = size;
    item.LocalHeaderOffset64 = offset;
    item.Zip64 = true;
    return item;
}

void Parse(TDirItem& item, const std::vector<uint8_t>& field) {
    // A buffer of exactly the field's size: any read past it shows under ASan.
    std::vector<uint8_t> exact(field);
    ParseCentralExtraField(item, exact.empty() ? nullptr : exact.data(), exact.size());
}

std::string PythonList(const std::string& zipPath) {
    // One line per entry: name, CRC, sizes, offset, flags, date-time, data (hex).
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "for i in z.infolist():\n"
        "    line = '%s|%d|%d|%d|%d|%d|%s|%s\\n' % (i.filename, i.CRC, i.compress_size, i.file_size,\n"
        "        i.header_offset, i.flag_bits, '-'.join(map(str, i.date_time)), z.read(i).hex())\n"
        "    sys.stdout.buffer.write(line.encode('utf-8'))\n";
    std::string out;
    const int rc = RunCommand("python3 -c " + ShellQuote(script) + " " + ShellQuote(zipPath), &out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string h;
    for (unsigned char c : s) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

// ---- a tiny archive writer and reader made of the record helpers ----------

struct Entry {
    std::string name;
    std::string data;
    bool oem = false;
    TZip64Mode mode = zmAuto;
};

constexpr int32_t Stamp = (44 << 25) | (5 << 21) | (6 << 16) | (12 << 11) | (34 << 5) | 28; // 2024-05-06 12:34:56

std::string BuildArchive(const std::vector<Entry>& entries, bool zip64EndRecords = false) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> central;
    for (const Entry& e : entries) {
        const int64_t size = static_cast<int64_t>(e.data.size());
        const int64_t offset = static_cast<int64_t>(out.size());
        const bool always = e.mode == zmAlways;
        const bool zip64 = SizeNeedsZip64(size, e.mode) || SizeNeedsZip64(offset, e.mode);
        TDirItem item;
        TCentralHeaderImage& h = item.Header;
        h.Signature = SigCentralHeader;
        h.VersionMadeBy = h.VersionNeeded = ItemVersionValue(zip64, e.oem);
        h.Flags = NewItemFlags(false, false);
        h.Method = 0;
        h.LastModTime = DosTime(Stamp);
        h.LastModDate = DosDate(Stamp);
        h.Crc32 = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        h.CompressedSize = h.UncompressedSize = Field32(size, always);
        h.LocalHeaderOffset = Field32(offset, always);
        h.ExternalAttributes = 0x20;
        item.UncompressedSize64 = item.CompressedSize64 = size;
        item.LocalHeaderOffset64 = offset;
        item.StoredName = e.name;
        const std::string name = EncodeItemName(item, e.oem);

        const TLocalFileHeader local = LocalHeaderFromCentral(h);
        AppendBytes(out, local);
        AppendBytes(out, name);
        if (local.ExtraFieldLength != 0)
            AppendBytes(out, BuildLocalZip64Block(size, size));
        AppendBytes(out, e.data);

        h.ExtraFieldLength = CentralExtraFieldLength(item);
        AppendBytes(central, h);
        AppendBytes(central, name);
        AppendCentralExtraField(item, central);
    }
    const int64_t start = static_cast<int64_t>(out.size());
    const int64_t n = static_cast<int64_t>(entries.size());
    const int64_t dirSize = static_cast<int64_t>(central.size());
    AppendBytes(out, central);
    TEndRecord end = MakeEndRecord(0, 0, n, dirSize, start, 0);
    if (zip64EndRecords) {
        const int64_t at = static_cast<int64_t>(out.size());
        AppendBytes(out, MakeZip64EndRecord(0, 0, n, dirSize, start));
        AppendBytes(out, MakeZip64Locator(0, at));
        // Markers everywhere: a reader must take the values from the ZIP64 record.
        end.ThisDisk = end.StartDisk = end.EntriesOnDisk = end.TotalEntries = Zip64Marker16;
        end.DirectorySize = end.DirectoryOffset = Zip64Marker32;
    }
    AppendBytes(out, RecordBytes(end, ""));
    return Str(out);
}

struct ParsedEntry {
    TDirItem item;
    std::vector<uint8_t> rawExtra;
};

// Reads the central directory of a whole single-file archive.
std::vector<ParsedEntry> ParseArchive(const std::string& archive, bool oem = false) {
    const auto* p = reinterpret_cast<const uint8_t*>(archive.data());
    const size_t size = archive.size();
    size_t endAt = std::string::npos;
    for (size_t i = size >= 22 ? size - 22 + 1 : 0; i-- > 0;) {
        TEndRecord r{};
        if (ReadRecordAt(p, size, i, r) && r.Signature == SigEndRecord && i + 22 + r.CommentLength == size) {
            endAt = i;
            break;
        }
    }
    std::vector<ParsedEntry> result;
    if (endAt == std::string::npos) {
        ADD_FAILURE() << "no end record";
        return result;
    }
    const TEndRecord end = ReadRecord<TEndRecord>(p + endAt);
    uint64_t count = end.TotalEntries;
    uint64_t pos = end.DirectoryOffset;
    TZip64Locator loc{};
    if (endAt >= 20 && ReadRecordAt(p, size, endAt - 20, loc) && loc.Signature == SigZip64Locator) {
        TZip64EndRecord z{};
        EXPECT_TRUE(ReadRecordAt(p, size, loc.EndRecordOffset, z));
        EXPECT_EQ(+z.Signature, SigZip64EndRecord);
        EXPECT_EQ(+z.RestSize, 44u);
        count = z.TotalEntries;
        pos = z.DirectoryOffset;
    }
    for (uint64_t k = 0; k < count; ++k) {
        ParsedEntry e;
        TCentralHeaderImage& h = e.item.Header;
        if (!ReadRecordAt(p, size, pos, h) || h.Signature != SigCentralHeader) {
            ADD_FAILURE() << "bad central header " << k;
            break;
        }
        pos += sizeof h;
        EXPECT_LE(pos + h.FileNameLength + h.ExtraFieldLength + h.FileCommentLength, size);
        e.item.StoredName = DecodeStoredName(archive.substr(pos, h.FileNameLength), oem, h.Flags);
        pos += h.FileNameLength;
        e.rawExtra.assign(p + pos, p + pos + h.ExtraFieldLength);
        if (h.ExtraFieldLength != 0)
            Parse(e.item, e.rawExtra);
        pos += h.ExtraFieldLength;
        e.item.ItemComment = archive.substr(pos, h.FileCommentLength);
        pos += h.FileCommentLength;
        result.push_back(std::move(e));
    }
    return result;
}

} // namespace

TEST(ZipRecords, Zip64Thresholds) {
    struct Case {
        int64_t value;
        TZip64Mode mode;
        bool needs;
    };
    for (const Case& c : std::vector<Case>{{0xFFFFFFFELL, zmAuto, false},
                                           {0xFFFFFFFFLL, zmAuto, true},
                                           {0x100000000LL, zmDisabled, true},
                                           {0xFFFFFFFELL, zmDisabled, false},
                                           {0, zmAlways, true},
                                           {0, zmAuto, false}}) {
        EXPECT_EQ(SizeNeedsZip64(c.value, c.mode), c.needs) << c.value << " mode " << int(c.mode);
        EXPECT_EQ(Field32(c.value, c.mode == zmAlways) == Zip64Marker32, c.needs) << c.value;
    }
    EXPECT_FALSE(CountNeedsZip64(65534));
    EXPECT_TRUE(CountNeedsZip64(65535));
    EXPECT_EQ(Field16(65534), 65534);
    EXPECT_EQ(Field16(65535), 0xFFFF);
    EXPECT_EQ(Field16(-1), 0);
    EXPECT_EQ(Field32(-1), 0u);

    const TEndRecord at = MakeEndRecord(0, 0, 65535, 100, 200, 0);
    EXPECT_EQ(+at.TotalEntries, 0xFFFF);
    EXPECT_EQ(+at.EntriesOnDisk, 0xFFFF);
    EXPECT_TRUE(EndRecordsNeedZip64(at, 300));
    const TEndRecord below = MakeEndRecord(3, 2, 65534, 0xFFFFFFFELL, 0xFFFFFFFFLL, 7);
    EXPECT_EQ(+below.TotalEntries, 65534);
    EXPECT_EQ(+below.ThisDisk, 3);
    EXPECT_EQ(+below.StartDisk, 2);
    EXPECT_EQ(+below.DirectorySize, 0xFFFFFFFEu);
    EXPECT_EQ(+below.DirectoryOffset, 0xFFFFFFFFu);
    EXPECT_EQ(+below.CommentLength, 7);
    EXPECT_FALSE(EndRecordsNeedZip64(MakeEndRecord(65534, 65534, 65534, 10, 20, 0), 0xFFFFFFFELL));
    EXPECT_TRUE(EndRecordsNeedZip64(MakeEndRecord(0, 0, 0, 0, 0, 0), 0xFFFFFFFFLL));
    EXPECT_TRUE(EndRecordsNeedZip64(MakeEndRecord(0xFFFF, 0, 0, 0, 0, 0), 0));
    EXPECT_TRUE(EndRecordsNeedZip64(below, 0)); // its directory offset holds the marker
    EXPECT_EQ(+MakeEndRecord(-1, -1, 0, 0, 0, 0).ThisDisk, 0);
}

TEST(ZipRecords, VersionValuesAndFlags) {
    EXPECT_EQ(ItemVersionValue(true, true), 45);
    EXPECT_EQ(ItemVersionValue(true, false), 45);
    EXPECT_EQ(ItemVersionValue(false, true), 20);
    EXPECT_EQ(ItemVersionValue(false, false), 2836);
    EXPECT_EQ(ItemVersionValue(false, false), 0x0B14);
    EXPECT_EQ(NewItemFlags(false, false), 0);
    EXPECT_EQ(NewItemFlags(false, true), 1);
    EXPECT_EQ(NewItemFlags(true, true), 2);

    EXPECT_EQ(DosTime(Stamp), (12 << 11) | (34 << 5) | 28);
    EXPECT_EQ(DosDate(Stamp), (44 << 9) | (5 << 5) | 6);
    EXPECT_EQ(DosStamp(DosDate(Stamp), DosTime(Stamp)), Stamp);
    // A date past 2107 sets the top bit: stamps compare as signed numbers.
    EXPECT_LT(DosStamp(0x8021, 0), 0);
    TCentralHeaderImage h{};
    h.LastModDate = DosDate(Stamp);
    h.LastModTime = DosTime(Stamp);
    EXPECT_EQ(ItemStamp(h), Stamp);
}

TEST(ZipRecords, RecordLayoutsRoundTrip) {
    TLocalFileHeader l{};
    l.Signature = SigLocalHeader;
    l.VersionNeeded = 20;
    l.Flags = 0x0809;
    l.Method = 8;
    l.LastModTime = 0x1234;
    l.LastModDate = 0x5678;
    l.Crc32 = 0xDEADBEEF;
    l.CompressedSize = 10;
    l.UncompressedSize = 0;
    l.FileNameLength = 5;
    l.ExtraFieldLength = 9;
    const std::vector<uint8_t> lb = RecordToBytes(l);
    ASSERT_EQ(lb.size(), 30u);
    EXPECT_EQ(std::vector<uint8_t>(lb.begin(), lb.begin() + 4), (std::vector<uint8_t>{0x50, 0x4B, 0x03, 0x04}));
    EXPECT_EQ(lb[14], 0xEF); // CRC little-endian at offset 14
    EXPECT_EQ(lb[26], 5);
    const TLocalFileHeader back = ReadRecord<TLocalFileHeader>(lb.data());
    EXPECT_EQ(std::memcmp(&back, &l, sizeof l), 0);

    const TCentralHeaderImage c = CentralHeaderFromLocal(l);
    EXPECT_EQ(+c.Signature, SigCentralHeader);
    EXPECT_EQ(+c.VersionMadeBy, 20);
    EXPECT_EQ(+c.VersionNeeded, 20);
    EXPECT_EQ(+c.Flags, 0x0809);
    EXPECT_EQ(+c.Crc32, 0xDEADBEEFu);
    EXPECT_EQ(+c.CompressedSize, 10u);
    EXPECT_EQ(+c.ExtraFieldLength, 9);
    EXPECT_EQ(+c.FileCommentLength, 0);
    EXPECT_EQ(+c.LocalHeaderOffset, 0u);
    EXPECT_EQ(RebuiltExternalAttributes(l), 0x20u); // bit 3 set: not a folder
    l.Flags = 0;
    EXPECT_EQ(RebuiltExternalAttributes(l), 0x10u);
    l.UncompressedSize = 1;
    EXPECT_EQ(RebuiltExternalAttributes(l), 0x20u);

    const TLocalFileHeader again = LocalHeaderFromCentral(c);
    EXPECT_EQ(+again.Signature, SigLocalHeader);
    EXPECT_EQ(+again.Crc32, 0xDEADBEEFu);
    EXPECT_EQ(+again.ExtraFieldLength, 0); // no ZIP64 block below the marker

    // Bounds-checked reads refuse what is not there.
    TEndRecord e{};
    EXPECT_FALSE(ReadRecordAt(lb.data(), lb.size(), 9, e));
    EXPECT_TRUE(ReadRecordAt(lb.data(), lb.size(), 8, e));
    EXPECT_FALSE(ReadRecordAt(lb.data(), lb.size(), 31, e));

    // End record with its comment; the length field follows the comment.
    TEndRecord r = MakeEndRecord(1, 0, 2, 92, 1000, 0);
    const std::vector<uint8_t> rb = RecordBytes(r, "hello");
    ASSERT_EQ(rb.size(), 27u);
    EXPECT_EQ(+ReadRecord<TEndRecord>(rb.data()).CommentLength, 5);
    EXPECT_EQ(Str(std::vector<uint8_t>(rb.begin() + 22, rb.end())), "hello");
    EXPECT_EQ(RecordBytes(MakeEndRecord(0, 0, 0, 0, 0, 0), "").size(), 22u);

    const TZip64EndRecord z = MakeZip64EndRecord(2, 1, 70000, 0x123456789LL, 0x987654321LL);
    const std::vector<uint8_t> zb = RecordToBytes(z);
    ASSERT_EQ(zb.size(), 56u);
    const TZip64EndRecord zr = ReadRecord<TZip64EndRecord>(zb.data());
    EXPECT_EQ(+zr.Signature, SigZip64EndRecord);
    EXPECT_EQ(+zr.RestSize, 44u);
    EXPECT_EQ(+zr.VersionMadeBy, 45);
    EXPECT_EQ(+zr.VersionNeeded, 45);
    EXPECT_EQ(+zr.ThisDisk, 2u);
    EXPECT_EQ(+zr.StartDisk, 1u);
    EXPECT_EQ(+zr.EntriesOnDisk, 70000u);
    EXPECT_EQ(+zr.TotalEntries, 70000u);
    EXPECT_EQ(+zr.DirectorySize, 0x123456789u);
    EXPECT_EQ(+zr.DirectoryOffset, 0x987654321u);
    const TZip64Locator loc = ReadRecord<TZip64Locator>(RecordToBytes(MakeZip64Locator(2, 0x1000000000LL)).data());
    EXPECT_EQ(+loc.Signature, SigZip64Locator);
    EXPECT_EQ(+loc.EndRecordDisk, 2u);
    EXPECT_EQ(+loc.EndRecordOffset, 0x1000000000u);
    EXPECT_EQ(+loc.TotalDisks, 3u);
}

TEST(ZipRecords, Zip64AlwaysOnASmallItem) {
    TDirItem item = Zip64Item(5, 0);
    EXPECT_EQ(+item.Header.UncompressedSize, Zip64Marker32);
    EXPECT_EQ(+item.Header.LocalHeaderOffset, Zip64Marker32);
    EXPECT_EQ(CentralZip64BlockLength(item), 28);
    std::vector<uint8_t> field;
    AppendCentralExtraField(item, field);
    ASSERT_EQ(field.size(), 28u);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data()), 1);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data() + 2), 24);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 4), 5u);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 12), 5u);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 20), 0u);
    EXPECT_EQ(CentralExtraFieldLength(item), 28);

    const std::vector<uint8_t> local = BuildLocalZip64Block(5, 7);
    ASSERT_EQ(local.size(), 20u);
    EXPECT_EQ(ReadRecord<uint16_t>(local.data()), 1);
    EXPECT_EQ(ReadRecord<uint16_t>(local.data() + 2), 16);
    EXPECT_EQ(ReadRecord<uint64_t>(local.data() + 4), 5u);
    EXPECT_EQ(ReadRecord<uint64_t>(local.data() + 12), 7u);
    EXPECT_EQ(+LocalHeaderFromCentral(item.Header).ExtraFieldLength, 20);

    // Read back into a fresh item with the same fixed fields.
    TDirItem read;
    read.Header = item.Header;
    Parse(read, field);
    EXPECT_TRUE(read.Zip64);
    ASSERT_EQ(read.ExtraBlocks.size(), 1u);
    EXPECT_EQ(read.ExtraBlocks[0].DataSize, 24);
    EXPECT_EQ(ItemUncompressedSize(read), 5);
    EXPECT_EQ(ItemCompressedSize(read), 5);
    EXPECT_EQ(ItemLocalHeaderOffset(read), 0);

    // The disk start in ZIP64 form adds its four bytes.
    item.Header.DiskNumberStart = Zip64Marker16;
    item.Zip64DiskStart = 70000;
    EXPECT_EQ(CentralZip64BlockLength(item), 32);
    field.clear();
    AppendCentralExtraField(item, field);
    read = TDirItem{};
    read.Header = item.Header;
    Parse(read, field);
    EXPECT_EQ(ItemDiskStart(read), 70000u);
}

TEST(ZipRecords, CentralBlockHoldsOnlyTheMarkedValues) {
    TDirItem item;
    EXPECT_EQ(CentralZip64BlockLength(item), 0);
    std::vector<uint8_t> field;
    AppendCentralExtraField(item, field);
    EXPECT_TRUE(field.empty());
    EXPECT_EQ(ItemCompressedSize(item), 0);

    item.Header.CompressedSize = 1234;
    item.Header.UncompressedSize = Zip64Marker32;
    item.Header.LocalHeaderOffset = 99;
    item.Header.DiskNumberStart = 3;
    item.UncompressedSize64 = 0x1FFFFFFFFLL;
    item.CompressedSize64 = 777; // not marked: not used, not written
    EXPECT_EQ(ItemUncompressedSize(item), 0x1FFFFFFFFLL);
    EXPECT_EQ(ItemCompressedSize(item), 1234);
    EXPECT_EQ(ItemLocalHeaderOffset(item), 99);
    EXPECT_EQ(ItemDiskStart(item), 3u);
    EXPECT_EQ(CentralZip64BlockLength(item), 12);
    AppendCentralExtraField(item, field);
    ASSERT_EQ(field.size(), 12u);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 4), 0x1FFFFFFFFu);

    item.Header.UncompressedSize = 1;
    item.Header.DiskNumberStart = Zip64Marker16;
    EXPECT_EQ(CentralZip64BlockLength(item), 8);
}

TEST(ZipRecords, ForeignBlocksAreWrittenBackAfterAFreshZip64Block) {
    TDirItem item = Zip64Item(10, 20);
    item.ExtraBlocks = {Block(0x5455, {1, 2, 3, 4, 5, 6, 7, 8, 9}),
                        Block(Zip64ExtraID, std::vector<uint8_t>(24, 0xAA)), // stale: rebuilt, not copied
                        Block(0x7875, {})};
    EXPECT_EQ(CentralExtraFieldLength(item), 28 + 13 + 4);
    std::vector<uint8_t> field;
    AppendCentralExtraField(item, field);
    ASSERT_EQ(field.size(), 45u);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data()), 1);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 4), 10u);
    EXPECT_EQ(ReadRecord<uint64_t>(field.data() + 20), 20u);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data() + 28), 0x5455);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data() + 30), 9);
    EXPECT_EQ(std::vector<uint8_t>(field.begin() + 32, field.begin() + 41),
              (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(ReadRecord<uint16_t>(field.data() + 41), 0x7875);
    EXPECT_EQ(ReadRecord<uint16_t>(field.data() + 43), 0);

    // Without ZIP64 values only the 13 bytes of the other block remain.
    TDirItem plain;
    plain.ExtraBlocks = {Block(0x5455, {1, 2, 3, 4, 5, 6, 7, 8, 9}), Block(Zip64ExtraID, {0, 0, 0, 0, 0, 0, 0, 0})};
    EXPECT_EQ(CentralExtraFieldLength(plain), 13);
    field.clear();
    AppendCentralExtraField(plain, field);
    EXPECT_EQ(field.size(), 13u);

    // Parsing what was written gives the blocks back, in order.
    TDirItem read;
    read.Header = item.Header;
    std::vector<uint8_t> whole;
    AppendCentralExtraField(item, whole);
    Parse(read, whole);
    ASSERT_EQ(read.ExtraBlocks.size(), 3u);
    EXPECT_EQ(read.ExtraBlocks[0].HeaderID, 1);
    EXPECT_EQ(read.ExtraBlocks[1].HeaderID, 0x5455);
    EXPECT_EQ(read.ExtraBlocks[1].Data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(read.ExtraBlocks[2].DataSize, 0);
    std::vector<uint8_t> rewritten;
    AppendCentralExtraField(read, rewritten);
    EXPECT_EQ(rewritten, whole);

    // Blocks that would overflow the 16-bit field length are left out of
    // both the length and the bytes.
    TDirItem huge = Zip64Item(1, 1);
    huge.ExtraBlocks = {Block(0x1111, std::vector<uint8_t>(65000, 1)), Block(0x2222, std::vector<uint8_t>(600, 2)),
                        Block(0x3333, std::vector<uint8_t>(400, 3))};
    field.clear();
    AppendCentralExtraField(huge, field);
    EXPECT_EQ(field.size(), static_cast<size_t>(CentralExtraFieldLength(huge)));
    EXPECT_EQ(field.size(), 28u + 65004u + 404u);
}

TEST(ZipRecords, ParsingUntrustedExtraFields) {
    TDirItem item;
    item.Header.UncompressedSize = Zip64Marker32;
    item.Header.CompressedSize = Zip64Marker32;
    item.Header.DiskNumberStart = Zip64Marker16;

    // Length 3: too short for a block header.
    Parse(item, {0x01, 0x00, 0x08});
    EXPECT_TRUE(item.ExtraBlocks.empty());
    EXPECT_FALSE(item.Zip64);

    // A block announcing more than the field holds is cut to what is left;
    // only whole values are taken.
    Parse(item, {0x01, 0x00, 0x1C, 0x00, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0});
    ASSERT_EQ(item.ExtraBlocks.size(), 1u);
    EXPECT_EQ(item.ExtraBlocks[0].DataSize, 12);
    EXPECT_EQ(item.ExtraBlocks[0].Data.size(), 12u);
    EXPECT_TRUE(item.Zip64);
    EXPECT_EQ(item.UncompressedSize64, 1);
    EXPECT_EQ(item.CompressedSize64, 0);  // 4 bytes left: not a whole value
    EXPECT_EQ(item.Zip64DiskStart, 0u);   // the compressed size comes before it

    // Another block, then three stray bytes at the end.
    item = TDirItem{};
    item.Header.UncompressedSize = 5; // not marked: nothing taken
    Parse(item, {0x55, 0x54, 0x02, 0x00, 7, 8, 0x01, 0x00, 0x08, 0x00, 9, 0, 0, 0, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC});
    ASSERT_EQ(item.ExtraBlocks.size(), 2u);
    EXPECT_EQ(item.ExtraBlocks[0].HeaderID, 0x5455);
    EXPECT_EQ(item.ExtraBlocks[0].Data, (std::vector<uint8_t>{7, 8}));
    EXPECT_TRUE(item.Zip64); // any ZIP64 block marks the item
    EXPECT_EQ(item.UncompressedSize64, 0);
    EXPECT_EQ(ItemUncompressedSize(item), 5);

    // A block header with nothing after it.
    Parse(item, {0x99, 0x99, 0xFF, 0xFF});
    ASSERT_EQ(item.ExtraBlocks.size(), 1u);
    EXPECT_EQ(item.ExtraBlocks[0].DataSize, 0);
    EXPECT_FALSE(item.Zip64);

    // Arbitrary bytes: every block lies within the field.
    std::string noise = RandomBytes(4096, 7);
    for (size_t off = 0, len = 0; off + len <= noise.size(); off += len, len = (len * 7 + 3) % 61) {
        TDirItem r;
        r.Header.UncompressedSize = r.Header.CompressedSize = r.Header.LocalHeaderOffset = Zip64Marker32;
        r.Header.DiskNumberStart = Zip64Marker16;
        Parse(r, Bytes(noise.substr(off, len)));
        size_t total = 0;
        for (const TExtraBlock& b : r.ExtraBlocks) {
            EXPECT_EQ(b.Data.size(), static_cast<size_t>(b.DataSize));
            total += 4 + b.DataSize;
        }
        EXPECT_LE(total, len);
    }
}

TEST(ZipRecords, StoredNames) {
    bool utf8 = true;
    EXPECT_EQ(EncodeStoredName("docs/readme.txt", true, utf8), "docs/readme.txt");
    EXPECT_FALSE(utf8);
    EXPECT_EQ(EncodeStoredName("docs/readme.txt", false, utf8), "docs/readme.txt");
    EXPECT_FALSE(utf8);

    // é has a code page 437 form (0x82).
    EXPECT_EQ(EncodeStoredName("caf\xC3\xA9.txt", true, utf8), "caf\x82.txt");
    EXPECT_FALSE(utf8);
    EXPECT_EQ(EncodeStoredName("caf\xC3\xA9.txt", false, utf8), "caf\xC3\xA9.txt");
    EXPECT_TRUE(utf8);
    // A CJK name has none: it goes as UTF-8 with bit 11 even with OEM names.
    const std::string cjk = "\xE6\x96\x87\xE4\xBB\xB6.txt";
    EXPECT_EQ(EncodeStoredName(cjk, true, utf8), cjk);
    EXPECT_TRUE(utf8);
    // Bytes that are not UTF-8 are not claimed to be.
    EXPECT_EQ(EncodeStoredName("bad\xFF", false, utf8), "bad\xFF");
    EXPECT_FALSE(utf8);

    EXPECT_EQ(DecodeStoredName("caf\x82.txt", true, 0), "caf\xC3\xA9.txt");
    EXPECT_EQ(DecodeStoredName("caf\x82.txt", false, 0), "caf\x82.txt");
    EXPECT_EQ(DecodeStoredName(cjk, true, FlagUtf8), cjk); // bit 11 wins over the option
    EXPECT_EQ(DecodeStoredName(cjk, false, FlagUtf8), cjk);
    EXPECT_EQ(DecodeStoredName(std::string("a\0b", 3), false, 0), "a");

    // The item form keeps length and bit 11 in step with the bytes.
    TDirItem item;
    item.Header.Flags = FlagUtf8 | FlagEncrypted;
    item.StoredName = "caf\xC3\xA9.txt";
    EXPECT_EQ(EncodeItemName(item, true), "caf\x82.txt");
    EXPECT_EQ(+item.Header.FileNameLength, 8);
    EXPECT_EQ(+item.Header.Flags, FlagEncrypted);
    EXPECT_EQ(EncodeItemName(item, false), "caf\xC3\xA9.txt");
    EXPECT_EQ(+item.Header.FileNameLength, 9);
    EXPECT_EQ(+item.Header.Flags, FlagEncrypted | FlagUtf8);
}

// ---- peers -----------------------------------------------------------------

TEST(ZipRecordsPeers, BuiltArchivesReadByZipfileAndUnzip) {
    if (!HaveTool("python3") || !HaveTool("unzip"))
        GTEST_SKIP() << "python3 or unzip missing";
    TempFolder tmp;
    const std::string utf8Name = "d\xC3\xA9j\xC3\xA0/\xE6\x96\x87\xE4\xBB\xB6 \xC3\x9C.txt"; // déjà/文件 Ü.txt
    const std::string oemName = "caf\xC3\xA9 \xC3\xB1o\xC3\xB1o.txt";                           // café ñoño.txt
    struct Case {
        const char* file;
        std::vector<Entry> entries;
        bool zip64End;
    };
    const std::vector<Case> cases = {
        {"utf8.zip", {{utf8Name, "hello, world\n", false, zmAuto}}, false},
        {"oem.zip", {{oemName, RandomBytes(300, 1), true, zmAuto}}, false},
        {"zip64.zip", {{"plain.bin", RandomBytes(1000, 2), false, zmAlways}, {utf8Name, "", true, zmAlways}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = tmp.File(c.file);
        const std::string archive = BuildArchive(c.entries, c.zip64End);
        WriteFile(path, archive);

        std::string expected;
        std::vector<ParsedEntry> parsed = ParseArchive(archive, c.entries[0].oem);
        ASSERT_EQ(parsed.size(), c.entries.size());
        int64_t offset = 0;
        for (size_t k = 0; k < c.entries.size(); ++k) {
            const Entry& e = c.entries[k];
            const TDirItem& item = parsed[k].item;
            EXPECT_EQ(item.StoredName, e.name); // our own reading gives the name back
            EXPECT_EQ(ItemUncompressedSize(item), static_cast<int64_t>(e.data.size()));
            EXPECT_EQ(ItemLocalHeaderOffset(item), offset);
            EXPECT_EQ(item.Zip64, e.mode == zmAlways);
            EXPECT_EQ(+item.Header.VersionNeeded, e.mode == zmAlways ? 45 : e.oem ? 20 : 2836);
            const uint32_t crc = static_cast<uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
            const bool flagged = (item.Header.Flags & FlagUtf8) != 0;
            std::ostringstream line;
            line << e.name << '|' << crc << '|' << e.data.size() << '|' << e.data.size() << '|' << offset << '|'
                 << (flagged ? 0x800 : 0) << "|2024-5-6-12-34-56|" << Hex(e.data) << '\n';
            expected += line.str();
            bool u = false;
            offset += 30 + static_cast<int64_t>(EncodeStoredName(e.name, e.oem, u).size()) +
                      (e.mode == zmAlways ? 20 : 0) + static_cast<int64_t>(e.data.size());
        }
        EXPECT_EQ(PythonList(path), expected);

        std::string out;
        EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(path), &out), 0) << out;
        EXPECT_NE(out.find("No errors detected"), std::string::npos) << out;
    }
    // The OEM case really holds the code page 437 bytes and no bit 11.
    const std::string oem = ReadFile(tmp.File("oem.zip"));
    EXPECT_NE(oem.find("caf\x82 \xA4o\xA4o.txt"), std::string::npos);
    EXPECT_EQ(ReadRecord<TLocalFileHeader>(reinterpret_cast<const uint8_t*>(oem.data())).Flags & FlagUtf8, 0);
}

TEST(ZipRecordsPeers, InfoZipArchivesParsedLikeZipfile) {
    if (!HaveTool("python3") || !HaveTool("zip"))
        GTEST_SKIP() << "python3 or zip missing";
    TempFolder tmp;
    ASSERT_EQ(RunCommand("mkdir -p " + ShellQuote(tmp.File("src/sub/deeper"))), 0);
    WriteFile(tmp.File("src/a.txt"), "some text\n");
    WriteFile(tmp.File("src/sub/b.bin"), RandomBytes(70000, 3));
    WriteFile(tmp.File("src/sub/deeper/empty"), "");
    struct Case {
        const char* file;
        const char* options;
    };
    for (const Case& c : {Case{"plain.zip", "-q -r"}, Case{"forced64.zip", "-q -r -fz"}, Case{"stored.zip", "-q -r -0 -X"}}) {
        SCOPED_TRACE(c.file);
        const std::string path = tmp.File(c.file);
        ASSERT_EQ(RunCommand("cd " + ShellQuote(tmp.File("src")) + " && zip " + c.options + " " + ShellQuote(path) +
                             " a.txt sub"),
                  0);
        const std::string archive = ReadFile(path);
        const std::vector<ParsedEntry> parsed = ParseArchive(archive);
        ASSERT_GE(parsed.size(), 5u); // a.txt, sub/, sub/b.bin, sub/deeper/, sub/deeper/empty

        // Compare everything but the data with zipfile's view.
        std::istringstream py(PythonList(path));
        std::string line;
        size_t k = 0;
        for (; std::getline(py, line); ++k) {
            ASSERT_LT(k, parsed.size());
            const TDirItem& item = parsed[k].item;
            std::ostringstream ours;
            ours << item.StoredName << '|' << item.Header.Crc32 << '|' << ItemCompressedSize(item) << '|'
                 << ItemUncompressedSize(item) << '|' << ItemLocalHeaderOffset(item) << '|' << item.Header.Flags;
            EXPECT_EQ(line.substr(0, ours.str().size() + 1), ours.str() + "|");

            // The blocks tile the field, and writing them back gives the
            // same length (the ZIP64 block moves to the front).
            size_t total = 0;
            bool sawZip64 = false;
            for (const TExtraBlock& b : item.ExtraBlocks) {
                total += 4 + b.DataSize;
                sawZip64 |= b.HeaderID == Zip64ExtraID;
            }
            EXPECT_EQ(total, parsed[k].rawExtra.size());
            EXPECT_EQ(item.Zip64, sawZip64);
            std::vector<uint8_t> back;
            AppendCentralExtraField(item, back);
            EXPECT_EQ(back.size(), parsed[k].rawExtra.size());
            EXPECT_EQ(static_cast<size_t>(CentralExtraFieldLength(item)), back.size());
            if (!sawZip64) {
                EXPECT_EQ(back, parsed[k].rawExtra);
            }
        }
        EXPECT_EQ(k, parsed.size());
        if (std::string(c.options).find("-fz") != std::string::npos) {
            EXPECT_TRUE(parsed[0].item.Zip64);
            EXPECT_EQ(+parsed[0].item.Header.UncompressedSize, Zip64Marker32);
        }
        if (std::string(c.options).find("-X") != std::string::npos) {
            for (const ParsedEntry& e : parsed)
                EXPECT_TRUE(e.item.ExtraBlocks.empty());
        } else {
            EXPECT_FALSE(parsed[0].item.ExtraBlocks.empty()); // Info-ZIP's time and owner blocks
        }
    }
}

TEST(ZipRecords, CentralNamesFromOtherTools) {
    const std::string utf8 = "caf\xC3\xA9.txt";  // café.txt
    const std::string cp437 = "caf\x82.txt";
    auto unicodePath = [](const std::string& stored, const std::string& name) {
        TExtraBlock b;
        b.HeaderID = 0x7075;
        uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(stored.data()),
                                                   static_cast<uInt>(stored.size())));
        b.Data.push_back(1);
        for (int k = 0; k < 4; ++k) b.Data.push_back(static_cast<uint8_t>(crc >> (8 * k)));
        b.Data.insert(b.Data.end(), name.begin(), name.end());
        b.DataSize = static_cast<uint16_t>(b.Data.size());
        return b;
    };
    TExtraBlock wrongCrc = unicodePath("other", utf8);
    const uint16_t unix = 3 << 8 | 30, dos = 20, ntfs = 2836;
    struct {
        const char* what;
        std::string raw;
        uint16_t flags, madeBy;
        std::vector<TExtraBlock> extra;
        std::string name;
    } cases[] = {
        {"Info-ZIP on Linux: UTF-8 bytes, no flag", utf8, 0, unix, {}, utf8},
        {"Unix host, bytes that are not UTF-8", cp437, 0, unix, {}, "caf\xC3\xA9.txt"},
        {"MS-DOS host: code page 437", cp437, 0, dos, {}, utf8},
        {"NTFS host, UTF-8-looking bytes stay code page 437", utf8, 0, ntfs, {}, "caf\xE2\x94\x9C\xE2\x8C\x90.txt"},
        {"flag bit 11", utf8, FlagUtf8, dos, {}, utf8},
        {"Unicode Path block with matching CRC", cp437, 0, dos, {unicodePath(cp437, utf8)}, utf8},
        {"Unicode Path block with another CRC is ignored", cp437, 0, dos, {wrongCrc}, utf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DecodeCentralName(c.raw, true, c.flags, c.madeBy, c.extra), c.name);
    }
    // Without the code page conversion the Unicode Path block still names the item.
    EXPECT_EQ(DecodeCentralName(cp437, false, 0, dos, {unicodePath(cp437, utf8)}), utf8);
    EXPECT_EQ(DecodeCentralName(cp437, false, 0, dos, {}), cp437);
}
