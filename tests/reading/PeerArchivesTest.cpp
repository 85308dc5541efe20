// Archives written by other ZIP tools extract bit for bit, with their dates.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "tests/reading/ReadingSupport.h"

namespace {

// A small tree with what trips readers up: an empty file, a name without a
// dot, a file larger than one 1 MiB block, a compressible one, nested and
// empty folders.
void MakeTree(const std::string& root) {
    Shell("mkdir -p " + ShellQuote(root + "sub/deeper") + " " + ShellQuote(root + "emptydir"));
    WriteFile(root + "a.txt", "hello, world\n");
    WriteFile(root + "empty", "");
    WriteFile(root + "noext", RandomBytes(777, 3));
    WriteFile(root + "big.bin", RandomBytes(2'600'000, 7));
    std::string text;
    for (int i = 0; text.size() < 3'000'000; ++i) text += "line " + std::to_string(i % 977) + " of the log\n";
    WriteFile(root + "sub/text.log", text);
    WriteFile(root + "sub/deeper/c.dat", RandomBytes(40'000, 11));
    const char* files[] = {"a.txt", "empty", "noext", "big.bin", "sub/text.log", "sub/deeper/c.dat"};
    int second = 0;
    for (const char* f : files) {
        SetMTime(root + f, "2021-03-04 05:06:" + std::to_string(10 + 2 * second++));
    }
}

const std::vector<std::string> kTreeFiles = {"a.txt", "empty", "noext", "big.bin", "sub/text.log",
                                             "sub/deeper/c.dat"};

void ExpectSameFiles(const std::string& src, const std::string& dest, const std::vector<std::string>& files) {
    for (const auto& f : files) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(platform::FileExists(dest + f));
        EXPECT_TRUE(ReadFile(src + f) == ReadFile(dest + f)) << "content differs";
        EXPECT_EQ(platform::FileAge(dest + f), platform::FileAge(src + f)) << "date differs";
    }
}

class PeerArchives : public ::testing::Test {
protected:
    void SetUp() override {
        src_ = tmp_.File("src/");
        MakeTree(src_);
    }
    // Extracts archive into a fresh folder and checks the whole tree.
    void ExtractAndCompare(const std::string& archive, const std::string& password = "") {
        const std::string dest = tmp_.File("out" + std::to_string(++runs_) + "/");
        TArkiva ark;
        TEventLog log;
        log.Attach(ark);
        ark.SetPassword(password);
        ExtractAll(ark, archive, dest);
        EXPECT_TRUE(log.Failures.empty()) << log.Failures.front().Message;
        ExpectSameFiles(src_, dest, kTreeFiles);
        EXPECT_TRUE(platform::DirectoryExists(dest + "emptydir"));
        ExpectNoTemporaries(dest);
    }
    TempFolder tmp_;
    std::string src_;
    int runs_ = 0;
};

TEST_F(PeerArchives, InfoZipStoredDeflatedAndStreamed) {
    const std::string cd = "cd " + ShellQuote(src_) + " && ";
    Shell(cd + "zip -q -r -0 ../stored.zip .");
    Shell(cd + "zip -q -r -9 ../deflated.zip .");
    // Written to a pipe, zip cannot seek back: every entry has a data
    // descriptor and zeros in its local header.
    Shell(cd + "zip -q -r -fz- - . | cat > ../streamed.zip");
    ASSERT_GE(FindBytes(tmp_.File("streamed.zip"), "PK\x07\x08"), 0);
    ExtractAndCompare(tmp_.File("stored.zip"));
    ExtractAndCompare(tmp_.File("deflated.zip"));
    ExtractAndCompare(tmp_.File("streamed.zip"));
}

TEST_F(PeerArchives, InfoZipEncrypted) {
    Shell("cd " + ShellQuote(src_) + " && zip -q -r -P 'se cret' ../enc.zip .");
    ExtractAndCompare(tmp_.File("enc.zip"), "se cret");
}

TEST_F(PeerArchives, SevenZipDeflate) {
    if (!HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
    Shell("cd " + ShellQuote(src_) + " && 7zz a -bd -tzip -mm=Deflate -mx=5 ../7z.zip . > /dev/null");
    ExtractAndCompare(tmp_.File("7z.zip"));
}

// More than 4 GiB: 7-Zip writes the sizes in a ZIP64 block. The source is
// sparse and deflates to a few MB; the CRC check of the extraction covers
// every byte, the marker near the end shows the offsets are right.
TEST(SevenZipArchives, MoreThanFourGiB) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "inflates and writes 4 GiB; too slow under the sanitizers";
#endif
    if (!HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
    // Memory-backed, so that writing 4 GiB takes seconds.
    const int64_t size = (int64_t{4} << 30) + 4096;
    if (platform::DiskFreeBytes("/dev/shm") < size + (int64_t{256} << 20)) GTEST_SKIP() << "no room in /dev/shm";
    const TempFolder tmp("/dev/shm/");
    const std::string src = tmp.File("src/");
    Shell("mkdir -p " + ShellQuote(src) + " && truncate -s " + std::to_string(size) + " " + ShellQuote(src + "big.bin"));
    const int64_t marker = size - 3996;
    PatchBytes(src + "big.bin", marker, "the end is near");
    SetMTime(src + "big.bin", "2024-02-29 12:34:56");
    Shell("cd " + ShellQuote(src) + " && 7zz a -bd -tzip -mx1 ../big.zip big.bin > /dev/null");
    std::filesystem::remove(src + "big.bin");

    const std::string dest = tmp.File("out/");
    TArkiva ark;
    TEventLog log;
    log.Attach(ark);
    ExtractAll(ark, tmp.File("big.zip"), dest);
    EXPECT_TRUE(log.Natives().empty());
    EXPECT_EQ(platform::FileSize(dest + "big.bin"), size);
    EXPECT_EQ(platform::FileAge(dest + "big.bin"), (44 << 25) | (2 << 21) | (29 << 16) | (12 << 11) | (34 << 5) | 28);
    std::ifstream in(dest + "big.bin", std::ios::binary);
    in.seekg(marker);
    std::string tail(15, '\0');
    in.read(tail.data(), 15);
    EXPECT_EQ(tail, "the end is near");
}

// zip -s cuts the archive into x.z01, x.z02, ... and x.zip; the set merges
// under those names and under ours (x_001.qvt, ..., x.qvt).
TEST_F(PeerArchives, InfoZipSplitSet) {
    const std::string set = tmp_.File("set/");
    Shell("mkdir -p " + ShellQuote(set) + " && cd " + ShellQuote(src_) + " && zip -q -r -s 1m ../set/x.zip .");
    std::vector<std::string> parts = ListTree(set);
    ASSERT_GE(parts.size(), 3u); // several volumes: the data is some 3 MB
    ExtractAndCompare(set + "x.zip");

    const std::string ours = tmp_.File("ours/");
    Shell("mkdir -p " + ShellQuote(ours));
    for (size_t i = 1; i < parts.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "x_%03zu.qvt", i);
        Shell("cp " + ShellQuote(set + "x.z" + (i < 10 ? "0" : "") + std::to_string(i)) + " " + ShellQuote(ours + name));
    }
    Shell("cp " + ShellQuote(set + "x.zip") + " " + ShellQuote(ours + "x.qvt"));
    ExtractAndCompare(ours + "x.qvt");
}

// Python's zipfile: comments, extra fields of its own, UTF-8 names, and the
// ZIP64 forms (its size limit lowered so that small items take them).
TEST(PythonArchives, CommentsExtrasUtf8AndZip64) {
    TempFolder tmp;
    const std::string archive = tmp.File("py.zip");
    const std::string payload = RandomBytes(300'000, 5);
    WriteFile(tmp.File("payload"), payload);
    RunPython(R"(
import sys, struct, zipfile
out, payload = sys.argv[1], open(sys.argv[2], 'rb').read()
zipfile.ZIP64_LIMIT = 1000   # every larger size and offset takes its ZIP64 form
with zipfile.ZipFile(out, 'w') as z:
    z.comment = b'archive comment ' * 20
    i = zipfile.ZipInfo('plain.bin', (2019, 12, 31, 23, 59, 58))
    i.compress_type = zipfile.ZIP_DEFLATED
    i.comment = b'item comment'
    i.extra = struct.pack('<HH', 0xCAFE, 6) + b'abcdef'
    z.writestr(i, payload)
    i = zipfile.ZipInfo('caf\u00e9/\u00fcber \u4e2d.txt', (2001, 2, 3, 4, 5, 6))
    z.writestr(i, 'unicode name\n')
    i = zipfile.ZipInfo('forced.bin', (2010, 10, 10, 10, 10, 10))
    i.compress_type = zipfile.ZIP_STORED
    with z.open(i, 'w', force_zip64=True) as f:
        f.write(payload[:5000])
)",
              {archive, tmp.File("payload")});
    ASSERT_GE(FindBytes(archive, "PK\x06\x06"), 0) << "no ZIP64 end record";

    const std::string dest = tmp.File("out/");
    TArkiva ark;
    TEventLog log;
    log.Attach(ark);
    std::vector<std::string> comments;
    ark.OnExtractFile = [&](TAKBaseArchiver*, std::string&, uint32_t&, const std::string& comment) {
        comments.push_back(comment);
    };
    ExtractAll(ark, archive, dest);
    EXPECT_TRUE(log.Natives().empty());
    EXPECT_TRUE(ReadFile(dest + "plain.bin") == payload);
    EXPECT_EQ(ReadFile(dest + "caf\u00e9/\u00fcber \u4e2d.txt"), "unicode name\n");
    EXPECT_TRUE(ReadFile(dest + "forced.bin") == payload.substr(0, 5000));
    EXPECT_EQ(platform::FileAge(dest + "plain.bin"), (39 << 25) | (12 << 21) | (31 << 16) | (23 << 11) | (59 << 5) | 29);
    EXPECT_EQ(platform::FileAge(dest + "forced.bin"), (30 << 25) | (10 << 21) | (10 << 16) | (10 << 11) | (10 << 5) | 5);
    ASSERT_EQ(comments.size(), 3u);
    EXPECT_EQ(comments[0], "item comment");
}

} // namespace
