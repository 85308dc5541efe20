// Committing an update: the archive is rewritten in place from the first
// item that changes, new items from their sources and unchanged ones from a
// copy of the old tail, then the directory; a cancel, an abort or an
// exception rolls everything back.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "archiver/AKExcept.h"
#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "container/ZipRecords.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"

namespace {

constexpr int64_t kMarker = static_cast<int64_t>(Zip64Marker32);
constexpr int64_t kLocalZip64Room = 20;

void SetDiskNumberStart(TDirItem& item, int32_t volume) {
    const int64_t v = std::max(volume, 0);
    if (v >= Zip64Marker16) {
        item.Zip64 = true;
        item.Header.DiskNumberStart = Zip64Marker16;
        item.Zip64DiskStart = static_cast<uint32_t>(v);
    } else {
        item.Header.DiskNumberStart = static_cast<uint16_t>(v);
    }
}

// The largest compressed size the pipeline can produce for a source: a
// deflated block of incompressible data grows a little, every sync flush
// adds a marker, and an encrypted item carries its 12-byte header.
int64_t WorstCompressedSize(int64_t sourceSize, bool deflated, bool encrypted, int64_t blockSize) {
    int64_t n = sourceSize + (encrypted ? 12 : 0);
    if (deflated)
        n += (sourceSize >> 12) + (sourceSize >> 14) + (sourceSize >> 25) + 64 + 16 * (sourceSize / blockSize + 1);
    return n;
}

// Item data of a split archive goes through the volume writer as each block
// is produced, so no temporary copy of the item is needed.
class TVolumeSink : public TStream {
public:
    explicit TVolumeSink(TAKBaseArchiver& archiver) : archiver_(archiver) {}

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count <= 0) return 0;
        TStream* stream = archiver_.ArchiveStream();
        archiver_.WriteAllToVolumes(buffer, count, stream, archiver_.VolumeInfo(), -1, nullptr);
        written_ += count;
        return count;
    }
    int64_t TransferFrom(TStream& source, int64_t count) override {
        if (count <= 0) return 0;
        TStream* stream = archiver_.ArchiveStream();
        const int64_t moved = archiver_.TransferToVolumes(source, count, stream, archiver_.VolumeInfo());
        written_ += moved;
        return moved;
    }
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        if (offset == 0 && origin != SeekOrigin::Begin) return written_;
        throw EInOutError("Cannot seek in the volume writer");
    }
    int64_t Size() override { return written_; }
    void SetSize(int64_t) override { throw EInOutError("Cannot change the size of the volume writer"); }

private:
    TAKBaseArchiver& archiver_;
    int64_t written_ = 0;
};

// A per-item temporary file: closed and deleted however the item ends.
struct TTempFile {
    std::string Name;
    std::unique_ptr<TFileStream> Stream;
    ~TTempFile() { Release(); }
    void Release() {
        Stream.reset();
        if (!Name.empty()) platform::DeleteFile(Name);
        Name.clear();
    }
};

// Length of the data descriptor that follows an item's data (flag bit 3),
// as found in the bytes at `at`: an optional signature, the CRC-32, then
// 32- or 64-bit sizes.
int64_t DataDescriptorLength(TStream& tail, int64_t at, const TDirItem& item) {
    uint8_t buf[24] = {};
    tail.SetPosition(at);
    const int64_t n = std::max<int64_t>(tail.Read(buf, sizeof buf), 0);
    int64_t off = 0;
    if (n >= 4 && ReadRecord<uint32_t>(buf) == SigDataDescriptor) off = 4;
    const uint64_t csize = static_cast<uint64_t>(ItemCompressedSize(item));
    const uint64_t usize = static_cast<uint64_t>(ItemUncompressedSize(item));
    const bool crcMatches = n >= off + 4 && ReadRecord<uint32_t>(buf + off) == item.Header.Crc32;
    if (crcMatches && n >= off + 12 && ReadRecord<uint32_t>(buf + off + 4) == static_cast<uint32_t>(csize) &&
        ReadRecord<uint32_t>(buf + off + 8) == static_cast<uint32_t>(usize))
        return off + 12;
    if (crcMatches && n >= off + 20 && ReadRecord<uint64_t>(buf + off + 4) == csize &&
        ReadRecord<uint64_t>(buf + off + 12) == usize)
        return off + 20;
    return std::min<int64_t>(n, off + (item.Zip64 ? 20 : 12));
}

