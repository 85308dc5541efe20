#pragma once
// Shared pieces of the writing tests: archivers set up the way the tests
// need them, the peers that judge what was written (Info-ZIP unzip,
// Python's zipfile, 7-Zip), and a small reader of the records on disk.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "archiver/Arkiva.h"
#include "container/ZipRecords.h"
#include "platform/Dialogs.h"
#include "tests/common/TestSupport.h"

namespace writing_test {

// A TArkiva that lets tests look at its commit state.
class TestArchiver : public TArkiva {
public:
    const TAKCommitState& CommitState() const { return commit_; }
};

// A new archiver for FileName `archive`, storing bare names; flushing is
// left off unless a test asks for it (it only costs time here).
inline std::unique_ptr<TestArchiver> NewArchiver(const std::string& archive, int compressionMode = 0) {
    auto a = std::make_unique<TestArchiver>();
    a->SetFileName(archive);
    a->Options().SetStorePath(spNoPath);
    a->Options().SetFlushBuffers(false);
    a->SetCompressionMode(compressionMode);
    return a;
}

// The window's split settings; the mode must be set before the archive is opened.
inline void SetSplitting(TAKBaseArchiver& a, int64_t volumeSize, TAKSpanningMode mode = smSplitting) {
    a.SetSpanningMode(mode);
    a.SpanningOptions().SetAdvancedNaming(true);
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.SpanningOptions().SetCustomVolumeSize(volumeSize);
}

// Adds each file by its full name inside one update bracket, so the items
// lie in this order.
inline void AddInOrder(TAKBaseArchiver& a, const std::vector<std::string>& files) {
    a.BeginUpdate();
    try {
        for (const std::string& f : files) a.AddFiles(f, 10431, "");
    } catch (...) {
        a.CancelUpdate();
        throw;
    }
    a.EndUpdate();
}


// ---- peers ----

// `unzip -t` (with -P when a password is given); output for the failure message.
inline bool UnzipTests(const std::string& archive, const std::string& password, std::string* out) {
    const std::string pw = password.empty() ? "" : "-P " + ShellQuote(password) + " ";
    return RunCommand("unzip -t " + pw + ShellQuote(archive), out) == 0;
}

// The system's interpreter when there is one: a version-manager shim in
// front of it costs a second per call.
inline std::string Python() {
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

// Python's zipfile: the archive holds exactly these members, in this order,
// each with the content of the paired file, and every CRC checks.
inline bool PythonMatches(const std::string& archive, const std::vector<std::pair<std::string, std::string>>& members,
                          const std::string& password, std::string* out) {
    static const char* const script =
        "import sys, zipfile\n"
        "arc, pwd, rest = sys.argv[1], sys.argv[2], sys.argv[3:]\n"
        "z = zipfile.ZipFile(arc)\n"
        "if pwd: z.setpassword(pwd.encode())\n"
        "want = rest[0::2]\n"
        "if z.namelist() != want: sys.exit('names %r != %r' % (z.namelist(), want))\n"
        "bad = z.testzip()\n"
        "if bad: sys.exit('bad member %s' % bad)\n"
        "for name, path in zip(rest[0::2], rest[1::2]):\n"
        "    if z.read(name) != open(path, 'rb').read(): sys.exit('content of %s differs' % name)\n";
    std::string cmd = Python() + " -c " + ShellQuote(script) + " " + ShellQuote(archive) + " " + ShellQuote(password);
    for (const auto& [name, path] : members) cmd += " " + ShellQuote(name) + " " + ShellQuote(path);
    return RunCommand(cmd, out) == 0;
}

// `7zz t` on copies of the volumes named the way 7-Zip expects a split ZIP
// (x.z01, x.z02, ..., x.zip), in a folder of their own.
inline bool SevenZipTestsSet(const std::vector<std::string>& volumes, const std::string& folder, std::string* out) {
    std::filesystem::create_directories(folder);
    for (size_t i = 0; i < volumes.size(); ++i) {
        std::string ext = "zip";
        if (i + 1 < volumes.size()) ext = (i + 1 < 10 ? "z0" : "z") + std::to_string(i + 1);
        std::filesystem::copy_file(volumes[i], folder + "/x." + ext,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    return RunCommand("7zz t " + ShellQuote(folder + "/x.zip"), out) == 0;
}

// ---- records on disk ----
// The records are packed: tests read their fields with a unary + so that
// the assertion macros, which bind references, get aligned copies.

struct CentralEntry {
    TCentralHeaderImage Header{};
    std::string Name;
    std::vector<uint8_t> Extra;
};

struct ArchiveRecords {
    TEndRecord End{};
    std::vector<CentralEntry> Entries;
};

// Bytes [offset, offset + length) of a file (fewer at its end).
inline std::string ReadRange(const std::string& path, int64_t offset, size_t length) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    f.seekg(offset);
    std::string s(length, '\0');
    f.read(s.data(), static_cast<std::streamsize>(length));
    s.resize(static_cast<size_t>(f.gcount()));
    return s;
}

// Reads the end record (archives written here carry no comment) and the
// central directory that lies whole in the same file.
inline ArchiveRecords ReadRecords(const std::string& path) {
    const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
    ArchiveRecords r;
    if (size < static_cast<int64_t>(sizeof(TEndRecord))) throw std::runtime_error("no end record in " + path);
    const int64_t endAt = size - static_cast<int64_t>(sizeof(TEndRecord));
    const std::string end = ReadRange(path, endAt, sizeof(TEndRecord));
    r.End = ReadRecord<TEndRecord>(reinterpret_cast<const uint8_t*>(end.data()));
    if (r.End.Signature != SigEndRecord) throw std::runtime_error("no end record in " + path);
    int64_t at = r.End.DirectoryOffset;
    int64_t length = r.End.DirectorySize;
    if (r.End.DirectoryOffset == Zip64Marker32 || r.End.DirectorySize == Zip64Marker32) {
        // The ZIP64 end record lies where the locator says.
        const std::string loc = ReadRange(path, endAt - static_cast<int64_t>(sizeof(TZip64Locator)), sizeof(TZip64Locator));
        const auto locator = ReadRecord<TZip64Locator>(reinterpret_cast<const uint8_t*>(loc.data()));
        const std::string zr = ReadRange(path, static_cast<int64_t>(locator.EndRecordOffset), sizeof(TZip64EndRecord));
        const auto z = ReadRecord<TZip64EndRecord>(reinterpret_cast<const uint8_t*>(zr.data()));
        at = static_cast<int64_t>(z.DirectoryOffset);
        length = static_cast<int64_t>(z.DirectorySize);
    }
    const std::string dir = ReadRange(path, at, static_cast<size_t>(length));
    const auto* data = reinterpret_cast<const uint8_t*>(dir.data());
    size_t pos = 0;
    for (int i = 0; i < r.End.TotalEntries; ++i) {
        CentralEntry e;
        if (!ReadRecordAt(data, dir.size(), pos, e.Header) || e.Header.Signature != SigCentralHeader)
            throw std::runtime_error("bad central entry in " + path);
        pos += sizeof(TCentralHeaderImage);
        e.Name.assign(dir, pos, e.Header.FileNameLength);
        pos += e.Header.FileNameLength;
        e.Extra.assign(data + pos, data + std::min(dir.size(), pos + e.Header.ExtraFieldLength));
        pos += e.Header.ExtraFieldLength + e.Header.FileCommentLength;
        r.Entries.push_back(std::move(e));
    }
    return r;
}

inline TLocalFileHeader ReadLocalHeader(const std::string& path, int64_t offset) {
    const std::string bytes = ReadRange(path, offset, sizeof(TLocalFileHeader));
    if (bytes.size() != sizeof(TLocalFileHeader)) throw std::runtime_error("no local header in " + path);
    return ReadRecord<TLocalFileHeader>(reinterpret_cast<const uint8_t*>(bytes.data()));
}

inline int64_t FileSizeOf(const std::string& path) {
    std::error_code ec;
    const auto n = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(n);
}

// Names of the entries of a folder, sorted.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Text-like bytes that deflate well but not trivially.
inline std::string TextBytes(size_t n, uint32_t seed) {
    static const char* const words[] = {"volume ", "archive ", "split ", "merge ", "the ", "of ", "directory ",
                                        "header\n", "data ", "block ", "CRC ", "zlib ", "store ", "\n"};
    const std::string noise = RandomBytes(n, seed);
    std::string s;
    s.reserve(n + 16);
    for (size_t i = 0; s.size() < n; ++i) s += words[static_cast<uint8_t>(noise[i % noise.size()]) % 14];
    s.resize(n);
    return s;
}

} // namespace writing_test
