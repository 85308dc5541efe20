// Volume numbering, volume file names and finding volume files on disk.
#include <gtest/gtest.h>

#include "tests/volumes/VolumeTestSupport.h"
#include "volumes/VolumeFiles.h"

namespace {

struct NamingRow {
    TAKSpanningMode mode;
    bool advanced;
    bool stub;
    const char* volume0;
    const char* volume1;
    const char* last;
};

std::string NameOf(const TArkiva& a, int32_t volume, bool checkExists = false)
{
    std::string name = a.FileName();
    a.GetVolumeFileName(name, volume, checkExists);
    return name;
}

} // namespace

TEST(VolumeNames, TableForEveryModeNamingAndStub)
{
    const NamingRow rows[] = {
        {smSplitting, true, false, "/out/x_001.qvt", "/out/x_002.qvt", "/out/x.qvt"},
        {smSplitting, false, false, "/out/x.Z01", "/out/x.Z02", "/out/x.qvt"},
        {smSplitting, true, true, "/out/x.exe", "/out/x_002.qvt", "/out/x.ZIP"},
        {smSplitting, false, true, "/out/x.exe", "/out/x.Z02", "/out/x.ZIP"},
        {smSpanning, true, false, "/out/x_001.qvt", "/out/x_002.qvt", "/out/x.qvt"},
        {smSpanning, false, false, "/out/x.qvt", "/out/x.qvt", "/out/x.qvt"},
        {smSpanning, true, true, "/out/x_001.exe", "/out/x_002.exe", "/out/x.qvt"},
        {smSpanning, false, true, "/out/x.exe", "/out/x.exe", "/out/x.qvt"},
        {smNone, true, true, "/out/x.qvt", "/out/x.qvt", "/out/x.qvt"},
    };
    for (const NamingRow& row : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << int(row.mode) << " advanced " << row.advanced << " stub "
                                        << row.stub);
        TArkiva a;
        a.SetFileName("/out/x.qvt");
        a.SetSpanningMode(row.mode);
        a.SpanningOptions().SetAdvancedNaming(row.advanced);
        if (row.stub) a.SetSFXStub("/stubs/sfx.bin");
        EXPECT_EQ(NameOf(a, 0), row.volume0);
        EXPECT_EQ(NameOf(a, 1), row.volume1);
        EXPECT_EQ(NameOf(a, -1), row.last);
    }
}

TEST(VolumeNames, NumbersGrowPastTheirPaddingAndExeNamesCountAsStub)
{
    TArkiva a;
    a.SetFileName("/out/x.qvt");
    a.SetSpanningMode(smSplitting);
    EXPECT_EQ(NameOf(a, 999), "/out/x_1000.qvt");
    EXPECT_EQ(NameOf(a, 998), "/out/x_999.qvt");
    a.SpanningOptions().SetAdvancedNaming(false);
    EXPECT_EQ(NameOf(a, 99), "/out/x.Z100");
    EXPECT_EQ(NameOf(a, 8), "/out/x.Z09");

    // A name without extension, and a set that begins with its ".exe".
    a.SpanningOptions().SetAdvancedNaming(true);
    a.SetFileName("rel/x");
    EXPECT_EQ(NameOf(a, 2), "rel/x_003");
    a.SetFileName("/out/setup.EXE");
    EXPECT_EQ(NameOf(a, 0), "/out/setup.exe");
    EXPECT_EQ(NameOf(a, 1), "/out/setup_002.EXE");
    EXPECT_EQ(NameOf(a, -1), "/out/setup.ZIP");
}

TEST(VolumeNames, HasExeExtensionLooksAtTheLastExtensionOnly)
{
    EXPECT_TRUE(TAKBaseArchiver::HasExeExtension("setup.EXE"));
    EXPECT_TRUE(TAKBaseArchiver::HasExeExtension("/a/b/a.exe"));
    EXPECT_FALSE(TAKBaseArchiver::HasExeExtension("a.exe.qvt"));
    EXPECT_FALSE(TAKBaseArchiver::HasExeExtension("/x.exe/a"));
    EXPECT_FALSE(TAKBaseArchiver::HasExeExtension("exe"));
}

TEST(VolumeNames, SpanningCheckExistsTakesTheOtherConventionFromTheDisk)
{
    TempFolder t;
    TArkiva a;
    a.SetFileName(t.File("x.qvt"));
    a.SetSpanningMode(smSpanning);

    // Nothing on the disk: the computed name stands.
    EXPECT_EQ(NameOf(a, 1, true), t.File("x_002.qvt"));
    // The disk holds the name without number.
    WriteFile(t.File("x.qvt"), "v");
    EXPECT_EQ(NameOf(a, 1, true), t.File("x.qvt"));
    EXPECT_EQ(NameOf(a, 1, false), t.File("x_002.qvt"));
    // The numbered name wins when it is there.
    WriteFile(t.File("x_002.qvt"), "v");
    EXPECT_EQ(NameOf(a, 1, true), t.File("x_002.qvt"));

    // Without AdvancedNaming the numbered name is the fallback.
    a.SpanningOptions().SetAdvancedNaming(false);
    WriteFile(t.File("y_003.qvt"), "v");
    a.SetFileName(t.File("y.qvt"));
    EXPECT_EQ(NameOf(a, 2, true), t.File("y_003.qvt"));
    EXPECT_EQ(NameOf(a, 2, false), t.File("y.qvt"));

    // Splitting never looks at the disk.
    a.SetSpanningMode(smSplitting);
    EXPECT_EQ(NameOf(a, 2, true), t.File("y.Z03"));
}

