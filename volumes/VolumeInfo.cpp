// Which volume is meant or open.
#include "volumes/VolumeInfo.h"

bool TAKVolumeNumberInfo::IsFirst() const { return VolumeNumber == 0; }

void TAKVolumeNumberInfo::SetFirst(bool value)
{
    if (!value) return;
    VolumeNumber = 0;
    VolumeKind = volFirst;
}

bool TAKVolumeNumberInfo::IsLast() const
{
    // Until the end record has told the number of the last volume, only the
    // kind can say so.
    if (LastVolumeNumber == -1) return VolumeKind == volLast;
    return VolumeNumber == LastVolumeNumber;
}

void TAKVolumeNumberInfo::SetLast(bool value)
{
    if (!value) return;
    VolumeNumber = LastVolumeNumber;
    VolumeKind = volLast;
}

void TAKVolumeNumberInfo::SetVolumeNumber(int32_t n)
{
    VolumeKind = volNumbered;
    VolumeNumber = n;
}

void TAKVolumeNumberInfo::Reset()
{
    VolumeKind = volUnknown;
    VolumeNumber = -1;
    LastVolumeNumber = -1;
}

bool TAKVolumeNumberInfo::SameVolume(const TAKVolumeNumberInfo& other) const
{
    if (IsLast()) return other.IsLast();
    if (IsFirst()) return other.IsFirst();
    if (VolumeNumber >= 0) return VolumeNumber == other.VolumeNumber;
    return VolumeKind == other.VolumeKind;
}
