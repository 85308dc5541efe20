#pragma once
// The working state of one item being read back from the archive: the
// volume being read, the item's local header, the byte counts and the CRC,
// the cipher keys and the zlib stream. It lives for one ExtractItemData call.
#include <cstdint>
#include <vector>

#include <zlib.h>

#include "archiver/Arkiva.h"
#include "primitives/AKCrc.h"
#include "primitives/AKCrypt.h"

class TItemReader {
public:
    TItemReader(TAKBaseArchiver& Archiver, TStream& Source, TStream& Destination, const TDirItem& Item);
    ~TItemReader();
    TItemReader(const TItemReader&) = delete;
    TItemReader& operator=(const TItemReader&) = delete;

    // Reads, decodes and checks the item; true only when all of its bytes
    // were written and both the size and the CRC-32 agree with the directory.
    bool ExtractItemData();

    // Reads exactly Count bytes, going on into the next volumes of a
    // multi-volume archive when the current one ends.
    bool ReadSpanned(void* Buffer, int64_t Count);
    // Moves to the next volume of a multi-volume archive for reading on;
    // false where there is none to go to.
    bool NextVolume();
    // Methods 0 and 8: one block loop, one zlib stream per item.
    bool ReadStoredOrDeflated();
    // Any other method with version needed above 10: the block format.
    bool ReadBlockFormat();
    // Decrypts the current chunk and inflates (or copies) it to the destination.
    bool DecodeBlock();
    // Initial output room for one deflate chunk of n bytes.
    int64_t EstimateOutputSize(int64_t n) const;
    // One block of the block format: a complete zlib stream of Length bytes
    // that must inflate to exactly Expected bytes.
    bool DecompressZlibBlock(int64_t Length, int64_t Expected);

    static constexpr int64_t BlockSize = 1048576;

private:
    // The block's progress events, then the length of the next chunk (halved
    // while its output could claim too much memory); false when the owner
    // cancelled.
    bool BeginChunk(uint64_t Limit);
    // A plain stored item between two files: the bytes are copied inside the
    // kernel while the second core reads them once more for the CRC.
    bool CopyStored(uint64_t Limit);
    // Copies exactly Count bytes to the destination, across volume ends,
    // with the CRC of each volume's part kept by the worker.
    bool TransferSpanned(int64_t Count);
    // Waits for the CRC of the current volume's part; false when it could
    // not read all of it.
    bool EndCrcRange();

    // Inflates the Length bytes at In through Stream, handing what comes out
    // to Emit; Produced counts it and may not pass Limit. False on a zlib
    // error or a refused Emit; Ended is set at the end of the stream.
    bool Inflate(z_stream& Stream, uint8_t* In, int64_t Length, int64_t Limit, int64_t& Produced, bool& Ended);

    // Hands decoded bytes on: CRC, then the destination. Never lets the item
    // grow past the uncompressed size its directory entry declares.
    bool Emit(const uint8_t* Data, int64_t Count);
    // The per-block progress events (when enabled) at the bytes consumed so
    // far; false when the owner cancelled.
    bool RaiseBlockProgress();
    // Asks for another password; false when the owner skips the item.
    bool AskPassword();
    // Skips Count bytes of the source, across volume ends where needed.
    void SkipSpanned(int64_t Count);
    // The input buffer: one chunk, and two bytes in front of it for the zlib
    // header that the first deflate chunk is given.
    void ReserveInput();
    // Gives the output buffer at least Capacity bytes (within its limit).
    void ReserveOutput(int64_t Capacity);

    TAKBaseArchiver& archiver_;
    TStream* source_;
    TStream& destination_;
    const TDirItem& item_;
    TAKVolumeNumberInfo volume_;
    TLocalFileHeader local_{};
    bool encrypted_ = false;
    int64_t dataSize_ = 0;
    int64_t expectedSize_ = 0;
    int64_t consumed_ = 0;
    int64_t written_ = 0;
    uint32_t crc_ = 0xFFFFFFFFu;
    int64_t chunk_ = 0;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> output_;
    z_stream zstream_{};
    bool zstreamReady_ = false;
    bool zstreamEnded_ = false;
    TAKCryptKeys keys_{};
    int64_t crcRange_ = -1;  // length of the volume part the worker reads, -1 when none
    // Last, so that it has finished with the buffers before they go.
    TParallelCRC crcWorker_;  // the CRC of a block runs beside its writing
};

// The volume that holds the item's local header, with the number of the
// last volume from the end records.
TAKVolumeNumberInfo ItemVolumeInfo(const TAKDirManager& DirManager, const TDirItem& Item);
