// Sets written by our own split merge back bit for bit, dated, at every size
// where a record meets the end of a volume: empty, one byte, a file that
// fills the first volume exactly, one byte over, and the sizes at which a
// local header, the central directory or the end record lands at the end of
// a volume. 7-Zip reads the interesting ones too, under its own names.
#include <gtest/gtest.h>

#include <cstdio>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "tests/reading/ReadingSupport.h"

namespace {

constexpr int64_t kVolume = 65536;
constexpr int32_t kWindowAttributes = 10431;

// The window's split: stored, no paths, our volume names, custom size.
void Split(const std::string& sourceFolder, const std::string& archive, int64_t volumeSize = kVolume) {
    TArkiva a;
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().SetAdvancedNaming(true);
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.Options().SetStorePath(spNoPath);
    a.SetCompressionLevel(clNone);
    a.SetFileName(archive);
    a.OpenArchive(fmCreate);
    a.SpanningOptions().SetCustomVolumeSize(volumeSize);
    a.SetBaseDir(sourceFolder);
    a.AddFiles(sourceFolder + "*.*", kWindowAttributes, "");
    a.CloseArchive();
}

// Volume file names of the set x.qvt in folder: x_001.qvt, ..., x.qvt.
std::vector<std::string> Volumes(const std::string& folder) {
    std::vector<std::string> v;
    for (int i = 1;; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "x_%03d.qvt", i);
        if (!platform::FileExists(folder + name)) break;
        v.push_back(folder + name);
    }
    v.push_back(folder + "x.qvt");
    return v;
}

struct TSplitCase {
    std::vector<std::pair<std::string, int64_t>> Files; // name, size
    bool Peer = false;                                 // also through 7-Zip
};

// Splits the files, merges the set into a fresh folder and compares content
// and dates; returns the number of volumes.
size_t RoundTrip(const TSplitCase& c, uint64_t seed) {
    TempFolder tmp;
    const std::string src = tmp.File("src/");
    const std::string set = tmp.File("set/");
    platform::ForceDirectories(src);
    platform::ForceDirectories(set);
    int second = 0;
    for (const auto& [name, size] : c.Files) {
        WriteFile(src + name, RandomBytes(static_cast<size_t>(size), seed++));
        SetMTime(src + name, "2022-07-08 09:10:" + std::to_string(12 + 2 * second++));
    }
    Split(src, set + "x.qvt");
    const std::vector<std::string> volumes = Volumes(set);
    // A record that does not fit whole is moved on, so a volume may end
    // short; the end record is written where the directory ends, so the
    // last volume may exceed the size by its 22 bytes.
    for (size_t i = 0; i + 1 < volumes.size(); ++i) EXPECT_LE(platform::FileSize(volumes[i]), kVolume) << volumes[i];
    EXPECT_LE(platform::FileSize(volumes.back()), kVolume + 22);

    const std::string out = tmp.File("out/");
    const TEventLog log = ExtractLogged(set + "x.qvt", out);
    EXPECT_TRUE(log.Failures.empty()) << log.Failures.front().Message;
    for (const auto& f : c.Files) {
        SCOPED_TRACE(f.first);
        EXPECT_TRUE(ReadFile(out + f.first) == ReadFile(src + f.first)) << "content differs";
        EXPECT_EQ(platform::FileAge(out + f.first), platform::FileAge(src + f.first)) << "date differs";
    }

    if (c.Peer && HaveTool("7zz")) {
        const std::string peer = tmp.File("peer/");
        platform::ForceDirectories(peer);
        for (size_t i = 0; i + 1 < volumes.size(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "x.z%02zu", i + 1);
            WriteFile(peer + name, ReadFile(volumes[i]));
        }
        WriteFile(peer + "x.zip", ReadFile(volumes.back()));
        std::string said;
        EXPECT_EQ(RunCommand("7zz x -y -bd -o" + ShellQuote(tmp.File("by7z")) + " " + ShellQuote(peer + "x.zip"), &said),
                  0)
            << said;
        for (const auto& f : c.Files)
            EXPECT_TRUE(ReadFile(tmp.File("by7z/") + f.first) == ReadFile(src + f.first)) << "7-Zip: " << f.first;
    }
    return volumes.size();
}