// A directory need not list the items in the order in which they lie. The
// rewrite starts at the lowest local header among the saved items from
// `first` on (`tailStart`), and every item listed before `first` that lies
// behind that point is rewritten too: otherwise cutting the archive would
// lose it, or a later item would be looked for in front of the tail. So
// `first` becomes the largest index not above it before which every item
// lies in front of all the items from there on.
void CoverItemsBehindTheCut(const TAKDirArray& saved, int32_t& first, int32_t& tailStart) {
    if (first >= saved.GetCount()) return;
    const size_t n = static_cast<size_t>(saved.GetCount());
    size_t f = static_cast<size_t>(first);
    std::vector<int64_t> offset(n);
    for (size_t i = 0; i < n; ++i) offset[i] = ItemLocalHeaderOffset(saved.ItemAt(static_cast<int32_t>(i)));
    std::vector<int64_t> lowestFrom(n + 1, INT64_MAX); // lowest offset of the items from i on
    for (size_t i = n; i-- > 0;) lowestFrom[i] = std::min(lowestFrom[i + 1], offset[i]);
    std::vector<int64_t> highestBefore(f + 1, INT64_MIN); // highest offset of the items before i
    for (size_t i = 0; i < f; ++i) highestBefore[i + 1] = std::max(highestBefore[i], offset[i]);
    while (f > 0 && highestBefore[f] >= lowestFrom[f]) --f;
    size_t start = f;
    for (size_t k = f + 1; k < n; ++k)
        if (offset[k] < offset[start]) start = k;
    first = static_cast<int32_t>(f);
    tailStart = static_cast<int32_t>(start);
}

} // namespace

