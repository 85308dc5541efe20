// The directory manager for a new archive (with its SFX stub) and the writing
// of the central directory, the end records and the archive comment.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"

namespace {


// The name bytes of an item's central entry: the bytes its local header holds.
// Flag bit 11 already says which they are (the commit set it for new items,
// items copied from the archive keep it as read), so it is never changed
// here: set, the name goes as UTF-8; clear, as the name rule writes an
// unflagged name (code page 437 where that keeps every character).
std::string CentralNameBytes(TDirItem& item, bool oemFileNames)
{
    std::string bytes;
    if (!item.RawName.empty()) {
        // Exactly what the local header holds, so both names always agree.
        bytes = item.RawName;
    } else if ((item.Header.Flags & FlagUtf8) != 0) {
        bytes = item.StoredName;
    } else {
        bool utf8 = false;
        bytes = EncodeStoredName(item.StoredName, oemFileNames, utf8);
    }
    if (bytes.size() > 0xFFFF) bytes.resize(0xFFFF);
    item.Header.FileNameLength = static_cast<uint16_t>(bytes.size());
    return bytes;
}

} // namespace

TAKDirManager::TAKDirManager(TStream* Stream_, TAKBaseArchiver* Archiver_, bool Creating)
    : Stream(Stream_), Archiver(Archiver_)
{
    ClearDirectory();
    if (!Creating) return;
    Archiver->VolumeInfo().SetFirst(true);
    if (!Archiver->SFXStub().empty()) PlaceStub();
}

void TAKDirManager::ClearDirectory()
{
    CurrentList.Clear();
    EndRecord = TEndRecord{};
    EndRecord.Signature = SigEndRecord;
}

void TAKDirManager::PlaceStub()
{
    TFileStream stub(Archiver->SFXStub(), fmOpenRead | fmShareDenyNone);
    const int64_t size = stub.Size();
    if (Archiver->SpanningMode() != smNone) {
        TAKVolumeNumberInfo first;
        first.SetFirst(true);
        const int64_t limit = Archiver->SpanningOptions().GetVolumeSize(first);
        // A stub exactly as large as the first volume still fits.
        if (limit != -1 && limit < size) throw EAKException(47, Archiver);
    }
    Stream->SetSize(0);
    Stream->SetPosition(0);
    if (size > 0) Stream->CopyFrom(stub, 0);
    StubSize = size;
}