// Bytes of the local header of "f.bin" as our split writes it, found from
// the empty file's archive: everything but its central entry and end record.
int64_t LocalOverhead(const std::string& name) {
    TempFolder tmp;
    platform::ForceDirectories(tmp.File("src"));
    WriteFile(tmp.File("src/") + name, "");
    Split(tmp.File("src/"), tmp.File("x.qvt"));
    const std::string all = ReadFile(tmp.File("x.qvt"));
    const size_t central = all.find("PK\x01\x02");
    EXPECT_NE(central, std::string::npos);
    return static_cast<int64_t>(central);
}

} // namespace

TEST(OwnSplitRoundTrip, SizesAtVolumeBoundaries) {
    const int64_t local = LocalOverhead("f.bin");
    ASSERT_GE(local, 35);
    const int64_t exact = kVolume - local; // the data ends exactly with the first volume

    struct {
        const char* what;
        int64_t size;
        size_t volumes; // 0: not checked
    } named[] = {
        {"empty", 0, 1},
        {"one byte", 1, 1},
        {"first volume filled exactly", exact, 2},
        {"one byte over", exact + 1, 2},
        {"exactly one volume of data", kVolume, 2},
        {"two volumes and a bit", 2 * kVolume + 7, 3},
    };
    for (const auto& n : named) {
        SCOPED_TRACE(n.what);
        const size_t volumes = RoundTrip({{{"f.bin", n.size}}, true}, 100 + n.size);
        if (n.volumes != 0) {
            EXPECT_EQ(volumes, n.volumes);
        }
    }

    // Every size at which the central entry (46 + 5 bytes) or the end record
    // (22 bytes) meets the end of the first volume.
    for (int64_t size = exact - 90; size < exact; ++size) {
        SCOPED_TRACE("size " + std::to_string(size));
        RoundTrip({{{"f.bin", size}}, false}, 300);
    }
}

// With two files the second file's local header lands at the end of the
// first volume: wholly in it, cut by its end, or pushed to the next one.
TEST(OwnSplitRoundTrip, LocalHeaderAtTheEndOfAVolume) {
    const int64_t local = LocalOverhead("a.bin");
    for (int64_t room = 0; room <= local + 2; ++room) {
        SCOPED_TRACE("room " + std::to_string(room));
        // a.bin first (names are added in order), then b.bin's header.
        RoundTrip({{{"a.bin", kVolume - local - room}, {"b.bin", 5000}}, room == 0 || room == local}, 500 + room);
    }
}

// Volumes large enough that each one's part of the item is read for its
// CRC on the second core while it is copied: the file comes back whole, and
// a byte flipped in a middle volume fails the item with code 8, leaving the
// file that was there before as it was.
TEST(OwnSplitRoundTrip, LargeVolumesAndADamagedMiddleVolume) {
    constexpr int64_t kLarge = 1048576;
    TempFolder tmp;
    const std::string src = tmp.File("src/");
    const std::string set = tmp.File("set/");
    platform::ForceDirectories(src);
    platform::ForceDirectories(set);
    const std::string data = RandomBytes(static_cast<size_t>(3 * kLarge + kLarge / 2), 77);
    WriteFile(src + "big.bin", data);
    Split(src, set + "x.qvt", kLarge);
    const std::vector<std::string> volumes = Volumes(set);
    ASSERT_EQ(volumes.size(), 4u);

    const TEventLog log = ExtractLogged(set + "x.qvt", tmp.File("out/"));
    EXPECT_TRUE(log.Failures.empty());
    EXPECT_TRUE(ReadFile(tmp.File("out/big.bin")) == data);

    FlipByte(volumes[2], kLarge / 3);
    const std::string dest = tmp.File("damaged/");
    platform::ForceDirectories(dest);
    WriteFile(dest + "big.bin", "the old content");
    const TEventLog damaged = ExtractLogged(set + "x.qvt", dest);
    EXPECT_EQ(damaged.Natives(), std::vector<int32_t>{8});
    EXPECT_EQ(ReadFile(dest + "big.bin"), "the old content");
    ExpectNoTemporaries(dest);
}
