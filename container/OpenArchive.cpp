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
        DetectSpanningMode(found, dirManager_->EndRecord, position);
    } while (!found && spanningMode_ != smNone);
}

void TAKBaseArchiver::OpenStubArchive() {
    TAKVolumeNumberInfo last;
    last.SetLast(true);
    RequestVolume(last);
    dirManager_ = std::make_unique<TAKDirManager>(archiveStream_.get(), this, false);
    int64_t position = 0;
    if (dirManager_->FindEndRecord(dirManager_->EndRecord, position)) {
        DetectSpanningMode(true, dirManager_->EndRecord, position);
        return;
    }

    // No end record in the ".exe": it is taken to be volume 0 of a split set
    // whose last volume carries the base name with ".ZIP".
    dirManager_.reset();
    spanningMode_ = smSplitting;
    std::string lastName = fileName_;
    GetVolumeFileName(lastName, -1, false);
    if (TakeExistingVolumeName(lastName)) {
        volumeInfo_.Reset();
        TAKVolumeNumberInfo info;
        info.SetLast(true);
        RequestVolume(info);
    }
    spanningMode_ = smNone;

    // The stream open now (the ".ZIP", or else the ".exe") stays open.
    OpenLastVolume();
}

void TAKBaseArchiver::DetectSpanningMode(bool endRecordFound, const TEndRecord& endRecord, int64_t endPosition) {
    if (!endRecordFound) {
        spanningMode_ = IsRemovableDrive(fileName_) ? smSpanning : smNone;
        return;
    }

    // Writers that put the marker into every field of a ZIP64 archive's end
    // record keep the real number in the locator in front of it.
    TZip64Locator locator;
    const bool zip64 = endRecord.ThisDisk == Zip64Marker16 && dirManager_ && dirManager_->Stream &&
                       dirManager_->ReadZip64Locator(endPosition, locator);
    const int64_t disk = TAKDirManager::LastVolume(endRecord, zip64 ? &locator : nullptr);
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
        // Also when another tool wrote it with other letter case.
        return TakeExistingVolumeName(name);
    };
    if (previousExists())
        return;
    spanningOptions_->SetAdvancedNaming(!spanningOptions_->AdvancedNaming());
    if (previousExists())
        return;
    spanningOptions_->SetAdvancedNaming(!spanningOptions_->AdvancedNaming());
    spanningMode_ = ContainsExe(fileName_) ? smNone : smSpanning;
}
