// Locating the volume that holds an existing archive's end record, and
// deciding from it and from the volume files present whether the archive is
// one file, a split set or a spanned set.
#include <algorithm>
#include <memory>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "volumes/VolumeFiles.h"

namespace {

// Whether a volume file exists under this name, also when another tool wrote
// it with other letter case (Info-ZIP's "x.z01" for our "x.Z01").
bool VolumeFileExists(const std::string& name) {
    return platform::FileExists(ResolveExistingVolumeName(name));
}

bool ContainsExe(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name.find(".exe") != std::string::npos;
}

} // namespace

void TAKBaseArchiver::OpenLastVolume() {
    bool found = false;
    do {
        dirManager_.reset();
        volumeInfo_.Reset();
        TAKVolumeNumberInfo last;
        last.SetLast(true);
        // A missing file on a removable drive: ask for the disk that holds it.
        if (!platform::FileExists(fileName_) && IsRemovableDrive(fileName_))
            spanningMode_ = smSpanning;
        RequestVolume(last);
        dirManager_ = std::make_unique<TAKDirManager>(archiveStream_.get(), this, false);
        int64_t position = 0;
        found = dirManager_->FindEndRecord(dirManager_->EndRecord, position);
        DetectSpanningMode(found, dirManager_->EndRecord);
    } while (!found && spanningMode_ != smNone);
}

void TAKBaseArchiver::OpenStubArchive() {
    TAKVolumeNumberInfo last;
    last.SetLast(true);
    RequestVolume(last);
    dirManager_ = std::make_unique<TAKDirManager>(archiveStream_.get(), this, false);
    int64_t position = 0;
    if (dirManager_->FindEndRecord(dirManager_->EndRecord, position)) {
        DetectSpanningMode(true, dirManager_->EndRecord);
        return;
    }

    // No end record in the ".exe": it is taken to be volume 0 of a split set
    // whose last volume carries the base name with ".ZIP".
    dirManager_.reset();
    spanningMode_ = smSplitting;
    std::string lastName = fileName_;
    GetVolumeFileName(lastName, -1, false);
    if (VolumeFileExists(lastName)) {
        volumeInfo_.Reset();
        TAKVolumeNumberInfo info;
        info.SetLast(true);
        RequestVolume(info);
    }
    spanningMode_ = smNone;

    // The stream open now (the ".ZIP", or else the ".exe") stays open.
    bool found = false;
    do {
        dirManager_.reset();
        volumeInfo_.Reset();
        TAKVolumeNumberInfo info;
        info.SetLast(true);
        RequestVolume(info);
        dirManager_ = std::make_unique<TAKDirManager>(archiveStream_.get(), this, false);
        found = dirManager_->FindEndRecord(dirManager_->EndRecord, position);
        DetectSpanningMode(found, dirManager_->EndRecord);
    } while (!found && spanningMode_ != smNone);
}

void TAKBaseArchiver::DetectSpanningMode(bool endRecordFound, const TEndRecord& endRecord) {
    if (!endRecordFound) {
        spanningMode_ = IsRemovableDrive(fileName_) ? smSpanning : smNone;
        return;
    }

    int64_t disk = endRecord.ThisDisk;
    // Writers that put the marker into every field of a ZIP64 archive's end
    // record keep the real number in the locator in front of it.
    if (disk == Zip64Marker16 && dirManager_ && dirManager_->Stream) {
        TEndRecord again;
        int64_t position = 0;
        TZip64Locator locator;
        TStream& s = *dirManager_->Stream;
        if (dirManager_->FindEndRecord(again, position) && position >= static_cast<int64_t>(sizeof locator)) {
            s.SetPosition(position - static_cast<int64_t>(sizeof locator));
            if (s.Read(&locator, sizeof locator) == static_cast<int64_t>(sizeof locator) &&
                locator.Signature == SigZip64Locator)
                disk = locator.TotalDisks == 0 ? 0 : static_cast<int64_t>(locator.TotalDisks) - 1;
        }
    }
    if (disk == 0) {
        spanningMode_ = smNone;
        return;
    }

    // The volume before the last one, under the split naming in force and
    // then under the other one.
    const int32_t previous = static_cast<int32_t>(std::min<int64_t>(disk - 1, INT32_MAX - 1));
    auto previousExists = [&] {
        spanningMode_ = smSplitting;
        std::string name = fileName_;
        GetVolumeFileName(name, previous, false);
        return VolumeFileExists(name);
    };
    if (previousExists())
        return;
    spanningOptions_->SetAdvancedNaming(!spanningOptions_->AdvancedNaming());
    if (previousExists())
        return;
    spanningOptions_->SetAdvancedNaming(!spanningOptions_->AdvancedNaming());
    spanningMode_ = ContainsExe(fileName_) ? smNone : smSpanning;
}
