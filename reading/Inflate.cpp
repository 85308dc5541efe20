// Reading one item back: bring its volume, position on its local header,
// read its data across volume ends, decrypt, inflate or copy, and check size
// and CRC-32 against the directory.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/System.h"
#include "primitives/AKCrc.h"
#include "primitives/AKCrypt.h"
#include "reading/ItemReader.h"

namespace {

// Decoded bytes go out in slices of at most this size, so that memory stays
// bounded however well an item compresses.
constexpr int64_t kMaxOutput = 4 * 1048576;
constexpr int64_t kMinOutput = 65536;

constexpr uint8_t kZlibHeader[2] = {0x78, 0x01};

constexpr uint16_t kBlockFormatUnprotected = 0xFFFF;

// The 50-byte header at the start of an item in the block format.
struct TBlockFormatHeader {
    int32_t BlockSize = 0;
    uint32_t ItemSize = 0;
    int32_t BlockCount = 0;
    uint8_t Algorithm = 0;
    uint8_t Compressed = 0;
    uint16_t ProtectionId = 0;
    uint32_t CheckValue = 0;
    uint8_t Verifier[16] = {};
};

TBlockFormatHeader ParseBlockFormatHeader(const uint8_t* p) {
    TBlockFormatHeader h;
    h.BlockSize = ReadRecord<int32_t>(p + 0);
    h.ItemSize = ReadRecord<uint32_t>(p + 8);
    h.BlockCount = ReadRecord<int32_t>(p + 16);
    h.Algorithm = p[20];
    h.Compressed = p[21];
    h.ProtectionId = ReadRecord<uint16_t>(p + 22);
    h.CheckValue = ReadRecord<uint32_t>(p + 24);
    std::memcpy(h.Verifier, p + 28, sizeof h.Verifier);
    return h;
}

// Ends a zlib stream on every way out.
struct TInflateGuard {
    z_stream* Stream;
    bool Active;
    ~TInflateGuard() {
        if (Active) inflateEnd(Stream);
    }
};

} // namespace

TAKVolumeNumberInfo ItemVolumeInfo(const TAKDirManager& DirManager, const TDirItem& Item) {
    TAKVolumeNumberInfo info;
    int32_t volume = Item.Header.DiskNumberStart;
    if (Item.Header.DiskNumberStart == Zip64Marker16)
        volume = DirManager.IsZip64 ? static_cast<int32_t>(Item.Zip64DiskStart) : 0;
    info.LastVolumeNumber = static_cast<int32_t>(std::min<int64_t>(DirManager.LastVolume(), INT32_MAX));
    info.SetVolumeNumber(volume);
    return info;
}

// ---------------------------------------------------------------------------
// The archiver's side.

void TAKBaseArchiver::ExtractItemToStream(int32_t Index, TStream& Destination) {
    if (!dirManager_ || Index < 0 || Index >= dirManager_->CurrentList.GetCount())
        throw EAKException(16, this);
    // A copy: the item must not change under the reader while events run.
    const TDirItem item = dirManager_->CurrentList.ItemAt(Index);
    const TAKVolumeNumberInfo info = ItemVolumeInfo(*dirManager_, item);
    RequestVolume(info);
    if (!archiveStream_)
        throw EAKException(13, this);
    archiveStream_->SetPosition(ItemLocalHeaderOffset(item));
    const bool ok = ExtractItemData(*archiveStream_, Destination, item);
    if (!ok && !Cancelled && !extractCorruptedFiles_ && !SkipCurrentFile)
        throw EAKException(8, this);
}

bool TAKBaseArchiver::ExtractItemData(TStream& Source, TStream& Destination, const TDirItem& Item) {
    TItemReader reader(*this, Source, Destination, Item);
    return reader.ExtractItemData();
}

bool TAKBaseArchiver::CheckPassword(TStream& Archive, const std::string& Password, TAKCryptKeys& Keys,
                                    uint32_t Crc32, uint16_t LastModTime, uint16_t Flags) {
    uint8_t header[12];
    Archive.ReadBuffer(header, sizeof header);
    return CheckEncryptionHeader(header, Password, Keys, Crc32, LastModTime, Flags);
}

// ---------------------------------------------------------------------------
// The reader.

TItemReader::TItemReader(TAKBaseArchiver& Archiver, TStream& Source, TStream& Destination, const TDirItem& Item)
    : archiver_(Archiver), source_(&Source), destination_(Destination), item_(Item) {}

TItemReader::~TItemReader() {
    if (zstreamReady_)
        inflateEnd(&zstream_);
}

