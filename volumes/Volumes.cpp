// Drives, volume files and every request for a volume, with the default
// dispatch of the five volume events.
#include <exception>
#include <memory>

#include "archiver/AKConst.h"
#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/System.h"
#include "volumes/VolumeFiles.h"

namespace {

// Below this much free space no drive is taken for a new volume.
constexpr int64_t MinimumFreeSpace = 65536;

bool Confirmed(const std::string& text)
{
    return CurrentDialogs().MessageDlg(text, TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}) ==
           mrOk;
}


} // namespace

int64_t TAKBaseArchiver::GetDiskFreeBytes(const std::string& Name) { return platform::DiskFreeBytes(Name); }

bool TAKBaseArchiver::IsFloppyDrive([[maybe_unused]] const std::string& Path)
{
    // Floppy drives were the letters "A:" and "B:"; paths here have no drive
    // part, so no path lies on one.
    return false;
}

bool TAKBaseArchiver::IsRemovableDrive(const std::string& Path)
{
    return IsFloppyDrive(Path) || platform::IsRemovableMedia(Path);
}

void TAKBaseArchiver::OpenVolumeFile(const std::string& Name)
{
    // The directory manager writes and reads through the stream of the
    // volume open now; it must never keep the freed one.
    const bool managerFollows = dirManager_ && dirManager_->Stream == archiveStream_.get();
    archiveStream_.reset();
    if (managerFollows) dirManager_->Stream = nullptr;
    archiveStream_ = std::make_unique<TFileStream>(Name, openMode_);
    volumeFileName_ = Name;
    if (managerFollows) dirManager_->Stream = archiveStream_.get();
}

void TAKBaseArchiver::RequestVolume(const TAKVolumeNumberInfo& Info)
{
    // Info is often VolumeInfo itself, which the read branch overwrites.
    const TAKVolumeNumberInfo wanted = Info;

    if (spanningMode_ == smNone) {
        if (!archiveStream_) OpenVolumeFile(fileName_);
        volumeInfo_.VolumeNumber = wanted.VolumeNumber;
        volumeInfo_.VolumeKind = wanted.VolumeKind;
        return;
    }

    std::string name;
    bool cancel = false;

    if (openMode_ == fmCreate) {
        const bool managerFollows = dirManager_ && dirManager_->Stream == archiveStream_.get();
        archiveStream_.reset();
        if (managerFollows) dirManager_->Stream = nullptr;

        const int64_t limit = spanningOptions_->GetVolumeSize(wanted);
        for (;;) {
            name = fileName_;
            cancel = false;
            DoRequestBlankVolume(wanted.VolumeNumber, name, cancel);
            if (cancel) break;
            const int64_t free = GetDiskFreeBytes(name);
            if (free > MinimumFreeSpace && (limit <= 0 || free >= limit)) break;
            DoDiskFull(wanted.VolumeNumber, name, cancel);
            if (cancel) break;
        }
        if (cancel) throw EAKException(45, this);

        OpenVolumeFile(name);
        if (spanningMode_ == smSpanning) {
            const int64_t disk = (wanted.VolumeNumber < 0 ? 0 : wanted.VolumeNumber) + 1;
            try {
                platform::SetVolumeLabel(name, "pkback# " + Format("%.3d", {disk}));
            } catch (const std::exception&) {
                // The label only helps a person sort the disks.
            }
        }
        // VolumeInfo is advanced by the volume writer, not here.
        return;
    }

    if (volumeInfo_.SameVolume(wanted)) return;
    for (;;) {
        name = fileName_;
        cancel = true;
        if (wanted.IsFirst())
            DoRequestFirstVolume(name, cancel);
        else if (wanted.IsLast())
            DoRequestLastVolume(name, cancel);
        else
            DoRequestMiddleVolume(wanted.VolumeNumber, name, cancel);
        if (cancel) break;
        if (name.empty() && spanningMode_ != smSpanning) return;
        if (TakeExistingVolumeName(name) || openMode_ == fmCreate) {
            OpenVolumeFile(name);
            volumeInfo_.VolumeNumber = wanted.VolumeNumber;
            volumeInfo_.VolumeKind = wanted.VolumeKind;
            return;
        }
    }
    throw EAKException(45, this);
}

