#include "archiver/AKOptions.h"

#include "volumes/VolumeInfo.h"

uint16_t TAKOptions::ShareModeBits() const {
    switch (shareMode_) {
    case smShareCompat: return 0;
    case smShareExclusive: return 0x10;
    case smShareDenyWrite: return 0x20;
    case smShareDenyRead: return 0x30;
    case smShareDenyNone: break;
    }
    return 0x40;
}

void TAKOptions::Assign(const TPersistent& source) {
    auto* o = dynamic_cast<const TAKOptions*>(&source);
    if (!o) {
        TPersistent::Assign(source);
        return;
    }
    recurse_ = o->recurse_;
    storePath_ = o->storePath_;
    shareMode_ = o->shareMode_;
    overwriteMode_ = o->overwriteMode_;
    createDirs_ = o->createDirs_;
    replaceReadOnly_ = o->replaceReadOnly_;
    setAttributes_ = o->setAttributes_;
    searchAttr_ = o->searchAttr_;
    flushBuffers_ = o->flushBuffers_;
    oemFileNames_ = o->oemFileNames_;
}

void TAKSpanningOptions::SetCustomVolumeSize(int64_t v) {
    customVolumeSize_ = v < 65536 ? 65536 : v;
}

int64_t VolumeSizeLimit(TAKVolumeSize size) {
    switch (size) {
    case vsAutoDetect: return -1;
    case vsCustom: return -1;
    case vs1_44MB: return 2847LL * 512;
    case vs100MB: return 100LL * 1048576;
    case vs200MB: return 200LL * 1048576;
    case vs250MB: return 250LL * 1048576;
    case vs600MB: return 600LL * 1048576;
    case vs650MB: return 650LL * 1048576;
    case vs700MB: return 700LL * 1048576;
    case vs4700MB: return 4700LL * 1048576;
    }
    return -1;
}

int64_t TAKSpanningOptions::GetVolumeSize(const TAKVolumeNumberInfo& info) const {
    if (info.IsFirst() && firstVolumeSize_ > 0) return firstVolumeSize_;
    if (volumeSize_ == vsCustom) {
        // The constructor's 0 never went through the setter; a volume always
        // gets at least the setter's minimum so that it has room.
        return customVolumeSize_ < 65536 ? 65536 : customVolumeSize_;
    }
    return VolumeSizeLimit(volumeSize_);
}

void TAKSpanningOptions::Assign(const TPersistent& source) {
    auto* o = dynamic_cast<const TAKSpanningOptions*>(&source);
    if (!o) {
        TPersistent::Assign(source);
        return;
    }
    advancedNaming_ = o->advancedNaming_;
    firstVolumeSize_ = o->firstVolumeSize_;
    volumeSize_ = o->volumeSize_;
    customVolumeSize_ = o->customVolumeSize_;
}
