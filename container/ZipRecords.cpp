// Field values of the ZIP records, the central extra field, stored names.
#include "container/ZipRecords.h"

#include <algorithm>

#include "archiver/DirArray.h"
#include "platform/System.h"
#include "primitives/AKCrc.h"

namespace {

constexpr size_t MaxField16 = 0xFFFF;

void Put16(std::vector<uint8_t>& out, uint16_t v) { AppendBytes(out, v); }
void Put32(std::vector<uint8_t>& out, uint32_t v) { AppendBytes(out, v); }
void Put64(std::vector<uint8_t>& out, int64_t v) { AppendBytes(out, static_cast<uint64_t>(v)); }

// The stored blocks written after the ZIP64 block, given how many bytes the
// field already holds: every block of another ID, in order, as long as the
// 16-bit field length still holds it.
template <class F>
void ForEachForeignBlock(const TDirItem& item, size_t used, F&& f) {
    for (const TExtraBlock& b : item.ExtraBlocks) {
        if (b.HeaderID == Zip64ExtraID)
            continue;
        const size_t len = 4 + static_cast<size_t>(b.DataSize);
        if (used + len > MaxField16)
            continue;
        used += len;
        f(b);
    }
}

} // namespace

TExtraBlock MakeExtraBlock(uint16_t id, std::vector<uint8_t> data) {
    TExtraBlock b;
    b.HeaderID = id;
    b.DataSize = static_cast<uint16_t>(data.size());
    b.Data = std::move(data);
    return b;
}

uint16_t ItemVersionValue(bool zip64, bool oemFileNames) {
    if (zip64)
        return VersionZip64;
    return oemFileNames ? VersionOem : VersionAnsi;
}

bool SizeNeedsZip64(int64_t value, TZip64Mode mode) {
    return mode == zmAlways || value >= static_cast<int64_t>(Zip64Marker32);
}

bool CountNeedsZip64(int64_t value) { return value >= static_cast<int64_t>(Zip64Marker16); }

int64_t ItemCompressedSize(const TDirItem& item) {
    return item.Header.CompressedSize == Zip64Marker32 ? item.CompressedSize64 : item.Header.CompressedSize;
}

int64_t ItemUncompressedSize(const TDirItem& item) {
    return item.Header.UncompressedSize == Zip64Marker32 ? item.UncompressedSize64 : item.Header.UncompressedSize;
}

int64_t ItemLocalHeaderOffset(const TDirItem& item) {
    return item.Header.LocalHeaderOffset == Zip64Marker32 ? item.LocalHeaderOffset64 : item.Header.LocalHeaderOffset;
}

void SetItemLocalHeaderOffset(TDirItem& item, int64_t offset, bool force) {
    item.Header.LocalHeaderOffset = Field32(offset, force);
    if (item.Header.LocalHeaderOffset == Zip64Marker32) {
        item.Zip64 = true;
        item.LocalHeaderOffset64 = offset;
    }
}

uint32_t ItemDiskStart(const TDirItem& item) {
    return item.Header.DiskNumberStart == Zip64Marker16 ? item.Zip64DiskStart : item.Header.DiskNumberStart;
}

uint16_t CentralZip64BlockLength(const TDirItem& item) {
    const TCentralHeaderImage& h = item.Header;
    uint16_t n = 0;
    if (h.UncompressedSize == Zip64Marker32)
        n += 8;
    if (h.CompressedSize == Zip64Marker32)
        n += 8;
    if (h.LocalHeaderOffset == Zip64Marker32)
        n += 8;
    if (h.DiskNumberStart == Zip64Marker16)
        n += 4;
    return n == 0 ? 0 : static_cast<uint16_t>(n + 4);
}

uint16_t CentralExtraFieldLength(const TDirItem& item) {
    size_t total = CentralZip64BlockLength(item);
    ForEachForeignBlock(item, total, [&](const TExtraBlock& b) { total += 4 + static_cast<size_t>(b.DataSize); });
    return static_cast<uint16_t>(total);
}