bool TItemReader::ExtractItemData() {
    const TAKDirManager* dm = archiver_.DirManager();
    if (dm != nullptr) {
        volume_ = ItemVolumeInfo(*dm, item_);
    } else {
        volume_.LastVolumeNumber = 0;
        volume_.SetVolumeNumber(0);
    }

    // The local header is trusted for nothing but the lengths to skip and
    // the values the password check needs.
    uint8_t raw[sizeof(TLocalFileHeader)];
    if (!ReadSpanned(raw, sizeof raw))
        throw EReadError("Stream read error");
    local_ = ReadRecord<TLocalFileHeader>(raw);
    SkipSpanned(static_cast<int64_t>(local_.FileNameLength) + local_.ExtraFieldLength);

    crc_ = 0xFFFFFFFFu;
    encrypted_ = (item_.Header.Flags & FlagEncrypted) != 0;
    dataSize_ = ItemCompressedSize(item_);
    expectedSize_ = ItemUncompressedSize(item_);

    // In a single file the item's data cannot reach into the directory.
    if (archiver_.SpanningMode() == smNone && dm != nullptr) {
        const int64_t position = source_->Position();
        if (position + dataSize_ > dm->DirectoryOffset)
            dataSize_ = dm->DirectoryOffset - position;
    }

    archiver_.FileProgressTotal = dataSize_;
    archiver_.SkipCurrentFile = false;

    bool result;
    switch (item_.Header.Method) {
    case 0:
    case 8:
        result = ReadStoredOrDeflated();
        break;
    case 9:
        throw EAKException(55, &archiver_);
    default:
        result = item_.Header.VersionNeeded > 10 ? ReadBlockFormat() : false;
        break;
    }

    if (written_ != expectedSize_)
        result = false;
    if (result)
        result = ~crc_ == item_.Header.Crc32;
    return result;
}

bool TItemReader::ReadSpanned(void* Buffer, int64_t Count) {
    auto* p = static_cast<uint8_t*>(Buffer);
    int64_t got = source_->Read(p, Count);
    while (got < Count) {
        if (!NextVolume())
            break;
        got += source_->Read(p + got, Count - got);
        if (source_->Position() == 0)
            break;
    }
    return got == Count;
}

bool TItemReader::NextVolume() {
    // A single file has nothing after its end; a set has nothing after its
    // last volume.
    if (archiver_.SpanningMode() == smNone || !archiver_.RequestNextVolume(volume_))
        return false;
    source_ = archiver_.ArchiveStream();
    source_->SetPosition(0);
    return true;
}

bool TItemReader::EndCrcRange() {
    if (crcRange_ < 0)
        return true;
    const int64_t covered = crcWorker_.End();
    const bool whole = covered == crcRange_;
    crcRange_ = -1;
    return whole;
}

bool TItemReader::TransferSpanned(int64_t Count) {
    int64_t done = 0;
    bool changed = false;
    for (;;) {
        if (crcRange_ < 0) {
            // The worker reads the part of the item that this volume holds.
            auto* file = static_cast<TFileStream*>(source_);
            const int64_t at = file->Position();
            const int64_t left = std::min(dataSize_, expectedSize_) - written_;
            crcRange_ = std::clamp<int64_t>(file->Size() - at, 0, left);
            crcWorker_.BeginRange(file->PositionalReader(), at, crcRange_, crc_);
        }
        const int64_t moved = destination_.TransferFrom(*source_, Count - done);
        done += moved;
        written_ += moved;
        if (done == Count)
            return true;
        // Short: a write failed, or this volume has ended.
        if (source_->Position() < source_->Size() || (changed && moved == 0))
            return false;
        if (!EndCrcRange())
            return false;
        // The worker is done with this volume before it is closed.
        if (!NextVolume())
            return false;
        if (!dynamic_cast<TFileStream*>(source_))
            return false;
        changed = true;
    }
}

bool TItemReader::BeginChunk(uint64_t Limit) {
    if (!RaiseBlockProgress())
        return false;
    chunk_ = std::min(BlockSize, dataSize_ - consumed_);
    while (chunk_ >= 512 && static_cast<uint64_t>(EstimateOutputSize(chunk_)) >= Limit)
        chunk_ /= 2;
    return true;
}

bool TItemReader::CopyStored(uint64_t Limit) {
    bool ok = true;
    while (ok && consumed_ < dataSize_) {
        if (!BeginChunk(Limit))
            break;

        // A byte past the declared size ends the item, as in Emit.
        const int64_t take = std::min(chunk_, std::max<int64_t>(expectedSize_ - written_, 0));
        ok = TransferSpanned(take) && take == chunk_;
        if (ok)
            consumed_ += chunk_;
    }
    if (ok && consumed_ >= dataSize_)
        return EndCrcRange();
    crcWorker_.Stop();
    crcRange_ = -1;
    return false;
}

