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
    void ReadDirectory();
    void RebuildDirectory();
    void DetectStub(int64_t P);

    // Writing (container/WriteDirectory.cpp). Stream may be null.
    void WriteDirectory(TStream* NewStream);

private:
    void PlaceStub();
};
