// Opening an archive's directory: the end record, the ZIP64 records, the
// entries across volumes, the stub in front of a single file, and the rebuild
// from local headers when the directory is missing or damaged.
//
// Nothing read from the file is trusted: every count, size and offset is
// checked against the bytes the stream holds before anything is allocated
// or read, and every scan goes through the file once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"

namespace {

constexpr int64_t EndRecordWindow = 65600;  // 22 bytes + the longest comment, with room to spare
constexpr size_t RebuildWindow = 65535;
constexpr size_t StubWindow = 10000;
constexpr size_t CentralFixedSize = sizeof(TCentralHeaderImage);
constexpr size_t LocalFixedSize = sizeof(TLocalFileHeader);
constexpr uint16_t MaxRebuiltExtraLength = 260;

// A directory that cannot be what its records claim; raised inside the
// guarded reading, which then rebuilds (or refuses, for a multi-volume set).
struct EDamagedDirectory : Exception {
    EDamagedDirectory() : Exception("Damaged central directory") {}
};

// Reads exactly n bytes at pos; false when the stream holds fewer.
bool ReadAt(TStream& s, int64_t pos, void* buffer, size_t n) {
    if (pos < 0)
        return false;
    s.SetPosition(pos);
    return s.Read(buffer, static_cast<int64_t>(n)) == static_cast<int64_t>(n);
}

// Finds 4-byte signatures going forward through a stream, one window at a
// time; successive windows overlap by 3 bytes so that no signature is lost
// at a boundary. Searches from increasing positions reuse the window they
// are in, so a whole pass reads the file once.
class SignatureScanner {
public:
    SignatureScanner(TStream& stream, int64_t size, size_t window) : s_(stream), size_(size), window_(window) {}

    // Position of the first signature at or after from whose position plus
    // `need` stays within the stream; -1 when there is none.
    int64_t Find(int64_t from, uint32_t signature, int64_t need) {
        uint8_t sig[4];
        std::memcpy(sig, &signature, 4);
        if (from < 0)
            from = 0;
        while (from <= size_ - 4) {
            if (!Holds(from, 4))
                Load(from);
            const uint8_t* begin = buf_.data();
            const uint8_t* p = begin + (from - start_);
            const uint8_t* last = begin + buf_.size() - 4;  // last position a whole signature fits
            while (p <= last) {
                p = static_cast<const uint8_t*>(std::memchr(p, sig[0], static_cast<size_t>(last - p) + 1));
                if (p == nullptr)
                    break;
                if (p[1] == sig[1] && p[2] == sig[2] && p[3] == sig[3]) {
                    const int64_t at = start_ + (p - begin);
                    // Every later occurrence lies still closer to the end.
                    return size_ - at >= need ? at : -1;
                }
                ++p;
            }
            from = start_ + static_cast<int64_t>(buf_.size()) - 3;
        }
        return -1;
    }

private:
    bool Holds(int64_t pos, int64_t n) const {
        return !buf_.empty() && pos >= start_ && pos + n <= start_ + static_cast<int64_t>(buf_.size());
    }
    void Load(int64_t pos) {
        const int64_t n = std::min<int64_t>(static_cast<int64_t>(window_), size_ - pos);
        buf_.resize(static_cast<size_t>(n));
        start_ = pos;
        s_.SetPosition(pos);
        s_.ReadBuffer(buf_.data(), n);
    }

    TStream& s_;
    int64_t size_;
    size_t window_;
    std::vector<uint8_t> buf_;
    int64_t start_ = 0;
};

// Reads the entries of the directory in one volume through a buffer, so that
// a large directory costs a few large reads rather than several per entry.
class EntryReader {
public:
    void Reset(TStream* stream, int64_t position) {
        s_ = stream;
        size_ = stream->Size();
        pos_ = position;
        begin_ = end_ = 0;
    }
    int64_t Position() const { return pos_; }
    // May be negative: a recorded offset beyond the end of the volume.
    int64_t Remaining() const { return size_ - pos_; }
    // Up to n bytes; fewer only at the end of the volume.
    size_t Read(uint8_t* dst, size_t n) {
        size_t done = 0;
        while (done < n) {
            if (begin_ == end_ && !Fill())
                break;
            const size_t take = std::min(n - done, end_ - begin_);
            std::memcpy(dst + done, buf_.data() + begin_, take);
            begin_ += take;
            done += take;
            pos_ += static_cast<int64_t>(take);
        }
        return done;
    }

private:
    bool Fill() {
        if (pos_ < 0 || pos_ >= size_)
            return false;
        const int64_t n = std::min<int64_t>(static_cast<int64_t>(Chunk), size_ - pos_);
        buf_.resize(Chunk);
        s_->SetPosition(pos_);
        const int64_t got = s_->Read(buf_.data(), n);
        if (got <= 0)
            return false;
        begin_ = 0;
        end_ = static_cast<size_t>(got);
        return true;
    }

