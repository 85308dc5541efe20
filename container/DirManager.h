#pragma once
// The directory of the open archive: current and saved lists, end-record
// images, comment, stub size, directory offset; reading and writing it.
#include <cstdint>
#include <string>

#include "archiver/DirArray.h"
#include "container/ZipRecords.h"
#include "platform/Streams.h"

class TAKBaseArchiver;

class TAKDirManager {
public:
    // Stream is always the archiver's ArchiveStream. With Creating, makes the
    // archiver's VolumeInfo the first volume and places the SFX stub (code 47).
    TAKDirManager(TStream* Stream, TAKBaseArchiver* Archiver, bool Creating);

    TStream* Stream;                 // not owned
    TAKBaseArchiver* Archiver;       // not owned
    TAKDirArray SavedList;
    TAKDirArray CurrentList;
    std::string ArchiveComment;
    TZip64Locator Zip64Locator{};
    TZip64EndRecord Zip64EndRecord{};
    TEndRecord EndRecord{};
    int64_t StubSize = 0;
    bool IsZip64 = false;
    int64_t DirectoryOffset = 0;

    // Empties the current list; EndRecord all zeros with its signature.
    void ClearDirectory();

    // Reading (container/ReadDirectory.cpp).
    bool FindEndRecord(TEndRecord& Record, int64_t& Position);
    // The ZIP64 locator directly in front of the end record found at
    // EndPosition, when one is there.
    bool ReadZip64Locator(int64_t EndPosition, TZip64Locator& Locator);
    // The number of the set's last volume: the end record's, or where that
    // holds the marker, the one the ZIP64 locator gives (0 without one).
    static int64_t LastVolume(const TEndRecord& Record, const TZip64Locator* Locator);
    int64_t LastVolume() const { return LastVolume(EndRecord, IsZip64 ? &Zip64Locator : nullptr); }
    void ReadDirectory();
    void RebuildDirectory();
    void DetectStub(int64_t P);

    // Writing (container/WriteDirectory.cpp). Stream may be null.
    void WriteDirectory(TStream* NewStream);

private:
    void PlaceStub();
};