void TItemReader::SkipSpanned(int64_t Count) {
    if (Count <= 0)
        return;
    const int64_t position = source_->Position();
    if (archiver_.SpanningMode() == smNone || position + Count <= source_->Size()) {
        source_->Seek(Count, SeekOrigin::Current);
        return;
    }
    // The name or extra field runs on into the next volume.
    std::vector<uint8_t> scratch(static_cast<size_t>(Count));
    if (!ReadSpanned(scratch.data(), Count))
        throw EReadError("Stream read error");
}

bool TItemReader::AskPassword() {
    std::string password = archiver_.Password();
    archiver_.DoOnPassword(item_.StoredName, password, archiver_.SkipCurrentFile);
    // An entered password stays in effect for the items that follow.
    archiver_.SetPassword(password);
    return !archiver_.SkipCurrentFile;
}

bool TItemReader::RaiseBlockProgress() {
    archiver_.FileProgressPosition = consumed_;
    return !archiver_.ProgressEnabled || archiver_.RaiseBlockProgress(item_.StoredName, item_.PendingOperation);
}

bool TItemReader::Emit(const uint8_t* Data, int64_t Count) {
    if (Count <= 0)
        return true;
    const int64_t room = std::max<int64_t>(expectedSize_ - written_, 0);
    const int64_t take = std::min(Count, room);
    if (take > 0) {
        crcWorker_.Begin(Data, take, crc_);
        const bool whole = destination_.Write(Data, take) == take;
        crcWorker_.End();
        if (!whole)
            return false;
        written_ += take;
    }
    // A byte past the declared size ends the item: a damaged or crafted
    // entry cannot grow without limit.
    return take == Count;
}

void TItemReader::ReserveInput() {
    // Chunks never exceed the item's data, so small items get a small buffer.
    input_.resize(static_cast<size_t>(std::clamp<int64_t>(dataSize_, 0, BlockSize) + 2));
}

void TItemReader::ReserveOutput(int64_t Capacity) {
    const int64_t wanted = std::clamp(Capacity, kMinOutput, kMaxOutput);
    if (static_cast<int64_t>(output_.size()) < wanted)
        output_.resize(static_cast<size_t>(wanted));
}

int64_t TItemReader::EstimateOutputSize(int64_t n) const {
    const uint64_t c = static_cast<uint64_t>(ItemCompressedSize(item_));
    const uint64_t u = static_cast<uint64_t>(ItemUncompressedSize(item_));
    const unsigned __int128 ratio = c > 0 ? u / c + 1 : 1;
    const uint64_t span = static_cast<uint64_t>(std::max<int64_t>(n, 0));
    unsigned __int128 v = ratio * (span + span / 2 + 12 + 255);
    constexpr unsigned __int128 kCeiling = static_cast<unsigned __int128>(1) << 62;
    if (v > kCeiling)
        v = kCeiling;
    v &= ~static_cast<unsigned __int128>(0xFF);
    if (v == 0)
        v = 256;
    const long long exponent = std::llround(std::log2(static_cast<long double>(static_cast<uint64_t>(v))));
    return static_cast<int64_t>(1) << std::clamp<long long>(exponent, 0, 62);
}

bool TItemReader::ReadStoredOrDeflated() {
    archiver_.SkipCurrentFile = false;

    if (encrypted_) {
        dataSize_ -= 12;
        if (dataSize_ < 0)
            return false;
        // The header is read once, across a volume end if need be, and
        // checked again for every password offered.
        uint8_t header[12];
        if (!ReadSpanned(header, sizeof header))
            return false;
        TMemoryStream headerStream;
        headerStream.WriteBuffer(header, sizeof header);
        for (;;) {
            headerStream.SetPosition(0);
            if (archiver_.CheckPassword(headerStream, archiver_.Password(), keys_, local_.Crc32, local_.LastModTime,
                                        local_.Flags))
                break;
            if (!AskPassword())
                return false;
        }
    }

    const uint64_t limit = platform::AvailablePhysicalMemory() / 20;

    if (item_.Header.Method == 0 && !encrypted_ && dynamic_cast<TFileStream*>(&destination_) &&
        dynamic_cast<TFileStream*>(source_))
        return CopyStored(limit);

    ReserveInput();
    if (item_.Header.Method == 8) {
        std::memset(&zstream_, 0, sizeof zstream_);
        if (inflateInit(&zstream_) != Z_OK)
            return false;
        zstreamReady_ = true;
    }

    while (consumed_ < dataSize_) {
        if (!BeginChunk(limit))
            break;

        if (!ReadSpanned(input_.data() + 2, chunk_))
            return false;
        if (!DecodeBlock())
            return false;
        consumed_ += chunk_;
    }
    return true;
}

