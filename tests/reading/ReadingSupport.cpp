#include "tests/reading/ReadingSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

void Shell(const std::string& cmd) {
    std::string out;
    const int rc = RunCommand(cmd, &out);
    ASSERT_EQ(rc, 0) << cmd << "\n" << out;
}

void RunPython(const std::string& script, const std::vector<std::string>& args) {
    TempFolder scratch;
    const std::string file = scratch.File("script.py");
    WriteFile(file, script);
    std::string cmd = "python3 " + ShellQuote(file);
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    Shell(cmd);
}

void TEventLog::Attach(TAKBaseArchiver& archiver) {
    archiver.OnProcessFileFailure = [this](TAKBaseArchiver*, const std::string& name, TAKProcessOperation,
                                           int32_t native, int32_t, const std::string& message, TAKAction& action) {
        Failures.push_back({name, native, message});
        action = FailureAnswer;
    };
    archiver.OnOverallProgress = [this](TAKBaseArchiver*, double value, TAKProcessOperation, TAKProgressPhase phase,
                                        bool&) { Events.push_back({true, "", phase, value}); };
    archiver.OnFileProgress = [this](TAKBaseArchiver*, const std::string& name, double value, TAKProcessOperation,
                                     TAKProgressPhase phase, bool&) { Events.push_back({false, name, phase, value}); };
}

std::vector<int32_t> TEventLog::Natives() const {
    std::vector<int32_t> v;
    for (const auto& f : Failures) v.push_back(f.Native);
    return v;
}

void ExtractAll(TAKBaseArchiver& archiver, const std::string& archive, const std::string& destination,
                const std::string& mask) {
    archiver.SetFileName(archive);
    archiver.OpenArchive();
    archiver.SetBaseDir(destination);
    try {
        archiver.ExtractFiles(mask, 10431, "");
    } catch (...) {
        archiver.CloseArchive();
        throw;
    }
    archiver.CloseArchive();
}

TEventLog ExtractLogged(const std::string& archive, const std::string& destination, bool keepCorrupted,
                        const std::string& mask) {
    TArkiva archiver;
    archiver.SetExtractCorruptedFiles(keepCorrupted);
    TEventLog log;
    log.Attach(archiver);
    ExtractAll(archiver, archive, destination, mask);
    return log;
}

void PatchBytes(const std::string& path, int64_t offset, const std::string& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(f.good()) << path;
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

void FlipByte(const std::string& path, int64_t offset, uint8_t mask) {
    std::string all = ReadFile(path);
    ASSERT_LT(offset, static_cast<int64_t>(all.size()));
    std::string b(1, static_cast<char>(static_cast<uint8_t>(all[static_cast<size_t>(offset)]) ^ mask));
    PatchBytes(path, offset, b);
}

int64_t FindBytes(const std::string& path, const std::string& needle, int64_t from) {
    const std::string all = ReadFile(path);
    const size_t p = all.find(needle, static_cast<size_t>(from));
    return p == std::string::npos ? -1 : static_cast<int64_t>(p);
}

std::string Le16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32(uint32_t v) {
    return Le16(static_cast<uint16_t>(v & 0xFFFF)) + Le16(static_cast<uint16_t>(v >> 16));
}

std::vector<std::string> ListTree(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code ec;
    const fs::path root(folder);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string rel = fs::relative(it->path(), root, ec).generic_string();
        if (it->is_directory(ec) && !it->is_symlink(ec)) rel += "/";
        names.push_back(rel);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SetMTime(const std::string& path, const std::string& localTime) {
    Shell("touch -h -d " + ShellQuote(localTime) + " " + ShellQuote(path));
}

void ExpectNoTemporaries(const std::string& folder) {
    for (const auto& n : ListTree(folder)) EXPECT_EQ(n.find(".FC"), std::string::npos) << n;
}
