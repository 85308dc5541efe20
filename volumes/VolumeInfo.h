#pragma once
// Which volume is meant or open.
#include <cstdint>

enum TAKVolumeKind : uint8_t { volFirst, volLast, volNumbered, volUnknown };

class TAKVolumeNumberInfo {
public:
    TAKVolumeKind VolumeKind = volUnknown;
    int32_t VolumeNumber = -1;      // 0-based; -1 while undetermined
    int32_t LastVolumeNumber = -1;  // 0-based; -1 while undetermined

    bool IsFirst() const;
    void SetFirst(bool value);
    bool IsLast() const;
    void SetLast(bool value);
    void SetVolumeNumber(int32_t n);
    void Reset();
    bool SameVolume(const TAKVolumeNumberInfo& other) const;
};