void AppendCentralExtraField(const TDirItem& item, std::vector<uint8_t>& out) {
    const TCentralHeaderImage& h = item.Header;
    const uint16_t zip64Length = CentralZip64BlockLength(item);
    if (zip64Length != 0) {
        Put16(out, Zip64ExtraID);
        Put16(out, static_cast<uint16_t>(zip64Length - 4));
        if (h.UncompressedSize == Zip64Marker32)
            Put64(out, item.UncompressedSize64);
        if (h.CompressedSize == Zip64Marker32)
            Put64(out, item.CompressedSize64);
        if (h.LocalHeaderOffset == Zip64Marker32)
            Put64(out, item.LocalHeaderOffset64);
        if (h.DiskNumberStart == Zip64Marker16)
            Put32(out, item.Zip64DiskStart);
    }
    ForEachForeignBlock(item, zip64Length, [&](const TExtraBlock& b) {
        Put16(out, b.HeaderID);
        Put16(out, b.DataSize);
        // DataSize is what the header announces: write exactly that many bytes.
        const size_t have = std::min<size_t>(b.Data.size(), b.DataSize);
        AppendBytes(out, b.Data.data(), have);
        out.insert(out.end(), b.DataSize - have, uint8_t{0});
    });
}

void ParseCentralExtraField(TDirItem& item, const uint8_t* data, size_t length) {
    item.Zip64 = false;
    item.ExtraBlocks.clear();
    if (data == nullptr)
        return;
    size_t pos = 0;
    while (pos < length) {
        if (length - pos < 4)
            break; // too short for a block header: the rest is skipped
        TExtraBlock block;
        block.HeaderID = ReadRecord<uint16_t>(data + pos);
        size_t size = ReadRecord<uint16_t>(data + pos + 2);
        pos += 4;
        size = std::min(size, length - pos); // cut to what the field still holds
        block.DataSize = static_cast<uint16_t>(size);
        block.Data.assign(data + pos, data + pos + size);
        pos += size;

        if (block.HeaderID == Zip64ExtraID) {
            item.Zip64 = true;
            const TCentralHeaderImage& h = item.Header;
            const uint8_t* d = block.Data.data();
            size_t q = 0;
            // Values lie in a fixed order; once one is missing none follows.
            auto take64 = [&](bool wanted, int64_t& target) {
                if (!wanted)
                    return true;
                if (size - q < 8)
                    return false;
                target = static_cast<int64_t>(ReadRecord<uint64_t>(d + q));
                q += 8;
                return true;
            };
            if (take64(h.UncompressedSize == Zip64Marker32, item.UncompressedSize64) &&
                take64(h.CompressedSize == Zip64Marker32, item.CompressedSize64) &&
                take64(h.LocalHeaderOffset == Zip64Marker32, item.LocalHeaderOffset64) &&
                h.DiskNumberStart == Zip64Marker16 && size - q >= 4) {
                item.Zip64DiskStart = ReadRecord<uint32_t>(d + q);
            }
        }
        item.ExtraBlocks.push_back(std::move(block));
    }
}

std::vector<uint8_t> BuildLocalZip64Block(int64_t uncompressed, int64_t compressed) {
    std::vector<uint8_t> out;
    out.reserve(20);
    Put16(out, Zip64ExtraID);
    Put16(out, 16);
    Put64(out, uncompressed);
    Put64(out, compressed);
    return out;
}

std::string EncodeStoredName(const std::string& name, bool oemFileNames, bool& utf8Flag) {
    utf8Flag = false;
    // The OEM form is used only where it keeps every character; otherwise the
    // name would be destroyed on the way into the archive.
    if (oemFileNames && platform::ConvertsToOemLosslessly(name))
        return platform::AnsiToOem(name);
    // Readers decode flagged names as UTF-8, so only valid UTF-8 is flagged;
    // other bytes go as they stand.
    if (!platform::IsAscii(name) && platform::IsValidUtf8(name))
        utf8Flag = true;
    return name;
}

