#pragma once
// The road every fuzz input (and every kept crash input) takes: the bytes
// become an archive file (or a set of volume files), which is opened
// read-only, listed and extracted into a fresh folder that is removed
// afterwards. Errors the archiver reports are the expected outcome of bad
// input; anything else (a crash, a sanitizer report, an exception of another
// class) is a finding.
//
// Input layout: plain bytes are one archive file. Bytes that begin with
// "QVTSPLIT", a count byte and n 32-bit little-endian lengths are cut into
// n+1 volume files of a split set, so the fuzzer reaches the multi-volume
// reading as well. The low bits of the count byte give n (1..8): the n
// lengths are those of volumes 0..n-1, the rest is the last volume. Bit 0x40
// names the volumes x.Z01, x.Z02, ... (last x.qvt), bit 0x80 as a set that
// begins with a stub (x.exe, x_002.exe, ..., last x.ZIP, opened as x.exe);
// otherwise x_001.qvt, x_002.qvt, ..., last x.qvt.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/Exception.h"

namespace fuzzopen {

inline bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Whatever name an item asks for, the file lands below the destination: the
// harness must never write elsewhere, whatever the extraction's own guard
// makes of a hostile name.
inline std::string ConfinedName(const std::string& name) {
    std::string out;
    std::string part;
    int parts = 0;
    auto flush = [&] {
        if (!part.empty() && part != "." && part != ".." && parts < 8) {
            if (part.size() > 64)
                part.resize(64);
            out += (out.empty() ? "" : "/") + part;
            ++parts;
        }
        part.clear();
    };
    for (char c : name) {
        if (c == '/' || c == '\\')
            flush();
        else
            part += (c == ':' || c == '\0') ? '_' : c;
    }
    flush();
    if (!name.empty() && (name.back() == '/' || name.back() == '\\') && !out.empty())
        out += '/';
    return out.empty() ? std::string("item") : out;
}

// Writes the input as archive file(s) into folder (with a trailing "/") and
// returns the name to open.
inline std::string Materialise(const uint8_t* data, size_t size, const std::string& folder) {
    static const char magic[] = "QVTSPLIT";
    const size_t magicLength = sizeof magic - 1;
    if (size > magicLength + 1 && std::memcmp(data, magic, magicLength) == 0) {
        const uint8_t kind = data[magicLength];
        const size_t n = kind & 0x0F;
        const bool stub = (kind & 0x80) != 0;
        const bool letters = !stub && (kind & 0x40) != 0;
        size_t pos = magicLength + 1;
        if (n >= 1 && n <= 8 && size - pos >= 4 * n) {
            std::vector<size_t> lengths;
            for (size_t i = 0; i < n; ++i, pos += 4) {
                uint32_t v;
                std::memcpy(&v, data + pos, 4);
                lengths.push_back(v);
            }
            for (size_t i = 0; i < n; ++i) {
                const size_t take = std::min(lengths[i], size - pos);
                char name[32];
                if (stub && i == 0)
                    std::snprintf(name, sizeof name, "x.exe");
                else if (stub)
                    std::snprintf(name, sizeof name, "x_%03zu.exe", i + 1);
                else if (letters)
                    std::snprintf(name, sizeof name, "x.Z%02zu", i + 1);
                else
                    std::snprintf(name, sizeof name, "x_%03zu.qvt", i + 1);
                WriteAll(folder + name, data + pos, take);
                pos += take;
            }
            WriteAll(folder + (stub ? "x.ZIP" : "x.qvt"), data + pos, size - pos);
            return folder + (stub ? "x.exe" : "x.qvt");
        }
    }
    // Every third input is opened as an ".exe", the road of stub archives.
    const std::string name = folder + (size % 3 == 0 ? "x.exe" : "x.zip");
    WriteAll(name, data, size);
    return name;
}

// Opens, lists and (unless told not to) extracts the archive; returns the
// number of items listed.
inline int32_t OpenListExtract(const std::string& archive, const std::string& destination, bool extract = true) {
    TArkiva a;
    a.SetName("fuzz");
    a.SetFileName(archive);
    a.SetBaseDir(destination);
    a.SetPassword("secret");
    a.Options().SetOverwriteMode(omAlways);
    a.OnExtractFile = [](TAKBaseArchiver*, std::string& name, uint32_t&, const std::string&) {
        name = ConfinedName(name);
    };
    // Every failing item is passed over, so each input reaches all items.
    a.OnProcessFileFailure = [](TAKBaseArchiver*, const std::string&, TAKProcessOperation, int32_t, int32_t,
                                const std::string&, TAKAction& action) { action = fxaIgnore; };
    int32_t listed = 0;
    try {
        a.OpenArchive(fmOpenRead | fmShareDenyNone);
        const TAKDirArray& list = a.DirManager()->CurrentList;
        uint64_t touched = 0;
        for (int32_t i = 0; i < list.GetCount(); ++i) {
            const TDirItem& item = list.ItemAt(i);
            touched += item.StoredName.size() + item.ItemComment.size() + item.ExtraBlocks.size();
            touched += static_cast<uint64_t>(ItemCompressedSize(item)) + static_cast<uint64_t>(ItemLocalHeaderOffset(item));
        }
        TAKArchiveItem record;
        for (bool more = a.FindFirst("*.*", record, "", 10431); more; more = a.FindNext(record))
            ++listed;
        if (touched == 1)
            ++listed; // keeps the walk over the list from being optimised away
        if (extract)
            a.ExtractFiles("*.*", 10431, "");
    } catch (const Exception&) {
        // The archiver's own report of bad input.
    }
    a.CloseArchive();
    std::error_code ec;
    std::filesystem::remove_all(destination, ec);
    return listed;
}

// One input, in a folder of its own below work (with a trailing "/").
inline void RunOne(const uint8_t* data, size_t size, const std::string& work, bool extract = true) {
    std::error_code ec;
    std::filesystem::remove_all(work + "in", ec);
    std::filesystem::create_directories(work + "in", ec);
    const std::string archive = Materialise(data, size, work + "in/");
    OpenListExtract(archive, work + "out/", extract);
    std::filesystem::remove_all(work + "in", ec);
}

} // namespace fuzzopen
