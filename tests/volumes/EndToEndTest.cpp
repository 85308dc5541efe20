// Whole roads through the archiver: a split made by the commit and read back
// by our reader and by other tools; sets made by other tools read by ours.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/volumes/VolumeTestSupport.h"

namespace {

constexpr int32_t WindowAttributes = 10431;

// Opens the set by its file name and extracts everything into `folder`, as
// the merge command does.
void Merge(const std::string& fileName, const std::string& folder)
{
    platform::ForceDirectories(folder);
    TArkiva reader;
    reader.SetFileName(fileName);
    reader.SetBaseDir(folder);
    reader.OpenArchive();
    reader.ExtractFiles("*.*", WindowAttributes, "");
    reader.CloseArchive();
}

void SetUpLikeTheWindow(TArkiva& a)
{
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().SetAdvancedNaming(true);
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.Options().SetStorePath(spNoPath);
    a.SetCompressionLevel(clNone);
}

} // namespace

TEST(EndToEnd, SplitIntoVolumesAndMergeBack)
{
    TempFolder t;
    const std::string data = RandomBytes(2621440, 51); // 2.5 MiB
    WriteFile(t.File("big.bin"), data);

    TArkiva a;
    SetUpLikeTheWindow(a);
    a.SetFileName(t.File("big.qvt"));
    a.OpenArchive(fmCreate);
    a.SpanningOptions().SetCustomVolumeSize(1 << 20);
    a.SetBaseDir(t.Path());
    a.AddFiles(t.File("big.bin"), WindowAttributes, "");
    a.CloseArchive();

    EXPECT_EQ(platform::FileSize(t.File("big_001.qvt")), 1 << 20);
    EXPECT_EQ(platform::FileSize(t.File("big_002.qvt")), 1 << 20);
    EXPECT_FALSE(platform::FileExists(t.File("big_003.qvt")));
    const std::string last = ReadFile(t.File("big.qvt"));
    EXPECT_EQ(+EndRecordOf(last).ThisDisk, 2);

    Merge(t.File("big.qvt"), t.File("merged/"));
    EXPECT_EQ(ReadFile(t.File("merged/big.bin")), data);

    // 7-Zip reads the same volumes under its own names.
    const std::string peer = t.File("peer/");
    platform::ForceDirectories(peer);
    WriteFile(peer + "big.z01", ReadFile(t.File("big_001.qvt")));
    WriteFile(peer + "big.z02", ReadFile(t.File("big_002.qvt")));
    WriteFile(peer + "big.zip", last);
    std::string out;
    ASSERT_EQ(RunCommand("7zz x -y -bd -o" + ShellQuote(t.File("by7z")) + " " + ShellQuote(peer + "big.zip"), &out), 0)
        << out;
    EXPECT_EQ(ReadFile(t.File("by7z/big.bin")), data);
}

TEST(EndToEnd, OurReaderFollowsADirectoryThatStartsOnTheNextVolume)
{
    TempFolder t;
    TArkiva a;
    a.SetFileName(t.File("x.qvt"));
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.SpanningOptions().SetCustomVolumeSize(70000);
    a.OpenArchive(fmCreate);
    const std::string d1 = RandomBytes(100000, 52);
    const std::string d2 = RandomBytes(39900, 53);
    AddStoredItem(a, "a.bin", d1);
    AddStoredItem(a, "b.bin", d2);
    ASSERT_EQ(a.ArchiveStream()->Size(), 70000 - 30);
    a.DirManager()->WriteDirectory(nullptr);
    a.CloseArchive();
    const TEndRecord r = EndRecordOf(ReadFile(t.File("x.qvt")));
    ASSERT_EQ(+r.StartDisk, 2);
    ASSERT_EQ(+r.DirectoryOffset, 0u);

    Merge(t.File("x.qvt"), t.File("out/"));
    EXPECT_EQ(ReadFile(t.File("out/a.bin")), d1);
    EXPECT_EQ(ReadFile(t.File("out/b.bin")), d2);
}

TEST(EndToEnd, OurReaderOpensAnInfoZipSplitSetWithLowerCaseNames)
{
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    TempFolder t;
    const std::string data = RandomBytes(300000, 54);
    ASSERT_TRUE(platform::ForceDirectories(t.File("src")));
    WriteFile(t.File("src/f.bin"), data);
    std::string out;
    ASSERT_EQ(RunCommand("cd " + ShellQuote(t.File("src")) + " && zip -q -0 -s 100k ../x.zip f.bin", &out), 0) << out;
    ASSERT_TRUE(platform::FileExists(t.File("x.z01")));
    ASSERT_FALSE(platform::FileExists(t.File("x.Z01")));

    Merge(t.File("x.zip"), t.File("out/"));
    EXPECT_EQ(ReadFile(t.File("out/f.bin")), data);
}