std::string DecodeStoredName(const std::string& raw, bool oemFileNames, uint16_t flags) {
    // The name ends at the first zero byte, if any.
    const std::string bytes = raw.substr(0, raw.find('\0'));
    if ((flags & FlagUtf8) != 0)
        return bytes;
    return oemFileNames ? platform::OemToAnsi(bytes) : bytes;
}

std::string DecodeCentralName(const std::string& raw, bool oemFileNames, uint16_t flags, uint16_t versionMadeBy,
                              const std::vector<TExtraBlock>& extraBlocks) {
    const std::string bytes = raw.substr(0, raw.find('\0'));
    if ((flags & FlagUtf8) == 0) {
        constexpr uint16_t UnicodePathID = 0x7075;
        for (const TExtraBlock& b : extraBlocks) {
            // version (1), CRC-32 of the stored name bytes (4), UTF-8 name.
            if (b.HeaderID != UnicodePathID || b.Data.size() < 5 || b.Data[0] != 1) continue;
            uint32_t crc = 0;
            for (int k = 0; k < 4; ++k) crc |= static_cast<uint32_t>(b.Data[1 + k]) << (8 * k);
            uint32_t reg = 0xFFFFFFFFu;
            UpdateCRC(raw.data(), static_cast<int64_t>(raw.size()), reg);
            const std::string name(b.Data.begin() + 5, b.Data.end());
            if (~reg == crc && platform::IsValidUtf8(name) && name.find('\0') == std::string::npos) return name;
        }
        constexpr uint16_t HostUnix = 3;
        if ((versionMadeBy >> 8) == HostUnix && !platform::IsAscii(bytes) && platform::IsValidUtf8(bytes))
            return bytes;
    }
    return DecodeStoredName(raw, oemFileNames, flags);
}

std::string EncodeItemName(TDirItem& item, bool oemFileNames) {
    bool utf8 = false;
    std::string bytes = EncodeStoredName(item.StoredName, oemFileNames, utf8);
    if (bytes.size() > MaxField16)
        bytes.resize(MaxField16);
    item.Header.FileNameLength = static_cast<uint16_t>(bytes.size());
    if (utf8)
        item.Header.Flags |= FlagUtf8;
    else
        item.Header.Flags &= static_cast<uint16_t>(~FlagUtf8);
    item.RawName = bytes;
    return bytes;
}

std::vector<uint8_t> RecordBytes(const TEndRecord& r, const std::string& comment) {
    // The comment length always tells the truth: a reader recognises the
    // record only when it does.
    TEndRecord rec = r;
    const size_t n = std::min(comment.size(), MaxField16);
    rec.CommentLength = static_cast<uint16_t>(n);
    std::vector<uint8_t> out;
    out.reserve(sizeof rec + n);
    AppendBytes(out, rec);
    AppendBytes(out, comment.data(), n);
    return out;
}

uint32_t Field32(int64_t value, bool forceMarker) {
    if (forceMarker || value >= static_cast<int64_t>(Zip64Marker32))
        return Zip64Marker32;
    return value < 0 ? 0 : static_cast<uint32_t>(value);
}

uint16_t Field16(int64_t value) {
    if (value >= static_cast<int64_t>(Zip64Marker16))
        return Zip64Marker16;
    return value < 0 ? 0 : static_cast<uint16_t>(value);
}

uint16_t NewItemFlags(bool isFolder, bool encrypted) {
    if (isFolder)
        return FlagDirectory;
    return encrypted ? FlagEncrypted : 0;
}