bool TItemReader::DecodeBlock() {
    if (chunk_ <= 0)
        return false;
    uint8_t* in = input_.data() + 2;
    if (encrypted_)
        DecryptBuffer(in, chunk_, keys_);

    if (item_.Header.Method == 0)
        return Emit(in, chunk_);

    // The archive holds raw deflate data; a zlib header in front of the
    // first chunk lets the zlib-format inflater read it. The trailer is never
    // reached: the item ends when its compressed bytes run out.
    int64_t length = chunk_;
    if (consumed_ == 0) {
        in -= 2;
        std::memcpy(in, kZlibHeader, sizeof kZlibHeader);
        length += 2;
    }
    if (zstreamEnded_)
        return true;

    ReserveOutput(EstimateOutputSize(chunk_));
    int64_t produced = 0;
    return Inflate(zstream_, in, length, std::numeric_limits<int64_t>::max(), produced, zstreamEnded_);
}

bool TItemReader::Inflate(z_stream& Stream, uint8_t* In, int64_t Length, int64_t Limit, int64_t& Produced,
                          bool& Ended) {
    Stream.next_in = In;
    Stream.avail_in = static_cast<uInt>(Length);
    for (;;) {
        Stream.next_out = output_.data();
        Stream.avail_out = static_cast<uInt>(output_.size());
        const int rc = inflate(&Stream, Z_NO_FLUSH);
        if (rc == Z_NEED_DICT || (rc < 0 && rc != Z_BUF_ERROR))
            return false;
        const int64_t got = static_cast<int64_t>(output_.size()) - Stream.avail_out;
        Produced += got;
        if (Produced > Limit || !Emit(output_.data(), got))
            return false;
        if (rc == Z_STREAM_END) {
            Ended = true;
            return true;
        }
        // Z_BUF_ERROR: the input is used up and nothing more is pending.
        if (rc == Z_BUF_ERROR || (Stream.avail_in == 0 && Stream.avail_out != 0))
            return true;
    }
}

bool TItemReader::ReadBlockFormat() {
    uint8_t raw[50];
    if (dataSize_ < static_cast<int64_t>(sizeof raw) || !ReadSpanned(raw, sizeof raw))
        return false;
    consumed_ += sizeof raw;
    const TBlockFormatHeader header = ParseBlockFormatHeader(raw);

    encrypted_ = header.ProtectionId != kBlockFormatUnprotected;
    if (encrypted_) {
        archiver_.SkipCurrentFile = false;
        uint32_t check = 0xFFFFFFFFu;
        UpdateCRC(header.Verifier, sizeof header.Verifier, check);
        if (~check != header.CheckValue) {
            // The verifier does not depend on the password, so another one
            // cannot make it pass: the owner may skip the item, else it fails.
            AskPassword();
            return false;
        }
        crc_ = 0xFFFFFFFFu;
    }

    archiver_.FileProgressTotal = source_->Size();
    ReserveInput();

    const int64_t itemSize = item_.Header.UncompressedSize == Zip64Marker32 ? item_.UncompressedSize64
                                                                            : static_cast<int64_t>(header.ItemSize);
    for (int32_t b = 0; b < header.BlockCount; ++b) {
        if (!RaiseBlockProgress())
            return true;

        uint32_t length = 0;
        if (dataSize_ - consumed_ < 4 || !ReadSpanned(&length, 4))
            return false;
        consumed_ += 4;
        // A block cannot be longer than what is left of the item's data.
        if (static_cast<int64_t>(length) > dataSize_ - consumed_)
            return false;

        const int64_t expected = b == header.BlockCount - 1 ? itemSize - written_ : header.BlockSize;
        if (expected < 0)
            return false;

        if (header.Compressed != 0) {
            if (header.Algorithm != 0 || !DecompressZlibBlock(length, expected))
                return false;
        } else {
            // Blocks that hold the bytes as they are.
            if (static_cast<int64_t>(length) != expected)
                return false;
            int64_t left = length;
            while (left > 0) {
                const int64_t piece = std::min(left, BlockSize);
                if (!ReadSpanned(input_.data(), piece) || !Emit(input_.data(), piece))
                    return false;
                left -= piece;
            }
        }
        consumed_ += length;
    }
    return true;
}

bool TItemReader::DecompressZlibBlock(int64_t Length, int64_t Expected) {
    if (Length <= 0)
        return false;
    z_stream block{};
    if (inflateInit(&block) != Z_OK)
        return false;
    TInflateGuard guard{&block, true};
    ReserveOutput(Expected);

    int64_t left = Length;
    int64_t produced = 0;
    bool ended = false;
    while (left > 0) {
        const int64_t piece = std::min(left, BlockSize);
        if (!ReadSpanned(input_.data(), piece))
            return false;
        left -= piece;
        // Bytes of the block after its zlib stream are read and ignored.
        if (ended)
            continue;
        if (!Inflate(block, input_.data(), piece, Expected, produced, ended))
            return false;
    }
    guard.Active = false;
    if (inflateEnd(&block) < 0)
        return false;
    return ended && produced > 0 && produced == Expected;
}
