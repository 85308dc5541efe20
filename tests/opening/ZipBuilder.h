#pragma once
// Builds small archives byte by byte for the opening tests, in one file or
// cut into volumes at chosen places, with the damage a test wants. Records
// come from container/ZipRecords.h; offsets are those of the volume in which
// a record begins (with a stub in front of volume 0 counted or not).
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "container/ZipRecords.h"

class ZipSet {
public:
    struct Item {
        std::string Name;
        std::string Data;
        uint16_t Flags = 0;
        uint16_t Version = 20;
        uint32_t Crc = 0;
        uint32_t ExternalAttributes = 0x20;
        std::string CentralExtra;
        std::string Comment;
        int Volume = 0;
        int64_t Offset = 0;
    };

    // A stub goes in front of volume 0; offsetsCountStub tells whether the
    // offsets written count it (as after "zip -A") or start after it.
    explicit ZipSet(std::string stub = "", bool offsetsCountStub = true)
        : stubSize_(offsetsCountStub ? 0 : static_cast<int64_t>(stub.size())) {
        volumes_.push_back(std::move(stub));
    }

    // A stored item: its local header and data at the end of the volume.
    size_t AddItem(const std::string& name, const std::string& data, int volume = 0, uint32_t attributes = 0x20) {
        Grow(volume);
        Item it;
        it.Name = name;
        it.Data = data;
        it.Crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        it.ExternalAttributes = attributes;
        it.Volume = volume;
        it.Offset = Position(volume);
        TLocalFileHeader l{};
        l.Signature = SigLocalHeader;
        l.VersionNeeded = it.Version;
        l.LastModTime = 0x6000;
        l.LastModDate = 0x5821;
        l.Crc32 = it.Crc;
        l.CompressedSize = static_cast<uint32_t>(data.size());
        l.UncompressedSize = static_cast<uint32_t>(data.size());
        l.FileNameLength = static_cast<uint16_t>(name.size());
        Append(volume, &l, sizeof l);
        volumes_[static_cast<size_t>(volume)] += name + data;
        items_.push_back(it);
        return items_.size() - 1;
    }
    Item& ItemAt(size_t i) { return items_[i]; }

    // The directory begins here, whatever volume its first entry lands on.
    void StartDirectory(int volume) {
        Grow(volume);
        dirVolume_ = volume;
        dirOffset_ = Position(volume);
    }
    // The central entry of item i, at the end of the volume.
    void AddEntry(size_t i, int volume) {
        Grow(volume);
        const Item& it = items_[i];
        TCentralHeaderImage h{};
        h.Signature = SigCentralHeader;
        h.VersionMadeBy = it.Version;
        h.VersionNeeded = it.Version;
        h.Flags = it.Flags;
        h.LastModTime = 0x6000;
        h.LastModDate = 0x5821;
        h.Crc32 = it.Crc;
        h.CompressedSize = static_cast<uint32_t>(it.Data.size());
        h.UncompressedSize = static_cast<uint32_t>(it.Data.size());
        h.FileNameLength = static_cast<uint16_t>(it.Name.size());
        h.ExtraFieldLength = static_cast<uint16_t>(it.CentralExtra.size());
        h.FileCommentLength = static_cast<uint16_t>(it.Comment.size());
        h.DiskNumberStart = static_cast<uint16_t>(it.Volume);
        h.ExternalAttributes = it.ExternalAttributes;
        h.LocalHeaderOffset = static_cast<uint32_t>(it.Offset);
        const size_t before = volumes_[static_cast<size_t>(volume)].size();
        Append(volume, &h, sizeof h);
        volumes_[static_cast<size_t>(volume)] += it.Name + it.CentralExtra + it.Comment;
        dirSize_ += volumes_[static_cast<size_t>(volume)].size() - before;
        ++entries_;
    }
    // Every item's entry, all in one volume (the directory starts there).
    void AddDirectory(int volume) {
        StartDirectory(volume);
        for (size_t i = 0; i < items_.size(); ++i) AddEntry(i, volume);
    }
    // The end record (with ZIP64 end record and locator before it when asked)
    // and the archive comment, into the volume.
    void End(int volume, const std::string& comment = "", bool zip64 = false) {
        Grow(volume);
        if (zip64) {
            const int64_t recordAt = Position(volume);
            TZip64EndRecord z = MakeZip64EndRecord(volume, dirVolume_, entries_, dirSize_, dirOffset_);
            Append(volume, &z, sizeof z);
            TZip64Locator l = MakeZip64Locator(volume, recordAt);
            Append(volume, &l, sizeof l);
        }
        TEndRecord e = MakeEndRecord(volume, dirVolume_, zip64 ? 0xFFFF : entries_, zip64 ? 0xFFFFFFFFll : dirSize_,
                                     zip64 ? 0xFFFFFFFFll : dirOffset_, comment.size());
        Append(volume, &e, sizeof e);
        volumes_[static_cast<size_t>(volume)] += comment;
    }
    // A single file: items, directory and end record in volume 0.
    static std::string Simple(const std::vector<std::pair<std::string, std::string>>& files,
                              const std::string& comment = "") {
        ZipSet z;
        for (const auto& f : files) z.AddItem(f.first, f.second);
        z.AddDirectory(0);
        z.End(0, comment);
        return z.Volume(0);
    }

    const std::string& Volume(int v) const { return volumes_[static_cast<size_t>(v)]; }
    std::string& Volume(int v) { return volumes_[static_cast<size_t>(v)]; }
    int VolumeCount() const { return static_cast<int>(volumes_.size()); }

private:
    void Grow(int volume) {
        while (static_cast<int>(volumes_.size()) <= volume) volumes_.emplace_back();
    }
    int64_t Position(int volume) const {
        const int64_t at = static_cast<int64_t>(volumes_[static_cast<size_t>(volume)].size());
        return volume == 0 ? at - stubSize_ : at;
    }
    void Append(int volume, const void* p, size_t n) {
        volumes_[static_cast<size_t>(volume)].append(static_cast<const char*>(p), n);
    }

    std::vector<std::string> volumes_;
    std::vector<Item> items_;
    int64_t stubSize_ = 0;
    int dirVolume_ = 0;
    int64_t dirOffset_ = 0;
    int64_t dirSize_ = 0;
    int64_t entries_ = 0;
};

// Little-endian field access for damaging built or peer-made archives.
inline void Put16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Put64(std::string& s, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
// Position of the end record of an archive without comment.
inline size_t EndAt(const std::string& s) { return s.size() - sizeof(TEndRecord); }