void TAKDirManager::WriteDirectory(TStream* NewStream)
{
    if (NewStream) Stream = NewStream;
    if (!Stream) Stream = Archiver->archiveStream_.get();
    if (!Stream) throw EAKException(46, Archiver);

    TAKBaseArchiver& a = *Archiver;
    TAKVolumeNumberInfo& volume = a.volumeInfo_;
    const bool multiVolume = !a.SingleStream();
    const bool oemNames = a.Options().OEMFileNames();

    Stream->Seek(0, SeekOrigin::End);
    const int64_t start = Stream->Position();

    // Where the first entry lands. The volume writer may carry it to the next
    // volume when the rest of this one cannot hold it; the end records then
    // name that volume and the entry's offset in it, as every reader expects.
    int64_t startVolume = std::max(volume.VolumeNumber, 0);
    int64_t startOffset = start;
    int64_t directorySize = 0;

    // The directory is gathered in memory: a single file gets it whole in
    // one write, a multi-volume archive each volume's part when the volume
    // is closed.
    TMemoryStream gathered;
    auto place = [&](const void* data, size_t length, int64_t keepTogether) {
        if (length == 0) return;
        if (multiVolume)
            a.WriteAllToVolumes(data, static_cast<int64_t>(length), Stream, volume, keepTogether, &gathered);
        else
            gathered.WriteBuffer(data, static_cast<int64_t>(length));
        directorySize += static_cast<int64_t>(length);
    };
    auto flush = [&]() {
        if (gathered.Size() > 0) {
            a.WriteAllToVolumes(gathered.Memory(), gathered.Size(), Stream, volume, -1, nullptr);
            gathered.Clear();
        }
    };

    const int32_t count = CurrentList.GetCount();
    TAKVolumeNumberInfo later;
    later.SetVolumeNumber(1); // any volume but the first: where a moved entry lands
    const int64_t nextVolumeLimit = a.SpanningOptions().GetVolumeSize(later);
    try {
        std::vector<uint8_t> entry;
        for (int32_t i = 0; i < count; ++i) {
            TDirItem& item = CurrentList.ItemAt(i);

            // The same bytes as in the local header, and the length of them.
            const std::string name = CentralNameBytes(item, oemNames);
            // The ZIP64 block built afresh first, the other stored blocks after
            // it unchanged; never longer than its 16-bit length field.
            std::vector<uint8_t> extra;
            AppendCentralExtraField(item, extra);
            item.Header.ExtraFieldLength = static_cast<uint16_t>(extra.size());
            const size_t commentLength = std::min<size_t>(item.ItemComment.size(), 0xFFFF);
            item.Header.FileCommentLength = static_cast<uint16_t>(commentLength);

            // The whole entry goes into one volume, comment included: readers
            // (ours among them) take a directory record from one volume only.
            // Only an entry larger than a whole volume has its comment cut;
            // its fixed part, name and extra field still stay together.
            entry.resize(sizeof(TCentralHeaderImage));
            std::memcpy(entry.data(), &item.Header, sizeof(TCentralHeaderImage));
            entry.insert(entry.end(), name.begin(), name.end());
            entry.insert(entry.end(), extra.begin(), extra.end());
            const size_t fixedLength = entry.size();
            const bool commentFits = !multiVolume || nextVolumeLimit == -1 ||
                                     static_cast<int64_t>(fixedLength + commentLength) <= nextVolumeLimit;
            if (commentFits) entry.insert(entry.end(), item.ItemComment.begin(), item.ItemComment.begin() + commentLength);
            place(entry.data(), entry.size(), 0);
            if (i == 0) {
                startVolume = std::max(volume.VolumeNumber, 0);
                startOffset = multiVolume ? Stream->Size() + gathered.Size() - static_cast<int64_t>(entry.size())
                                          : start;
            }
            if (!commentFits) place(item.ItemComment.data(), commentLength, -1);
        }
    } catch (...) {
        try {
            flush();
        } catch (...) {
            // The first failure is the one the caller hears about.
        }
        throw;
    }
    flush();
    DirectoryOffset = startOffset;

    const int64_t thisVolume = std::max(volume.VolumeNumber, 0);
    const std::string& comment = ArchiveComment;
    const size_t commentLength = std::min<size_t>(comment.size(), 0xFFFF);

    EndRecord = MakeEndRecord(thisVolume, startVolume, count, directorySize, startOffset, commentLength);

    const int64_t position = Stream->Position();
    const bool zip64 = EndRecordsNeedZip64(EndRecord, position);
    Zip64EndRecord = TZip64EndRecord{};
    Zip64Locator = TZip64Locator{};
    IsZip64 = zip64;
    if (zip64) {
        Zip64EndRecord = MakeZip64EndRecord(thisVolume, startVolume, count, directorySize, startOffset);
        Stream->WriteBuffer(&Zip64EndRecord, sizeof Zip64EndRecord);
        Zip64Locator = MakeZip64Locator(thisVolume, position);
        Stream->WriteBuffer(&Zip64Locator, sizeof Zip64Locator);
    }
    // The end records always go whole into the volume written last.
    Stream->WriteBuffer(&EndRecord, sizeof EndRecord);
    if (commentLength > 0) Stream->WriteBuffer(comment.data(), static_cast<int64_t>(commentLength));

    if (multiVolume && a.volumeFileName_ != a.fileName_) {
        // The volume with the directory takes the archive's final name.
        const std::string volumeName = a.volumeFileName_;
        a.archiveStream_.reset();
        Stream = nullptr;
        std::string lastName = a.fileName_;
        a.GetVolumeFileName(lastName, -1, false);
        if (lastName != volumeName) {
            platform::DeleteFile(lastName);
            platform::RenameFile(volumeName, lastName);
        }
        a.archiveStream_ = std::make_unique<TFileStream>(lastName, fmOpenReadWrite | fmShareDenyNone);
        a.volumeFileName_ = lastName;
        Stream = a.archiveStream_.get();
    }
}