    static constexpr size_t Chunk = 65536;
    TStream* s_ = nullptr;
    int64_t size_ = 0;
    int64_t pos_ = 0;
    std::vector<uint8_t> buf_;
    size_t begin_ = 0;
    size_t end_ = 0;
};

// The sizes of the local ZIP64 block (uncompressed, then compressed), when
// the header's size fields hold the marker and the block holds both.
bool LocalZip64Sizes(const std::vector<uint8_t>& extra, int64_t& uncompressed, int64_t& compressed) {
    size_t pos = 0;
    while (extra.size() - pos >= 4) {
        const uint16_t id = ReadRecord<uint16_t>(extra.data() + pos);
        const size_t size = std::min<size_t>(ReadRecord<uint16_t>(extra.data() + pos + 2), extra.size() - pos - 4);
        pos += 4;
        if (id == Zip64ExtraID && size >= 16) {
            uncompressed = static_cast<int64_t>(ReadRecord<uint64_t>(extra.data() + pos));
            compressed = static_cast<int64_t>(ReadRecord<uint64_t>(extra.data() + pos + 8));
            return uncompressed >= 0 && compressed >= 0;
        }
        pos += size;
    }
    return false;
}

} // namespace

bool TAKDirManager::FindEndRecord(TEndRecord& Record, int64_t& Position) {
    ArchiveComment.clear();
    Record = TEndRecord{};
    Position = -1;
    const int64_t size = Stream->Size();
    const int64_t w = std::min(size, EndRecordWindow);
    if (w < static_cast<int64_t>(sizeof(TEndRecord)))
        return false;
    std::vector<uint8_t> window(static_cast<size_t>(w));
    Stream->SetPosition(size - w);
    Stream->ReadBuffer(window.data(), w);

    // Backwards from the end: the first record whose comment ends the file
    // exactly is the one nearest to the end.
    for (int64_t start = w - static_cast<int64_t>(sizeof(TEndRecord)); start >= 0; --start) {
        const uint8_t* p = window.data() + start;
        if (p[0] != 0x50 || p[1] != 0x4B || p[2] != 0x05 || p[3] != 0x06)
            continue;
        const TEndRecord r = ReadRecord<TEndRecord>(p);
        const int64_t after = w - start - static_cast<int64_t>(sizeof(TEndRecord));
        if (r.CommentLength != after)
            continue;
        Record = r;
        Position = size - w + start;
        if (r.CommentLength != 0)
            ArchiveComment.assign(reinterpret_cast<const char*>(p + sizeof(TEndRecord)), r.CommentLength);
        return true;
    }
    return false;
}

bool TAKDirManager::ReadZip64Locator(int64_t EndPosition, TZip64Locator& Locator) {
    return ReadAt(*Stream, EndPosition - static_cast<int64_t>(sizeof Locator), &Locator, sizeof Locator) &&
           Locator.Signature == SigZip64Locator;
}

int64_t TAKDirManager::LastVolume(const TEndRecord& Record, const TZip64Locator* Locator) {
    if (Record.ThisDisk != Zip64Marker16)
        return Record.ThisDisk;
    return Locator ? std::max<int64_t>(static_cast<int64_t>(Locator->TotalDisks) - 1, 0) : 0;
}

