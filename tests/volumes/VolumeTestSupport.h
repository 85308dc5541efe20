#pragma once
#include <functional>
// Shared pieces of the volume tests: an archiver whose protected state the
// tests may set, items written straight through the volume writer, and the
// records read back from the bytes on disk.
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "container/ZipRecords.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "tests/common/TestSupport.h"

class ProbeArchiver : public TArkiva {
public:
    void SetOpenModeForTest(uint16_t mode) { openMode_ = mode; }
};


constexpr uint16_t TestDosDate = (44 << 9) | (3 << 5) | 15; // 2024-03-15
constexpr uint16_t TestDosTime = (12 << 11) | (30 << 5);    // 12:30:00

// Writes a stored item's local header with its name (kept in one volume)
// and then its data (cut wherever a volume is full) through the volume
// writer, and appends the matching entry to the current list, as the commit
// does for a split archive.
inline TDirItem& AddStoredItem(TAKBaseArchiver& a, const std::string& name, const std::string& data,
                               const std::string& comment = "")
{
    TAKDirManager& dm = *a.DirManager();
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));

    TDirItem item;
    item.Header.Signature = SigCentralHeader;
    item.Header.VersionMadeBy = 20;
    item.Header.VersionNeeded = 20;
    item.Header.LastModTime = TestDosTime;
    item.Header.LastModDate = TestDosDate;
    item.Header.Crc32 = crc;
    item.Header.CompressedSize = static_cast<uint32_t>(data.size());
    item.Header.UncompressedSize = static_cast<uint32_t>(data.size());
    item.Header.ExternalAttributes = faArchive;
    item.StoredName = name;
    item.ItemComment = comment;
    item.Header.FileCommentLength = static_cast<uint16_t>(comment.size());
    const std::string nameBytes = EncodeItemName(item, a.Options().OEMFileNames());

    TLocalFileHeader lh{};
    lh.Signature = SigLocalHeader;
    lh.VersionNeeded = 20;
    lh.Flags = item.Header.Flags;
    lh.LastModTime = TestDosTime;
    lh.LastModDate = TestDosDate;
    lh.Crc32 = crc;
    lh.CompressedSize = static_cast<uint32_t>(data.size());
    lh.UncompressedSize = static_cast<uint32_t>(data.size());
    lh.FileNameLength = static_cast<uint16_t>(nameBytes.size());
    std::string header(reinterpret_cast<const char*>(&lh), sizeof lh);
    header += nameBytes;

    a.WriteAllToVolumes(header.data(), static_cast<int64_t>(header.size()), dm.Stream, a.VolumeInfo(), 0, nullptr);
    const int32_t disk = a.VolumeInfo().VolumeNumber;
    const int64_t offset = dm.Stream->Size() - static_cast<int64_t>(header.size());
    a.WriteAllToVolumes(data.data(), static_cast<int64_t>(data.size()), dm.Stream, a.VolumeInfo(), -1, nullptr);
    item.Header.DiskNumberStart = static_cast<uint16_t>(disk < 0 ? 0 : disk);
    item.Header.LocalHeaderOffset = static_cast<uint32_t>(offset);

    const int32_t n = dm.CurrentList.GetCount();
    dm.CurrentList.SetCount(n + 1);
    dm.CurrentList.SetItem(n, item);
    return dm.CurrentList.ItemAt(n);
}

// The end record that ends the file's bytes (no comment assumed unless given).
inline TEndRecord EndRecordOf(const std::string& bytes, size_t commentLength = 0)
{
    TEndRecord r{};
    if (bytes.size() >= sizeof r + commentLength)
        std::memcpy(&r, bytes.data() + bytes.size() - sizeof r - commentLength, sizeof r);
    return r;
}

template <class T>
T RecordAt(const std::string& bytes, size_t offset)
{
    T r{};
    if (offset + sizeof r <= bytes.size()) std::memcpy(&r, bytes.data() + offset, sizeof r);
    return r;
}

inline uint32_t U32At(const std::string& bytes, size_t offset) { return RecordAt<uint32_t>(bytes, offset); }
inline uint16_t U16At(const std::string& bytes, size_t offset) { return RecordAt<uint16_t>(bytes, offset); }

// The system's python3 when there is one: version-manager shims cost a
// second per start.
inline std::string Python()
{
    return platform::FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

// Python's zipfile reads the single-file archive and, with checkData, every
// CRC checks out; returns the number of entries, or -1 when it failed.
inline int PythonZipEntries(const std::string& path, bool checkData = true, std::string* log = nullptr)
{
    const std::string script = std::string("import sys, zipfile\n"
                                           "z = zipfile.ZipFile(sys.argv[1])\n") +
                               (checkData ? "sys.exit(3) if z.testzip() is not None else None\n" : "") +
                               "print(len(z.infolist()))\n";
    std::string out;
    const int rc = RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(path), &out);
    if (log) *log = out;
    if (rc != 0) return -1;
    return std::stoi(out);
}

// The archiver error code that f raises, or -1 when it raises none.
inline int NativeErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EAKException& e) {
        return e.NativeError();
    }
    return -1;
}
