// The split road: one file cut into volumes side by side, as the window does
// it; checked by 7-Zip on copies named the way it expects, and by the
// records and sizes of the volumes themselves.

#include <string>
#include <vector>

#include "container/DirManager.h"
#include "tests/writing/WritingSupport.h"

using namespace writing_test;

namespace {

constexpr int64_t MiB = 1048576;

struct SplitFixture {
    TempFolder dir;
    std::string src = dir.File("src/");
    std::string out = dir.File("out/");
    SplitFixture() {
        std::filesystem::create_directories(src);
        std::filesystem::create_directories(out);
    }
    std::string Archive() const { return out + "x.qvt"; }
};

// The window's split at library level: create, one file by its full name, close.
void Split(TestArchiver& a, const std::string& file, int64_t volumeSize, TAKSpanningMode mode = smSplitting) {
    SetSplitting(a, volumeSize, mode);
    a.OpenArchive(fmCreate);
    a.AddFiles(file, 10431, "");
    a.CloseArchive();
}

TEST(Split, WorkedExampleGivesThreeVolumes) {
    SplitFixture f;
    const std::string file = f.src + "big.dat";
    WriteFile(file, RandomBytes(static_cast<size_t>(5 * MiB / 2), 3));
    auto a = NewArchiver(f.Archive());
    SetSplitting(*a, MiB);
    a->OpenArchive(fmCreate);
    a->AddFiles(file, 10431, "");
    EXPECT_EQ(a->OpenMode(), fmOpenReadWrite | fmShareDenyWrite);
    a->CloseArchive();

    EXPECT_EQ(FolderEntries(f.out), (std::vector<std::string>{"x.qvt", "x_001.qvt", "x_002.qvt"}));
    EXPECT_EQ(FileSizeOf(f.out + "x_001.qvt"), MiB);
    EXPECT_EQ(FileSizeOf(f.out + "x_002.qvt"), MiB);
    // The rest of the data, then one entry and the end record.
    EXPECT_EQ(FileSizeOf(f.Archive()), 5 * MiB / 2 + (30 + 7) - 2 * MiB + (46 + 7) + 22);

    const ArchiveRecords r = ReadRecords(f.Archive());
    EXPECT_EQ(+r.End.ThisDisk, 2);
    EXPECT_EQ(+r.End.StartDisk, 2);
    EXPECT_EQ(+r.End.TotalEntries, 1);
    EXPECT_EQ(+r.End.DirectoryOffset, FileSizeOf(f.Archive()) - (46 + 7) - 22);
    ASSERT_EQ(r.Entries.size(), 1u);
    EXPECT_EQ(r.Entries[0].Name, "big.dat");
    EXPECT_EQ(+r.Entries[0].Header.DiskNumberStart, 0);
    EXPECT_EQ(+r.Entries[0].Header.LocalHeaderOffset, 0u);
    EXPECT_EQ(+r.Entries[0].Header.Method, 0);
    EXPECT_EQ(+r.Entries[0].Header.CompressedSize, 5 * MiB / 2);
    const TLocalFileHeader l = ReadLocalHeader(f.out + "x_001.qvt", 0);
    EXPECT_EQ(+l.Signature, SigLocalHeader);
    EXPECT_EQ(+l.Crc32, +r.Entries[0].Header.Crc32);
    EXPECT_EQ(+l.CompressedSize, 5 * MiB / 2);

    std::string out;
    EXPECT_TRUE(SevenZipTestsSet({f.out + "x_001.qvt", f.out + "x_002.qvt", f.Archive()}, f.dir.File("7z"), &out))
        << out;
}

TEST(Split, FileThatFitsOneVolumeLeavesOnlyTheArchive) {
    SplitFixture f;
    const std::string file = f.src + "small.dat";
    WriteFile(file, RandomBytes(100000, 5));
    auto a = NewArchiver(f.Archive());
    Split(*a, file, MiB);
    EXPECT_EQ(FolderEntries(f.out), std::vector<std::string>{"x.qvt"});
    std::string out;
    EXPECT_TRUE(UnzipTests(f.Archive(), "", &out)) << out;
    EXPECT_TRUE(PythonMatches(f.Archive(), {{"small.dat", file}}, "", &out)) << out;
}

TEST(Split, HeaderThatDoesNotFitStartsTheNextVolume) {
    SplitFixture f;
    const int64_t volume = 65536;
    const std::string first = f.src + "a.dat";
    const std::string second = f.src + "b.dat";
    // Ten bytes stay free in the first volume: too few for b.dat's header.
    WriteFile(first, RandomBytes(static_cast<size_t>(volume - (30 + 5) - 10), 8));
    WriteFile(second, RandomBytes(1000, 9));
    auto a = NewArchiver(f.Archive());
    SetSplitting(*a, volume);
    a->OpenArchive(fmCreate);
    AddInOrder(*a, {first, second});
    a->CloseArchive();

    EXPECT_EQ(FolderEntries(f.out), (std::vector<std::string>{"x.qvt", "x_001.qvt"}));
    EXPECT_EQ(FileSizeOf(f.out + "x_001.qvt"), volume - 10);
    const ArchiveRecords r = ReadRecords(f.Archive());
    ASSERT_EQ(r.Entries.size(), 2u);
    EXPECT_EQ(r.Entries[1].Name, "b.dat");
    EXPECT_EQ(+r.Entries[1].Header.DiskNumberStart, 1);
    EXPECT_EQ(+r.Entries[1].Header.LocalHeaderOffset, 0u);
    EXPECT_EQ(ReadLocalHeader(f.Archive(), 0).Signature, SigLocalHeader);
    std::string out;
    EXPECT_TRUE(SevenZipTestsSet({f.out + "x_001.qvt", f.Archive()}, f.dir.File("7z"), &out)) << out;
}

// Splitting writes each item straight into the volumes; spanning still
// goes through a temporary copy of the item. The volumes must not differ.
TEST(Split, VolumesEqualThoseOfTheTemporaryFileRoad) {
    for (int mode : {0, 6}) {
        SCOPED_TRACE(mode);
        SplitFixture f;
        const std::string file = f.src + "data.txt";
        WriteFile(file, mode == 0 ? RandomBytes(static_cast<size_t>(5 * MiB / 2), 4) : TextBytes(3000000, 4));
        const std::string spanned = f.dir.File("spanned/");
        const std::string temp = f.dir.File("temp/");
        std::filesystem::create_directories(spanned);
        std::filesystem::create_directories(temp);

        auto s = NewArchiver(f.Archive(), mode);
        Split(*s, file, 300000);
        auto t = NewArchiver(spanned + "x.qvt", mode);
        t->SetTempDir(temp);
        t->OnRequestBlankVolume = [](TAKBaseArchiver*, int32_t, std::string&, bool& cancel) { cancel = false; };
        Split(*t, file, 300000, smSpanning);

        const std::vector<std::string> names = FolderEntries(f.out);
        ASSERT_EQ(names, FolderEntries(spanned));
        ASSERT_GE(names.size(), mode == 0 ? 9u : 2u);
        for (const std::string& n : names) EXPECT_EQ(ReadFile(f.out + n), ReadFile(spanned + n)) << n;
        EXPECT_TRUE(FolderEntries(temp).empty());
    }
}

TEST(Split, RefusedVolumeLeavesNoVolumeAndReachesTheCaller) {
    SplitFixture f;
    const std::string file = f.src + "big.dat";
    const std::string content = RandomBytes(static_cast<size_t>(5 * MiB / 2), 6);
    WriteFile(file, content);
    // A file of the archive's final name that this split never reached.
    WriteFile(f.Archive(), "an older archive");
    auto a = NewArchiver(f.Archive());
    a->OnRequestBlankVolume = [](TAKBaseArchiver*, int32_t number, std::string&, bool& cancel) {
        cancel = number == 3; // the third volume cannot be had
    };
    SetSplitting(*a, MiB);
    a->OpenArchive(fmCreate);
    try {
        a->AddFiles(file, 10431, "");
        ADD_FAILURE() << "the refused volume was not reported";
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), 45);
    }
    EXPECT_EQ(a->DirManager()->CurrentList.GetCount(), 0);
    a->CloseArchive();
    EXPECT_EQ(FolderEntries(f.out), std::vector<std::string>{"x.qvt"});
    EXPECT_EQ(ReadFile(f.Archive()), "an older archive");
    EXPECT_EQ(ReadFile(file), content);
}