void TAKBaseArchiver::CommitUpdate() {
    if (updateCount_ <= 0) return;
    updateCount_ = 0;
    if (!dirManager_) return;
    TAKDirArray& current = dirManager_->CurrentList;
    TAKDirArray& saved = dirManager_->SavedList;

    ProcessedCount = 0;
    SelectedCount = 0;
    Cancelled = false;
    ProgressEnabled = true;
    int32_t firstPending = -1;
    for (int32_t i = 0; i < current.GetCount(); ++i) {
        if (!current.ItemAt(i).Pending) continue;
        if (firstPending < 0) firstPending = i;
        ++SelectedCount;
    }

    commit_ = TAKCommitState{};
    abortError_.reset();
    commit_.NewVolumeSet = openMode_ == fmCreate && !SingleStream();
    commit_.FirstChangedIndex = FindFirstChangedItem();
    commit_.StartOperation = firstPending >= 0 ? current.ItemAt(firstPending).PendingOperation : poDelete;

    DoOnOverallProgress(0, commit_.StartOperation, ppStart, Cancelled);
    if (Cancelled) {
        // Nothing is written yet; the list goes back to what the archive
        // holds (a new set is given up like after any later cancel).
        if (commit_.NewVolumeSet)
            RollBackUpdate();
        else
            current.CopyFrom(saved);
        return;
    }
    // A set discarded by an earlier failed commit has no volume left to write to.
    if (!archiveStream_) {
        current.CopyFrom(saved);
        throw EAKException(45, this);
    }

    const int32_t savedCount = saved.GetCount();
    int32_t tailStart = commit_.FirstChangedIndex;
    if (SingleStream()) CoverItemsBehindTheCut(saved, commit_.FirstChangedIndex, tailStart);
    if (commit_.FirstChangedIndex < savedCount) {
        try {
            SaveArchiveTail(tailStart);
        } catch (...) {
            // The archive itself is untouched so far.
            DeleteTailFile();
            current.CopyFrom(saved);
            throw;
        }
        commit_.CutPosition = ItemLocalHeaderOffset(saved.ItemAt(tailStart));
    } else if (savedCount == 0) {
        commit_.CutPosition = dirManager_->StubSize;
    } else {
        // Where the directory was found: the end record's own figure is off
        // when a stub was put in front of the archive afterwards, and means
        // nothing for a directory rebuilt from the local headers.
        commit_.CutPosition = dirManager_->DirectoryOffset;
    }

    try {
        archiveStream_->SetPosition(commit_.CutPosition);
        archiveStream_->SetSize(commit_.CutPosition);
        commit_.Action = fxaIgnore;
        // VolumeInfo describes the open volume: the first one of a single
        // file or of a set being created; an existing set keeps its own.
        if (SingleStream() || commit_.NewVolumeSet) volumeInfo_.SetFirst(true);
        if (spanningMode_ == smSpanning && IsFloppyDrive(fileName_))
            commit_.MemoryBuffer = std::make_unique<TMemoryStream>();

        int32_t i = commit_.FirstChangedIndex;
        while (i < current.GetCount() && !Cancelled) {
            const bool pending = current.ItemAt(i).Pending;
            bool written = false;
            do {
                commit_.Action = fxaIgnore;
                if (pending) {
                    written = WriteNewItem(i);
                } else {
                    CopyUnchangedItem(i);
                    written = false;
                }
            } while (commit_.Action == fxaRetry);
            if (commit_.Action == fxaAbort || Cancelled) break;
            if (!pending) {
                ++i;
            } else if (written) {
                ++ProcessedCount;
                ++i;
            } else if (current.ItemAt(i).PendingOperation == poAdd) {
                current.Delete(i); // its failure was ignored
            } else {
                CopyUnchangedItem(i); // the replaced item comes back as it was
                ++i;
            }
        }

        const bool ended = Cancelled || commit_.Action == fxaAbort;
        if (commit_.MemoryBuffer) {
            std::unique_ptr<TMemoryStream> buffer = std::move(commit_.MemoryBuffer);
            if (!ended && buffer->Size() > 0) {
                TStream* stream = archiveStream_.get();
                WriteAllToVolumes(buffer->Memory(), buffer->Size(), stream, volumeInfo_, -1, nullptr);
            }
        }
        if (!ended) {
            dirManager_->WriteDirectory(archiveStream_.get());
            DeleteTailFile();
        }
    } catch (...) {
        commit_.MemoryBuffer.reset();
        ReleaseItemSource();
        try {
            RollBackUpdate();
        } catch (...) {
            // The first failure is the one the caller hears about.
        }
        throw;
    }

    if (Cancelled || commit_.Action == fxaAbort) {
        RollBackUpdate();
        // Only a cancel the owner asked for ends quietly; an item failure
        // answered with abort reaches the caller.
        if (abortError_) {
            const EAKException error = *abortError_;
            abortError_.reset();
            throw error;
        }
        return;
    }

    // The directory is written: the commit is complete, whatever the last
    // progress handler answers.
    bool lateCancel = false;
    DoOnOverallProgress(100, commit_.StartOperation, ppEnd, lateCancel);

    if (options_->FlushBuffers())
        if (auto* file = dynamic_cast<TFileStream*>(archiveStream_.get())) file->Flush();
}

int32_t TAKBaseArchiver::FindFirstChangedItem() {
    const TAKDirArray& current = dirManager_->CurrentList;
    const TAKDirArray& saved = dirManager_->SavedList;
    const int32_t n = std::min(current.GetCount(), saved.GetCount());
    for (int32_t i = 0; i < n; ++i) {
        const TDirItem& c = current.ItemAt(i);
        if (c.Pending || c.StoredName != saved.ItemAt(i).StoredName) return i;
    }
    return n;
}

void TAKBaseArchiver::SaveArchiveTail(int32_t Index) {
    commit_.TailFileName = MakeTempFileName();
    commit_.TailFile = std::make_unique<TFileStream>(commit_.TailFileName, fmCreate);
    const int64_t from = ItemLocalHeaderOffset(dirManager_->SavedList.ItemAt(Index));
    const int64_t size = archiveStream_->Size();
    if (size > from) {
        archiveStream_->SetPosition(from);
        commit_.TailFile->CopyFrom(*archiveStream_, size - from);
    }
}