void TAKDirManager::ReadDirectory() {
    CurrentList.Clear();
    EndRecord = TEndRecord{};
    EndRecord.Signature = SigEndRecord;
    Zip64Locator = TZip64Locator{};
    Zip64EndRecord = TZip64EndRecord{};
    IsZip64 = false;
    StubSize = 0;
    DirectoryOffset = 0;

    TEndRecord record;
    int64_t p = 0;
    if (!FindEndRecord(record, p)) {
        RebuildDirectory();
        return;
    }
    EndRecord = record;

    // ZIP64: the locator lies directly before the end record, the ZIP64 end
    // record where the locator says.
    {
        TZip64Locator locator;
        if (ReadZip64Locator(p, locator)) {
            Zip64Locator = locator;
            IsZip64 = true;
            p -= static_cast<int64_t>(sizeof locator);
            constexpr int64_t recordSize = sizeof(TZip64EndRecord);
            bool found = false;
            // A record that begins at offset 0 fits too.
            if (p >= recordSize) {
                // A file with bytes in front of an archive whose offsets do not
                // count them has the record directly before the locator.
                const int64_t named = locator.EndRecordOffset <= static_cast<uint64_t>(p - recordSize)
                                          ? static_cast<int64_t>(locator.EndRecordOffset)
                                          : -1;
                for (const int64_t at : {named, p - recordSize}) {
                    TZip64EndRecord r;
                    if (at >= 0 && ReadAt(*Stream, at, &r, sizeof r) && r.Signature == SigZip64EndRecord) {
                        Zip64EndRecord = r;
                        p = at;
                        found = true;
                        break;
                    }
                }
            }
            if (!found)
                throw EAKException(40, Archiver);
        }
    }

    if (!IsZip64 && EndRecord.TotalEntries == Zip64Marker16) {
        RebuildDirectory();
        return;
    }

    int64_t startVolume = EndRecord.StartDisk;
    if (startVolume == Zip64Marker16)
        startVolume = IsZip64 ? Zip64EndRecord.StartDisk : 0;
    const int64_t lastVolume = LastVolume();

    const bool multiVolume = Archiver->SpanningMode() != smNone;
    if (multiVolume && (startVolume > lastVolume || lastVolume >= INT32_MAX)) {
        RebuildDirectory(); // a multi-volume set is refused there
        return;
    }

    TAKVolumeNumberInfo info;
    info.LastVolumeNumber = static_cast<int32_t>(std::min<int64_t>(lastVolume, INT32_MAX - 1));
    info.SetVolumeNumber(static_cast<int32_t>(std::min<int64_t>(startVolume, INT32_MAX - 1)));
    if (multiVolume) {
        Archiver->RequestVolume(info);
        Stream = Archiver->ArchiveStream();
        if (Stream == nullptr)
            throw EAKException(44, Archiver);
    }

    // Where the first entry begins, and how many there are. A single file is
    // read relative to its end records, so bytes put in front of it do not
    // disturb the reading; a multi-volume set by the recorded offset.
    const uint64_t count = IsZip64 ? Zip64EndRecord.TotalEntries : EndRecord.TotalEntries;
    const uint64_t directorySize = IsZip64 ? Zip64EndRecord.DirectorySize : EndRecord.DirectorySize;
    const uint64_t recordedOffset = IsZip64 ? Zip64EndRecord.DirectoryOffset : EndRecord.DirectoryOffset;
    int64_t start = -1;
    if (multiVolume)
        start = recordedOffset <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(recordedOffset) : -1;
    else if (directorySize <= static_cast<uint64_t>(p))
        start = p - static_cast<int64_t>(directorySize);

    // Every entry takes at least its 46 fixed bytes: a count that the
    // directory cannot hold is damage, found before the list is sized.
    bool plausible = start >= 0 && count <= static_cast<uint64_t>(INT32_MAX) && count <= directorySize / CentralFixedSize;
    // Where the whole directory lies in one file, the bytes up to the end
    // records bound it too. Across volumes the list grows with the entries
    // actually read instead.
    const bool oneFile = !multiVolume || startVolume == lastVolume;
    if (plausible && oneFile)
        plausible = start <= p && count <= static_cast<uint64_t>(p - start) / CentralFixedSize;
    if (!plausible) {
        RebuildDirectory();
        return;
    }
    const int32_t entries = static_cast<int32_t>(count);
    const bool oem = Archiver->Options().OEMFileNames();

    EntryReader reader;
    // The next volume of the set; never past the last one.
    auto nextVolume = [&] {
        if (!Archiver->RequestNextVolume(info))
            throw EDamagedDirectory();
        Stream = Archiver->ArchiveStream();
        reader.Reset(Stream, 0);
    };
    // Exactly n bytes; in a multi-volume set a read that comes short goes on
    // at the start of the next volume (a comment may be cut between two).
    auto readBytes = [&](void* buffer, size_t n) {
        auto* dst = static_cast<uint8_t*>(buffer);
        while (n > 0) {
            const size_t got = reader.Read(dst, n);
            dst += got;
            n -= got;
            if (n == 0)
                break;
            if (!multiVolume)
                throw EReadError("Stream read error");
            nextVolume();
        }
    };
    // A variable-length part of an entry; in a single file its length is
    // checked against what is left before anything is allocated.
    auto readString = [&](size_t n) {
        if (!multiVolume && reader.Remaining() < static_cast<int64_t>(n))
            throw EReadError("Stream read error");
        std::string s(n, '\0');
        readBytes(s.data(), n);
        return s;
    };

    try {
        reader.Reset(Stream, start);
        DirectoryOffset = start;
        if (oneFile)
            CurrentList.SetCount(entries);
        for (int32_t i = 0; i < entries; ++i) {
            // The writer never cuts the fixed part of an entry: with fewer
            // bytes than that left, the entry begins on the next volume.
            if (multiVolume)
                while (reader.Remaining() < static_cast<int64_t>(CentralFixedSize))
                    nextVolume();
            if (i == 0)
                DirectoryOffset = reader.Position();
            if (!oneFile)
                CurrentList.SetCount(i + 1);

            TDirItem& item = CurrentList.ItemAt(i);
            readBytes(&item.Header, CentralFixedSize);
            const std::string raw =
                item.Header.FileNameLength != 0 ? readString(item.Header.FileNameLength) : std::string();
            if (item.Header.ExtraFieldLength != 0) {
                const std::string extra = readString(item.Header.ExtraFieldLength);
                ParseCentralExtraField(item, reinterpret_cast<const uint8_t*>(extra.data()), extra.size());
            }
            // The name is decoded once the extra blocks are known: one of
            // them may carry its UTF-8 form.
            CurrentList.RenameItem(i, raw.empty() ? std::string()
                                                  : DecodeCentralName(raw, oem, item.Header.Flags,
                                                                      item.Header.VersionMadeBy, item.ExtraBlocks));
            item.RawName = raw;
            if (item.Header.FileCommentLength != 0)
                item.ItemComment = readString(item.Header.FileCommentLength);
        }
    } catch (const Exception&) {
        // A directory that cannot be read is rebuilt from the local headers
        // (a multi-volume set is refused there).
        RebuildDirectory();
        return;
    }

    if (lastVolume == 0)
        DetectStub(p);

    // Offsets written relative to the start of the ZIP data, in front of
    // which a stub was put afterwards, are made to count the stub.
    if (StubSize > 0) {
        for (int32_t i = 0; i < CurrentList.GetCount(); ++i) {
            const TDirItem& item = CurrentList.ItemAt(i);
            if (ItemCompressedSize(item) == 0)
                continue;
            if (ItemLocalHeaderOffset(item) < StubSize) {
                for (int32_t k = 0; k < CurrentList.GetCount(); ++k) {
                    TDirItem& shifted = CurrentList.ItemAt(k);
                    SetItemLocalHeaderOffset(shifted, ItemLocalHeaderOffset(shifted) + StubSize,
                                             shifted.Header.LocalHeaderOffset == Zip64Marker32);
                }
            }
            break;
        }
    }
}

