#pragma once
// The on-disk ZIP records, byte for byte (little-endian, packed), and the
// rules for their field values.
#include <cstdint>
#include <string>
#include <vector>

#include "archiver/AKTypes.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "records are laid out for little-endian hosts");

constexpr uint32_t SigLocalHeader = 0x04034B50;
constexpr uint32_t SigCentralHeader = 0x02014B50;
constexpr uint32_t SigDataDescriptor = 0x08074B50;
constexpr uint32_t SigZip64EndRecord = 0x06064B50;
constexpr uint32_t SigZip64Locator = 0x07064B50;
constexpr uint32_t SigEndRecord = 0x06054B50;

constexpr uint16_t Zip64ExtraID = 0x0001;
constexpr uint32_t Zip64Marker32 = 0xFFFFFFFFu;
constexpr uint16_t Zip64Marker16 = 0xFFFF;

constexpr uint16_t VersionZip64 = 45;      // 0x002D
constexpr uint16_t VersionOem = 20;        // 0x0014: host MS-DOS, ZIP 2.0
constexpr uint16_t VersionAnsi = 2836;     // 0x0B14: host NTFS, ZIP 2.0

constexpr uint16_t FlagEncrypted = 0x0001;
constexpr uint16_t FlagDirectory = 0x0002;
constexpr uint16_t FlagDataDescriptor = 0x0008;
constexpr uint16_t FlagUtf8 = 0x0800;      // language encoding flag

#pragma pack(push, 1)
struct TLocalFileHeader {          // 30 bytes, then name, then extra field
    uint32_t Signature;
    uint16_t VersionNeeded;
    uint16_t Flags;
    uint16_t Method;
    uint16_t LastModTime;
    uint16_t LastModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t FileNameLength;
    uint16_t ExtraFieldLength;
};

struct TDataDescriptor {           // 16 bytes
    uint32_t Signature;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
};

struct TCentralHeaderImage {       // 46 bytes, then name, extra field, comment
    uint32_t Signature;
    uint16_t VersionMadeBy;
    uint16_t VersionNeeded;
    uint16_t Flags;
    uint16_t Method;
    uint16_t LastModTime;
    uint16_t LastModDate;
    uint32_t Crc32;
    uint32_t CompressedSize;
    uint32_t UncompressedSize;
    uint16_t FileNameLength;
    uint16_t ExtraFieldLength;
    uint16_t FileCommentLength;
    uint16_t DiskNumberStart;
    uint16_t InternalAttributes;
    uint32_t ExternalAttributes;
    uint32_t LocalHeaderOffset;
};

struct TZip64EndRecord {           // 56 bytes
    uint32_t Signature;
    uint64_t RestSize;             // 44
    uint16_t VersionMadeBy;
    uint16_t VersionNeeded;
    uint32_t ThisDisk;
    uint32_t StartDisk;
    uint64_t EntriesOnDisk;
    uint64_t TotalEntries;
    uint64_t DirectorySize;
    uint64_t DirectoryOffset;
};

struct TZip64Locator {             // 20 bytes
    uint32_t Signature;
    uint32_t EndRecordDisk;
    uint64_t EndRecordOffset;
    uint32_t TotalDisks;
};

struct TEndRecord {                // 22 bytes, then the comment
    uint32_t Signature;
    uint16_t ThisDisk;
    uint16_t StartDisk;
    uint16_t EntriesOnDisk;
    uint16_t TotalEntries;
    uint32_t DirectorySize;
    uint32_t DirectoryOffset;
    uint16_t CommentLength;
};
#pragma pack(pop)

static_assert(sizeof(TLocalFileHeader) == 30);
static_assert(sizeof(TDataDescriptor) == 16);
static_assert(sizeof(TCentralHeaderImage) == 46);
static_assert(sizeof(TZip64EndRecord) == 56);
static_assert(sizeof(TZip64Locator) == 20);
static_assert(sizeof(TEndRecord) == 22);

struct TExtraBlock {
    uint16_t HeaderID = 0;
    uint16_t DataSize = 0;
    std::vector<uint8_t> Data;     // DataSize bytes
};

struct TDirItem;

// Version value of a new item (written into both version fields).
uint16_t ItemVersionValue(bool zip64, bool oemFileNames);
// ZIP64 thresholds: a 32-bit size/offset field overflows at 0xFFFFFFFF or
// more, or always with zmAlways; a 16-bit count/volume at 0xFFFF or more.
bool SizeNeedsZip64(int64_t value, TZip64Mode mode);
bool CountNeedsZip64(int64_t value);

// The ZIP64 values of an item, taken from the 64-bit field when the 32-bit
// one holds the marker.
int64_t ItemCompressedSize(const TDirItem& item);
int64_t ItemUncompressedSize(const TDirItem& item);
int64_t ItemLocalHeaderOffset(const TDirItem& item);
uint32_t ItemDiskStart(const TDirItem& item);

// Length of the central ZIP64 block for the item (0 when none of its fields
// holds a marker), header included.
uint16_t CentralZip64BlockLength(const TDirItem& item);
// Appends the central ZIP64 block (when its length is not 0) and then every
// stored block of another ID, unchanged, to out.
void AppendCentralExtraField(const TDirItem& item, std::vector<uint8_t>& out);
// Reads the extra field of a central entry into item.ExtraBlocks (every
// block, the ZIP64 one included) and decodes the ZIP64 block where the
// markers stand and bytes remain. Clears and may set item.Zip64.
void ParseCentralExtraField(TDirItem& item, const uint8_t* data, size_t length);
// The 20-byte local ZIP64 block: ID 1, size 16, uncompressed, compressed.
std::vector<uint8_t> BuildLocalZip64Block(int64_t uncompressed, int64_t compressed);

// Name bytes as written: with oemFileNames and a name that converts without
// loss, code page 437; otherwise the UTF-8 bytes, with utf8Flag set when the
// name is not plain ASCII.
std::string EncodeStoredName(const std::string& name, bool oemFileNames, bool& utf8Flag);
// Name bytes as read: flag bit 11 means UTF-8 as stored; otherwise
// converted from code page 437 when oemFileNames is set.
std::string DecodeStoredName(const std::string& raw, bool oemFileNames, uint16_t flags);

// Serialisation helpers.
std::vector<uint8_t> RecordBytes(const TEndRecord& r, const std::string& comment);