bool TAKBaseArchiver::WriteNewItem(int32_t Index) {
    TAKDirArray& current = dirManager_->CurrentList;
    const TAKProcessOperation operation = current.ItemAt(Index).PendingOperation;
    const std::string eventName =
        operation == poUpdate ? current.ItemAt(Index).StoredName : current.ItemAt(Index).SourcePath;

    DoOnFileProgress(eventName, 0, operation, ppStart, Cancelled);
    if (Cancelled) return false;

    TTempFile temp;
    try {
        TDirItem& item = current.ItemAt(Index);
        const bool oem = options_->OEMFileNames();
        // The name as written; flag bit 11 and the name length follow it.
        const std::string name = EncodeItemName(item, oem);
        item.Zip64 = false;

        const bool isFolder = (item.Header.ExternalAttributes & faDirectory) != 0;
        int64_t sourceSize = 0;
        if (!isFolder) {
            try {
                commit_.Source = std::make_unique<TFileStream>(item.SourcePath, fmOpenRead | options_->ShareModeBits());
            } catch (const Exception&) {
                throw EAKException(33, this, {item.SourcePath});
            }
            sourceSize = commit_.Source->Size();
        }
        const bool hasSource = static_cast<bool>(commit_.Source);

        const bool singleStream = SingleStream();
        const bool split = !singleStream && spanningMode_ == smSplitting;

        if (!archiveStream_) throw EAKException(45, this);
        const int64_t p = archiveStream_->Position();
        SetItemLocalHeaderOffset(item, p, zip64Mode_ == zmAlways);

        // Sizes in ZIP64 form in the local header. Besides a source of 4 GiB
        // or more, a source whose compressed size may still reach the marker
        // gets the room for the local ZIP64 block: its compressed size is
        // known only once the data is written behind the header.
        bool bigSource = hasSource && sourceSize >= kMarker;
        if (hasSource && !bigSource && zip64Mode_ == zmAuto &&
            WorstCompressedSize(sourceSize, item.Header.Method == 8, !item.ItemPassword.empty(),
                                GetBlockSize(item.ItemCompressionMode)) >= kMarker)
            bigSource = true;
        const bool room = hasSource && (bigSource || zip64Mode_ == zmAlways);
        if (room) item.Zip64 = true;

        const uint16_t version = ItemVersionValue(item.Zip64 || bigSource, oem);
        item.Header.VersionMadeBy = version;
        item.Header.VersionNeeded = version;

        TLocalFileHeader local{};
        local.Signature = SigLocalHeader;
        local.VersionNeeded = version;
        local.Flags = item.Header.Flags;
        local.Method = item.Header.Method;
        local.LastModTime = item.Header.LastModTime;
        local.LastModDate = item.Header.LastModDate;
        local.Crc32 = item.Header.Crc32;
        local.CompressedSize = 0;
        local.UncompressedSize = !hasSource ? 0 : room ? Zip64Marker32 : static_cast<uint32_t>(sourceSize);
        local.FileNameLength = static_cast<uint16_t>(name.size());
        local.ExtraFieldLength = room ? kLocalZip64Room : 0;

        if (zip64Mode_ == zmDisabled && item.Zip64) {
            ReleaseItemSource();
            throw EAKException(43, this, {item.SourcePath});
        }

        std::vector<uint8_t> headerBytes;
        AppendBytes(headerBytes, local);
        AppendBytes(headerBytes, name);
        if (room) headerBytes.insert(headerBytes.end(), kLocalZip64Room, uint8_t{0});
        const int64_t headerLength = static_cast<int64_t>(headerBytes.size());

        // Where the header lies once placed, and in which file.
        int64_t headerOffset = p;
        int32_t headerVolume = volumeInfo_.VolumeNumber;
        std::string headerFile = volumeFileName_;
        TVolumeSink sink(*this);
        TStream* destination = archiveStream_.get();

        if (singleStream) {
            item.Header.DiskNumberStart = 0;
            archiveStream_->WriteBuffer(headerBytes.data(), headerLength);
        } else if (split) {
            // The header, name and ZIP64 room go whole into one volume.
            TStream* stream = archiveStream_.get();
            WriteAllToVolumes(headerBytes.data(), headerLength, stream, volumeInfo_, 0, nullptr);
            headerVolume = volumeInfo_.VolumeNumber;
            headerFile = volumeFileName_;
            headerOffset = archiveStream_->Position() - headerLength;
            SetDiskNumberStart(item, headerVolume);
            SetItemLocalHeaderOffset(item, headerOffset, zip64Mode_ == zmAlways);
            destination = &sink;
        } else {
            temp.Name = MakeTempFileName();
            temp.Stream = std::make_unique<TFileStream>(temp.Name, fmCreate);
            temp.Stream->WriteBuffer(headerBytes.data(), headerLength);
            headerOffset = 0;
            destination = temp.Stream.get();
        }

        if (hasSource && CompressItem(*commit_.Source, *destination, item)) {
            local.Crc32 = item.Header.Crc32;
            local.CompressedSize = (item.Header.CompressedSize == Zip64Marker32 || zip64Mode_ == zmAlways)
                                       ? Zip64Marker32
                                       : item.Header.CompressedSize;
            local.Method = item.Header.Method;
            if (!room) local.UncompressedSize = item.Header.UncompressedSize;
            const int64_t compressed64 = ItemCompressedSize(item);
            const int64_t uncompressed64 = ItemUncompressedSize(item);
            auto patch = [&](TStream& s, int64_t at) {
                s.SetPosition(at);
                s.WriteBuffer(&local, sizeof local);
                if (room) {
                    const std::vector<uint8_t> block = BuildLocalZip64Block(uncompressed64, compressed64);
                    s.SetPosition(at + static_cast<int64_t>(sizeof local) + local.FileNameLength);
                    s.WriteBuffer(block.data(), static_cast<int64_t>(block.size()));
                }
            };
            if (singleStream) {
                patch(*archiveStream_, headerOffset);
            } else if (split) {
                if (archiveStream_ && volumeInfo_.VolumeNumber == headerVolume && volumeFileName_ == headerFile) {
                    patch(*archiveStream_, headerOffset);
                    archiveStream_->Seek(0, SeekOrigin::End);
                } else {
                    // The writer has closed that volume and moved on. Like
                    // every volume but the last it is not synced: that would
                    // write the whole volume out, and FlushBuffers is for the
                    // archive file.
                    TFileStream volume(headerFile, fmOpenReadWrite | fmShareDenyNone);
                    patch(volume, headerOffset);
                }
            } else {
                patch(*temp.Stream, 0);
            }
        }

        if (Cancelled) {
            ReleaseItemSource();
            return false;
        }
        if (singleStream) archiveStream_->Seek(0, SeekOrigin::End);

        if (!singleStream && !split) {
            TMemoryStream* buffer = commit_.MemoryBuffer.get();
            TStream* stream = archiveStream_.get();
            temp.Stream->SetPosition(0);
            CopyToVolumes(*temp.Stream, stream, volumeInfo_, commit_.CopyCancelled, headerLength, 0, buffer, false);
            SetDiskNumberStart(item, volumeInfo_.VolumeNumber);
            // The header's bytes may still wait in the buffer of this volume.
            const int64_t q = buffer ? archiveStream_->Size() + buffer->Position() : archiveStream_->Position();
            SetItemLocalHeaderOffset(item, q - headerLength, zip64Mode_ == zmAlways);
            stream = archiveStream_.get();
            CopyToVolumes(*temp.Stream, stream, volumeInfo_, commit_.CopyCancelled, -1, -1, buffer, true);
        }

        ReleaseItemSource();
        temp.Release();
        DoOnFileProgress(eventName, 100, operation, ppEnd, Cancelled);
        if (commit_.CopyCancelled) {
            commit_.Action = fxaAbort;
            return false;
        }
        return true;
    } catch (const EAKException& e) {
        ReleaseItemSource();
        temp.Release();
        if (!archiveStream_)
            commit_.Action = fxaAbort; // a refused volume: nothing left to write to
        else
            DoOnProcessFileFailure(eventName, operation, e.NativeError(), e.ErrorCode(), e.Message(),
                                   commit_.Action);
        if (commit_.Action == fxaAbort) abortError_ = std::make_unique<EAKException>(e);
        return false;
    } catch (...) {
        ReleaseItemSource();
        throw;
    }
}