TLocalFileHeader LocalHeaderFromCentral(const TCentralHeaderImage& h) {
    TLocalFileHeader l{};
    l.Signature = SigLocalHeader;
    l.VersionNeeded = h.VersionNeeded;
    l.Flags = h.Flags;
    l.Method = h.Method;
    l.LastModTime = h.LastModTime;
    l.LastModDate = h.LastModDate;
    l.Crc32 = h.Crc32;
    l.CompressedSize = h.CompressedSize;
    l.UncompressedSize = h.UncompressedSize;
    l.FileNameLength = h.FileNameLength;
    l.ExtraFieldLength = h.UncompressedSize == Zip64Marker32 ? 20 : 0;
    return l;
}

TCentralHeaderImage CentralHeaderFromLocal(const TLocalFileHeader& l) {
    TCentralHeaderImage h{};
    h.Signature = SigCentralHeader;
    h.VersionMadeBy = l.VersionNeeded;
    h.VersionNeeded = l.VersionNeeded;
    h.Flags = l.Flags;
    h.Method = l.Method;
    h.LastModTime = l.LastModTime;
    h.LastModDate = l.LastModDate;
    h.Crc32 = l.Crc32;
    h.CompressedSize = l.CompressedSize;
    h.UncompressedSize = l.UncompressedSize;
    h.FileNameLength = l.FileNameLength;
    h.ExtraFieldLength = l.ExtraFieldLength;
    return h;
}

uint32_t RebuiltExternalAttributes(const TLocalFileHeader& l) {
    return (l.UncompressedSize == 0 && (l.Flags & FlagDataDescriptor) == 0) ? 0x10u : 0x20u;
}

TEndRecord MakeEndRecord(int64_t thisDisk, int64_t startDisk, int64_t entries, int64_t directorySize,
                         int64_t directoryOffset, size_t commentLength) {
    TEndRecord r{};
    r.Signature = SigEndRecord;
    r.ThisDisk = Field16(thisDisk);
    r.StartDisk = Field16(startDisk);
    r.EntriesOnDisk = Field16(entries);
    r.TotalEntries = Field16(entries);
    r.DirectorySize = Field32(directorySize);
    r.DirectoryOffset = Field32(directoryOffset);
    r.CommentLength = static_cast<uint16_t>(std::min(commentLength, MaxField16));
    return r;
}

TZip64EndRecord MakeZip64EndRecord(int64_t thisDisk, int64_t startDisk, int64_t entries, int64_t directorySize,
                                   int64_t directoryOffset) {
    auto u32 = [](int64_t v) { return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, UINT32_MAX)); };
    auto u64 = [](int64_t v) { return static_cast<uint64_t>(std::max<int64_t>(v, 0)); };
    TZip64EndRecord r{};
    r.Signature = SigZip64EndRecord;
    r.RestSize = 44;
    r.VersionMadeBy = VersionZip64;
    r.VersionNeeded = VersionZip64;
    r.ThisDisk = u32(thisDisk);
    r.StartDisk = u32(startDisk);
    r.EntriesOnDisk = u64(entries);
    r.TotalEntries = u64(entries);
    r.DirectorySize = u64(directorySize);
    r.DirectoryOffset = u64(directoryOffset);
    return r;
}

TZip64Locator MakeZip64Locator(int64_t disk, int64_t endRecordOffset) {
    const uint32_t d = static_cast<uint32_t>(std::clamp<int64_t>(disk, 0, UINT32_MAX - 1));
    TZip64Locator l{};
    l.Signature = SigZip64Locator;
    l.EndRecordDisk = d;
    l.EndRecordOffset = static_cast<uint64_t>(std::max<int64_t>(endRecordOffset, 0));
    l.TotalDisks = d + 1;
    return l;
}

bool EndRecordsNeedZip64(const TEndRecord& record, int64_t positionAfterDirectory) {
    return positionAfterDirectory >= static_cast<int64_t>(Zip64Marker32) || record.ThisDisk == Zip64Marker16 ||
           record.StartDisk == Zip64Marker16 || record.TotalEntries == Zip64Marker16 ||
           record.DirectorySize == Zip64Marker32 || record.DirectoryOffset == Zip64Marker32;
}