void TAKDirManager::DetectStub(int64_t P) {
    StubSize = 0;
    // Without entries everything in front of the directory records is stub.
    if (CurrentList.GetCount() == 0) {
        StubSize = std::max<int64_t>(P, 0);
        return;
    }
    const TCentralHeaderImage& first = CurrentList.ItemAt(0).Header;
    const int64_t size = Stream->Size();
    SignatureScanner scanner(*Stream, size, StubWindow);
    int64_t from = ItemLocalHeaderOffset(CurrentList.ItemAt(0));
    while (from >= 0 && from < size) {
        const int64_t f = scanner.Find(from, SigLocalHeader, static_cast<int64_t>(LocalFixedSize));
        if (f < 0)
            return;
        TLocalFileHeader l;
        if (ReadAt(*Stream, f, &l, sizeof l) && size - f - static_cast<int64_t>(sizeof l) >= l.FileNameLength) {
            bool same = l.VersionNeeded == first.VersionNeeded && l.Method == first.Method &&
                        l.LastModTime == first.LastModTime && l.LastModDate == first.LastModDate;
            // A header followed by a data descriptor holds no CRC and sizes.
            if ((l.Flags & FlagDataDescriptor) == 0)
                same = same && l.Crc32 == first.Crc32 && l.CompressedSize == first.CompressedSize &&
                       l.UncompressedSize == first.UncompressedSize;
            if (f == 0 || same) {
                StubSize = f;
                return;
            }
        }
        from = f + 1;
    }
}

