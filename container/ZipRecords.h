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

// A block with its data size taken from the data.
TExtraBlock MakeExtraBlock(uint16_t id, std::vector<uint8_t> data);

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
// Sets the item's local header offset, in ZIP64 form when it needs it or
// when force asks for it.
void SetItemLocalHeaderOffset(TDirItem& item, int64_t offset, bool force);
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
// The name of a central entry. Beyond DecodeStoredName: an Info-ZIP Unicode
// Path block (0x7075) whose CRC matches the stored bytes gives the UTF-8
// name, and an entry made on a Unix host (version made by, high byte 3)
// whose bytes are valid UTF-8 keeps them as they are: Info-ZIP on Linux
// writes UTF-8 names without flag bit 11, and reading them as code page
// 437 would turn every non-ASCII name into another name.
std::string DecodeCentralName(const std::string& raw, bool oemFileNames, uint16_t flags, uint16_t versionMadeBy,
                              const std::vector<TExtraBlock>& extraBlocks);

// Serialisation helpers.
std::vector<uint8_t> RecordBytes(const TEndRecord& r, const std::string& comment);

// ---------------------------------------------------------------------------
// Building and parsing helpers.
#include <cstring>
#include <type_traits>

// A record (or integer) from raw bytes; p must hold sizeof(T) bytes.
template <class T>
T ReadRecord(const uint8_t* p) {
    static_assert(std::is_trivially_copyable_v<T>);
    T r;
    std::memcpy(&r, p, sizeof(T));
    return r;
}
// The same with a bounds check: false (out untouched) unless data holds
// sizeof(T) bytes at offset.
template <class T>
bool ReadRecordAt(const uint8_t* data, size_t length, size_t offset, T& out) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (offset > length || length - offset < sizeof(T))
        return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

inline void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + length);
}
inline void AppendBytes(std::vector<uint8_t>& out, const std::string& s) { AppendBytes(out, s.data(), s.size()); }
inline void AppendBytes(std::vector<uint8_t>& out, const std::vector<uint8_t>& v) { AppendBytes(out, v.data(), v.size()); }
// A record or little-endian integer, byte for byte.
template <class T>
    requires std::is_trivially_copyable_v<T>
void AppendBytes(std::vector<uint8_t>& out, const T& value) {
    AppendBytes(out, &value, sizeof(T));
}
template <class T>
std::vector<uint8_t> RecordToBytes(const T& value) {
    std::vector<uint8_t> out;
    AppendBytes(out, value);
    return out;
}

// Field values with their ZIP64 markers: 0xFFFFFFFF (or 0xFFFF) when the
// value is that large or more, or when zip64 forces the form; a negative
// value is written as 0.
uint32_t Field32(int64_t value, bool forceMarker = false);
uint16_t Field16(int64_t value);

// General purpose flags of a new item: 2 for a folder (whatever the
// password), 1 when encrypted, else 0.
uint16_t NewItemFlags(bool isFolder, bool encrypted);

// MS-DOS stamp: date in the high 16 bits, time in the low 16 bits.
inline uint16_t DosTime(int32_t stamp) { return static_cast<uint16_t>(static_cast<uint32_t>(stamp) & 0xFFFFu); }
inline uint16_t DosDate(int32_t stamp) { return static_cast<uint16_t>(static_cast<uint32_t>(stamp) >> 16); }
inline int32_t DosStamp(uint16_t date, uint16_t time) {
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}
inline int32_t ItemStamp(const TCentralHeaderImage& h) { return DosStamp(h.LastModDate, h.LastModTime); }

// The local header of an item from its central image: the same version
// (needed), flags, method, time, date, CRC, sizes (markers included) and name
// length; extra field length 20 exactly when the uncompressed size holds the
// marker (the local ZIP64 block), else 0.
TLocalFileHeader LocalHeaderFromCentral(const TCentralHeaderImage& h);
// A central image from a local header: both version fields = version needed;
// flags, method, time, date, CRC, sizes, name and extra lengths copied;
// comment length, disk start, internal and external attributes and the local
// header offset 0 (the caller sets those that apply).
TCentralHeaderImage CentralHeaderFromLocal(const TLocalFileHeader& l);
// External attributes of an item rebuilt from its local header: a folder
// (0x10) when it holds no data and has no data descriptor, else 0x20.
uint32_t RebuiltExternalAttributes(const TLocalFileHeader& l);

// Whole extra-field length of the central entry as AppendCentralExtraField
// writes it: the ZIP64 block plus 4 + size of every stored block of another
// ID. Blocks that would take the field past 65,535 bytes are left out (of
// both), so the 16-bit length always tells the truth.
uint16_t CentralExtraFieldLength(const TDirItem& item);

// The name bytes to write for the item (EncodeStoredName), with its name
// length and flag bit 11 set to match them. Names longer than 65,535 bytes
// are cut to fit the length field.
std::string EncodeItemName(TDirItem& item, bool oemFileNames);

// End records with their markers applied (negative volume numbers as 0).
TEndRecord MakeEndRecord(int64_t thisDisk, int64_t startDisk, int64_t entries, int64_t directorySize,
                         int64_t directoryOffset, size_t commentLength);
TZip64EndRecord MakeZip64EndRecord(int64_t thisDisk, int64_t startDisk, int64_t entries, int64_t directorySize,
                                   int64_t directoryOffset);
TZip64Locator MakeZip64Locator(int64_t disk, int64_t endRecordOffset);
// Whether the ZIP64 end record and locator are written: whenever a field of
// the end record holds its marker (a directory that starts beyond 4 GiB in a
// large volume may end on a later, small one) or the end records themselves
// lie beyond 4 GiB.
bool EndRecordsNeedZip64(const TEndRecord& record, int64_t positionAfterDirectory);