TEST(VolumeFiles, ResolveFindsAVariantThatDiffersOnlyInLetterCase)
{
    TempFolder t;
    WriteFile(t.File("x.z01"), "1");
    WriteFile(t.File("x.zip"), "z");
    WriteFile(t.File("X.Z02"), "2");
    ASSERT_TRUE(platform::CreateDir(t.File("x.z03")));

    EXPECT_EQ(ResolveExistingVolumeName(t.File("x.zip")), t.File("x.zip"));
    EXPECT_EQ(ResolveExistingVolumeName(t.File("x.Z01")), t.File("x.z01"));
    EXPECT_EQ(ResolveExistingVolumeName(t.File("x.z02")), t.File("X.Z02"));
    // A folder is no volume; a missing name stays as computed.
    EXPECT_EQ(ResolveExistingVolumeName(t.File("x.Z03")), t.File("x.Z03"));
    EXPECT_EQ(ResolveExistingVolumeName(t.File("x.Z04")), t.File("x.Z04"));
    EXPECT_EQ(ResolveExistingVolumeName(t.File("nofolder/x.Z01")), t.File("nofolder/x.Z01"));
    // Only ASCII letters fold; other bytes must match.
    WriteFile(t.File("\xC3\xA9t\xC3\xA9.z01"), "e");
    EXPECT_EQ(ResolveExistingVolumeName(t.File("\xC3\xA9T\xC3\xA9.Z01")), t.File("\xC3\xA9t\xC3\xA9.z01"));
    EXPECT_EQ(ResolveExistingVolumeName(t.File("\xC3\x89t\xC3\x89.z01")), t.File("\xC3\x89t\xC3\x89.z01"));
}

TEST(VolumeInfo, LastFirstAndSameVolume)
{
    TAKVolumeNumberInfo fresh;
    EXPECT_EQ(fresh.VolumeKind, volUnknown);
    EXPECT_EQ(fresh.VolumeNumber, -1);
    EXPECT_FALSE(fresh.IsLast());
    EXPECT_FALSE(fresh.IsFirst());

    // Last by kind while the last number is unknown.
    TAKVolumeNumberInfo last;
    last.SetLast(true);
    EXPECT_EQ(last.VolumeNumber, -1);
    EXPECT_TRUE(last.IsLast());
    last.SetLast(false);
    EXPECT_TRUE(last.IsLast());

    // Once the last number is known only that number is last.
    TAKVolumeNumberInfo numbered;
    numbered.LastVolumeNumber = 4;
    numbered.SetVolumeNumber(3);
    EXPECT_FALSE(numbered.IsLast());
    numbered.SetVolumeNumber(4);
    EXPECT_TRUE(numbered.IsLast());
    TAKVolumeNumberInfo lastOfFive;
    lastOfFive.LastVolumeNumber = 4;
    lastOfFive.SetLast(true);
    EXPECT_EQ(lastOfFive.VolumeNumber, 4);
    EXPECT_TRUE(lastOfFive.SameVolume(numbered));
    lastOfFive.VolumeKind = volNumbered;
    lastOfFive.VolumeNumber = 2;
    EXPECT_FALSE(lastOfFive.IsLast());

    // First by number, whatever the kind.
    TAKVolumeNumberInfo zero;
    zero.SetVolumeNumber(0);
    TAKVolumeNumberInfo first;
    first.SetFirst(true);
    EXPECT_TRUE(zero.IsFirst());
    EXPECT_TRUE(zero.SameVolume(first));
    EXPECT_TRUE(first.SameVolume(zero));
    EXPECT_FALSE(first.SameVolume(numbered));

    // Numbers decide for other volumes; kinds when no number is known.
    TAKVolumeNumberInfo two, alsoTwo;
    two.SetVolumeNumber(2);
    alsoTwo.SetVolumeNumber(2);
    alsoTwo.VolumeKind = volUnknown;
    EXPECT_TRUE(two.SameVolume(alsoTwo));
    TAKVolumeNumberInfo unknownA, unknownB;
    EXPECT_TRUE(unknownA.SameVolume(unknownB));
    unknownB.VolumeKind = volNumbered;
    EXPECT_FALSE(unknownA.SameVolume(unknownB));

    two.Reset();
    EXPECT_EQ(two.VolumeKind, volUnknown);
    EXPECT_EQ(two.VolumeNumber, -1);
    EXPECT_EQ(two.LastVolumeNumber, -1);
}