void TAKDirManager::RebuildDirectory() {
    CurrentList.Clear();
    // A multi-volume set is never rebuilt.
    if (Archiver->SpanningMode() != smNone)
        throw EAKException(44, Archiver);

    const int64_t size = Stream->Size();
    const int64_t need = static_cast<int64_t>(LocalFixedSize);
    SignatureScanner headers(*Stream, size, RebuildWindow);
    int64_t q = headers.Find(0, SigLocalHeader, need);
    if (q < 0)
        throw EAKException(35, Archiver);

    // Data descriptors are looked for from each header on. The headers come
    // in increasing order, so the answer for one header stays good for the
    // next as long as it lies at or after it: the file is scanned once.
    SignatureScanner descriptors(*Stream, size, RebuildWindow);
    int64_t descriptorFrom = -1;  // the last search started here...
    int64_t descriptorAt = -1;    // ...and found this (-1: none)
    auto findDescriptor = [&](int64_t from) {
        const bool reusable = descriptorFrom >= 0 && descriptorFrom <= from && (descriptorAt < 0 || descriptorAt >= from);
        if (!reusable) {
            descriptorAt = descriptors.Find(from, SigDataDescriptor, 0);
            descriptorFrom = from;
        }
        return descriptorAt;
    };

    const bool oem = Archiver->Options().OEMFileNames();
    for (; q >= 0; q = headers.Find(q + 4, SigLocalHeader, need)) {
        TLocalFileHeader l;
        if (!ReadAt(*Stream, q, &l, sizeof l))
            continue;
        const int64_t nameEnd = q + need + l.FileNameLength;
        const bool nameReadable = nameEnd <= size;

        // A header in ZIP64 form keeps its sizes in its local ZIP64 block.
        int64_t uncompressed64 = 0;
        int64_t compressed64 = 0;
        bool zip64 = false;
        if ((l.CompressedSize == Zip64Marker32 || l.UncompressedSize == Zip64Marker32) && nameReadable &&
            l.ExtraFieldLength <= MaxRebuiltExtraLength && size - nameEnd >= l.ExtraFieldLength) {
            std::vector<uint8_t> extra(l.ExtraFieldLength);
            if (ReadAt(*Stream, nameEnd, extra.data(), extra.size()))
                zip64 = LocalZip64Sizes(extra, uncompressed64, compressed64);
        }
        const int64_t compressed = (zip64 && l.CompressedSize == Zip64Marker32) ? compressed64 : l.CompressedSize;
        if (compressed >= size || l.ExtraFieldLength > MaxRebuiltExtraLength)
            continue;

        const int32_t i = CurrentList.GetCount();
        CurrentList.SetCount(i + 1);
        TDirItem& item = CurrentList.ItemAt(i);
        item.Header = CentralHeaderFromLocal(l);
        item.Header.FileCommentLength = 0;
        item.Header.DiskNumberStart = 0;
        item.Header.InternalAttributes = 0;
        item.Header.ExternalAttributes = RebuiltExternalAttributes(l);
        if (zip64) {
            item.Zip64 = true;
            item.UncompressedSize64 = uncompressed64;
            item.CompressedSize64 = compressed64;
        }
        SetItemLocalHeaderOffset(item, q, item.Header.LocalHeaderOffset == Zip64Marker32);

        std::string name, raw;
        if (nameReadable && l.FileNameLength != 0) {
            raw.assign(l.FileNameLength, '\0');
            if (ReadAt(*Stream, q + need, raw.data(), raw.size()))
                name = DecodeStoredName(raw, oem, l.Flags);
            else
                raw.clear();
        }
        CurrentList.RenameItem(i, name);
        CurrentList.ItemAt(i).RawName = raw;

        if ((l.Flags & FlagDataDescriptor) != 0) {
            const int64_t d = findDescriptor(q);
            TDataDescriptor dd;
            if (d >= 0 && ReadAt(*Stream, d, &dd, sizeof dd)) {
                TDirItem& described = CurrentList.ItemAt(i);
                described.Header.Crc32 = dd.Crc32;
                described.Header.CompressedSize = dd.CompressedSize;
                described.Header.UncompressedSize = dd.UncompressedSize;
            }
        }
    }
    DirectoryOffset = size;
}