void TAKBaseArchiver::CopyUnchangedItem(int32_t Index) {
    TAKDirArray& current = dirManager_->CurrentList;
    TAKDirArray& saved = dirManager_->SavedList;
    const std::string storedName = current.ItemAt(Index).StoredName;

    int32_t k = -1;
    if (saved.FindName(storedName, k) && saved.ItemAt(k).StoredName != storedName) k = -1;
    if (k < 0) {
        // The index ignores letter case; the match must not.
        for (int32_t j = 0; j < saved.GetCount(); ++j)
            if (saved.ItemAt(j).StoredName == storedName) {
                k = j;
                break;
            }
    }
    if (k < 0 || !commit_.TailFile) throw EAKException(7, this);

    if (current.ItemAt(Index).PendingOperation == poUpdate) current.SetItem(Index, saved.ItemAt(k));
    const TDirItem& old = saved.ItemAt(k);
    TFileStream& tail = *commit_.TailFile;
    const int64_t src = ItemLocalHeaderOffset(old) - commit_.CutPosition;

    // The lengths of name and extra field are those of the local header
    // itself: other tools write local extra fields that differ from the
    // central ones.
    int64_t headerLength = 30 + old.Header.FileNameLength + old.Header.ExtraFieldLength;
    TLocalFileHeader local{};
    tail.SetPosition(src);
    if (tail.Read(&local, sizeof local) == static_cast<int64_t>(sizeof local) && local.Signature == SigLocalHeader)
        headerLength = static_cast<int64_t>(sizeof local) + local.FileNameLength + local.ExtraFieldLength;
    int64_t length = headerLength + ItemCompressedSize(old);
    if ((old.Header.Flags & FlagDataDescriptor) != 0) length += DataDescriptorLength(tail, src + length, old);

    TDirItem& item = current.ItemAt(Index);
    SetItemLocalHeaderOffset(item, archiveStream_->Position(), false);
    tail.SetPosition(src);
    if (length > 0) archiveStream_->CopyFrom(tail, length);
}