TEST(Split, CancelledSplitLeavesNothing) {
    for (TAKProgressPhase phase : {ppStart, ppProcess}) {
        SCOPED_TRACE(phase);
        SplitFixture f;
        const std::string file = f.src + "big.dat";
        WriteFile(file, RandomBytes(static_cast<size_t>(5 * MiB / 2), 6));
        auto a = NewArchiver(f.Archive());
        // At the start of the commit, or before the third block (volume 2).
        a->OnOverallProgress = [&](TAKBaseArchiver*, double progress, TAKProcessOperation, TAKProgressPhase ph,
                                   bool& cancel) { cancel = ph == phase && (ph == ppStart || progress > 50); };
        Split(*a, file, MiB);
        EXPECT_TRUE(FolderEntries(f.out).empty());
    }
}

// A drive that runs out of room part-way: a small tmpfs (needs root).
TEST(Split, FullDiskLeavesNoVolumeAndKeepsTheSource) {
    const TmpfsDrive drive(3 * MiB);
    if (!drive.Refused().empty()) GTEST_SKIP() << drive.Refused();
    SplitFixture f;

    const std::string file = f.src + "big.dat";
    const std::string content = RandomBytes(static_cast<size_t>(5 * MiB), 12);
    WriteFile(file, content);
    auto a = NewArchiver(drive.File("x.qvt"));
    SetSplitting(*a, MiB);
    a->OpenArchive(fmCreate);
    try {
        a->AddFiles(file, 10431, "");
        ADD_FAILURE() << "the full disk was not reported";
    } catch (const EAKException& e) {
        EXPECT_TRUE(e.NativeError() == 45 || e.NativeError() == 46) << e.what();
    }
    a->CloseArchive();
    EXPECT_TRUE(FolderEntries(drive.Path()).empty());
    EXPECT_EQ(ReadFile(file), content);
}

} // namespace
