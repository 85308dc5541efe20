#pragma once
// The archiver's option objects.
#include <cstdint>

#include "archiver/AKTypes.h"
#include "platform/Component.h"

class TAKVolumeNumberInfo;

class TAKOptions : public TPersistent {
public:
    bool Recurse() const { return recurse_; }
    void SetRecurse(bool v) { recurse_ = v; }
    TAKStorePathMode StorePath() const { return storePath_; }
    void SetStorePath(TAKStorePathMode v) { storePath_ = v; }
    TAKFileShareMode ShareMode() const { return shareMode_; }
    void SetShareMode(TAKFileShareMode v) { shareMode_ = v; }
    TAKOverwriteMode OverwriteMode() const { return overwriteMode_; }
    void SetOverwriteMode(TAKOverwriteMode v) { overwriteMode_ = v; }
    bool CreateDirs() const { return createDirs_; }
    void SetCreateDirs(bool v) { createDirs_ = v; }
    bool ReplaceReadOnly() const { return replaceReadOnly_; }
    void SetReplaceReadOnly(bool v) { replaceReadOnly_ = v; }
    bool SetAttributes() const { return setAttributes_; }
    void SetSetAttributes(bool v) { setAttributes_ = v; }
    int32_t SearchAttr() const { return searchAttr_; }
    void SetSearchAttr(int32_t v) { searchAttr_ = v; }
    bool FlushBuffers() const { return flushBuffers_; }
    void SetFlushBuffers(bool v) { flushBuffers_ = v; }
    bool OEMFileNames() const { return oemFileNames_; }
    void SetOEMFileNames(bool v) { oemFileNames_ = v; }

    // Open-mode share bits of ShareMode: 0, 16, 32, 48, 64.
    uint16_t ShareModeBits() const;

    void Assign(const TPersistent& source) override;
    const char* ClassName() const override { return "TAKOptions"; }

private:
    bool recurse_ = true;
    TAKStorePathMode storePath_ = spRelativePath;
    TAKFileShareMode shareMode_ = smShareDenyNone;
    TAKOverwriteMode overwriteMode_ = omAlways;
    bool createDirs_ = true;
    bool replaceReadOnly_ = true;
    bool setAttributes_ = true;
    int32_t searchAttr_ = 10431;
    bool flushBuffers_ = true;
    bool oemFileNames_ = true;
};

class TAKSpanningOptions : public TPersistent {
public:
    bool AdvancedNaming() const { return advancedNaming_; }
    void SetAdvancedNaming(bool v) { advancedNaming_ = v; }
    int64_t FirstVolumeSize() const { return firstVolumeSize_; }
    void SetFirstVolumeSize(int64_t v) { firstVolumeSize_ = v; }
    TAKVolumeSize VolumeSize() const { return volumeSize_; }
    void SetVolumeSize(TAKVolumeSize v) { volumeSize_ = v; }
    int64_t CustomVolumeSize() const { return customVolumeSize_; }
    // Values below 65,536 (negative ones included) are stored as 65,536.
    void SetCustomVolumeSize(int64_t v);

    // Size limit of the volume the info names; -1 for no limit.
    int64_t GetVolumeSize(const TAKVolumeNumberInfo& info) const;

    void Assign(const TPersistent& source) override;
    const char* ClassName() const override { return "TAKSpanningOptions"; }

private:
    bool advancedNaming_ = true;
    int64_t firstVolumeSize_ = 0;
    TAKVolumeSize volumeSize_ = vsAutoDetect;
    int64_t customVolumeSize_ = 0; // set directly, not through the setter
};

// Limit in bytes of a named size (vsAutoDetect: -1; vsCustom: not used here).
int64_t VolumeSizeLimit(TAKVolumeSize size);