void TAKBaseArchiver::ReleaseItemSource() { commit_.Source.reset(); }

void TAKBaseArchiver::RollBackUpdate() {
    if (!dirManager_) return;
    dirManager_->CurrentList.CopyFrom(dirManager_->SavedList);

    if (commit_.NewVolumeSet) {
        // A new set that did not come out whole is removed, so that nothing
        // on disk looks like a finished split (a later close writes no empty
        // archive in its place either: there is no volume left to write to).
        std::set<std::string> names;
        const int32_t reached = std::max(volumeInfo_.VolumeNumber, 0);
        for (int32_t n = 0; n < reached; ++n) {
            std::string name = fileName_;
            GetVolumeFileName(name, n, false);
            names.insert(name);
        }
        // The volume opened last, under the name it was opened with; once
        // renamed away it carries the archive's final name.
        if (!volumeFileName_.empty()) {
            names.insert(volumeFileName_);
            if (!platform::FileExists(volumeFileName_)) {
                std::string finalName = fileName_;
                GetVolumeFileName(finalName, -1, false);
                names.insert(finalName);
            }
        }
        archiveStream_.reset();
        dirManager_->Stream = nullptr;
        for (const std::string& name : names) platform::DeleteFile(name);
        DeleteTailFile();
        return;
    }

    if (!archiveStream_) return;
    if (commit_.TailFile) {
        RestoreArchiveTail();
    } else {
        archiveStream_->SetSize(commit_.CutPosition);
        dirManager_->WriteDirectory(archiveStream_.get());
    }
}

void TAKBaseArchiver::RestoreArchiveTail() {
    archiveStream_->SetPosition(commit_.CutPosition);
    archiveStream_->SetSize(commit_.CutPosition);
    TFileStream& tail = *commit_.TailFile;
    const int64_t size = tail.Size();
    tail.SetPosition(0);
    if (size > 0) archiveStream_->CopyFrom(tail, size);
    DeleteTailFile();
}

void TAKBaseArchiver::DeleteTailFile() {
    commit_.TailFile.reset();
    if (!commit_.TailFileName.empty()) platform::DeleteFile(commit_.TailFileName);
    commit_.TailFileName.clear();
}

std::string TAKBaseArchiver::MakeTempFileName() const {
    const std::string dir = tempDir_.empty() ? platform::SystemTempDir() : tempDir_;
    std::string name = platform::MakeUniqueTempFile(dir, "FC");
    if (name.empty())
        throw EFCreateError("Cannot create a temporary file in \"" + platform::ExcludeTrailingPathDelimiter(dir) +
                            "\"");
    return name;
}