bool TAKBaseArchiver::RequestNextVolume(TAKVolumeNumberInfo& Info)
{
    if (Info.LastVolumeNumber >= 0 && Info.VolumeNumber >= Info.LastVolumeNumber) return false;
    Info.SetVolumeNumber(Info.VolumeNumber + 1);
    RequestVolume(Info);
    // A request that opened nothing leaves the old volume in place.
    return archiveStream_ && volumeInfo_.VolumeNumber == Info.VolumeNumber;
}

// ---- the volume dispatchers ----

void TAKBaseArchiver::DoRequestBlankVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)
{
    if (VolumeNumber < 0) VolumeNumber = 0;
    GetVolumeFileName(VolumeFileName, VolumeNumber, false);
    Cancel = false;
    if (OnRequestBlankVolume)
        OnRequestBlankVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
    else if (spanningMode_ == smSpanning)
        Cancel = !Confirmed(Format(SInsertBlankDisk, {int64_t{VolumeNumber} + 1}));
}

void TAKBaseArchiver::DoRequestFirstVolume(std::string& VolumeFileName, bool& Cancel)
{
    const std::string passedIn = VolumeFileName;
    const bool handled = static_cast<bool>(OnRequestFirstVolume);
    GetVolumeFileName(VolumeFileName, 0, !handled);
    Cancel = false;
    if (handled) {
        OnRequestFirstVolume(this, VolumeFileName, Cancel);
    } else if (spanningMode_ == smSpanning) {
        Cancel = !Confirmed(SInsertFirstDisk);
        if (!Cancel) {
            // Look at the disk inserted now.
            VolumeFileName = passedIn;
            GetVolumeFileName(VolumeFileName, 0, true);
        }
    } else {
        Cancel = !(TakeExistingVolumeName(VolumeFileName) || openMode_ == fmCreate);
    }
}

void TAKBaseArchiver::DoRequestLastVolume(std::string& VolumeFileName, bool& Cancel)
{
    GetVolumeFileName(VolumeFileName, -1, true);
    Cancel = false;
    if (OnRequestLastVolume) {
        OnRequestLastVolume(this, VolumeFileName, Cancel);
    } else if (spanningMode_ == smSpanning) {
        Cancel = !Confirmed(SInsertLastDisk);
        while (!Cancel && !TakeExistingVolumeName(VolumeFileName))
            Cancel = !Confirmed(Format(SLastDiskNotFound, {VolumeFileName}));
    } else {
        Cancel = !TakeExistingVolumeName(VolumeFileName);
    }
}

void TAKBaseArchiver::DoRequestMiddleVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)
{
    const std::string passedIn = VolumeFileName;
    const bool handled = static_cast<bool>(OnRequestMiddleVolume);
    GetVolumeFileName(VolumeFileName, VolumeNumber, !handled);
    Cancel = false;
    if (handled) {
        OnRequestMiddleVolume(this, VolumeNumber + 1, VolumeFileName, Cancel);
    } else if (spanningMode_ == smSpanning) {
        Cancel = !Confirmed(Format(SInsertDisk, {int64_t{VolumeNumber} + 1}));
        if (!Cancel) {
            VolumeFileName = passedIn;
            GetVolumeFileName(VolumeFileName, VolumeNumber, true);
        }
    } else {
        Cancel = !TakeExistingVolumeName(VolumeFileName);
    }
}

void TAKBaseArchiver::DoDiskFull(int32_t VolumeNumber, const std::string& VolumeFileName, bool& Cancel)
{
    Cancel = false;
    if (OnDiskFull) {
        OnDiskFull(this, VolumeNumber + 1, VolumeFileName, Cancel);
    } else if (spanningMode_ == smSpanning) {
        TAKVolumeNumberInfo volume;
        volume.SetVolumeNumber(VolumeNumber);
        int64_t required = spanningOptions_->GetVolumeSize(volume);
        // Without a fixed limit a volume needs more than the minimum.
        if (required <= 0) required = MinimumFreeSpace + 1;
        Cancel = !Confirmed(Format(SDiskFull, {required, GetDiskFreeBytes(VolumeFileName)}));
    } else {
        Cancel = true;
    }
}
