// Free space for real: volumes on a small tmpfs.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "tests/volumes/VolumeTestSupport.h"

namespace {

constexpr int64_t DriveSize = 1048576;

class SmallDrive : public testing::Test {
protected:
    void SetUp() override
    {
        if (!small.Refused().empty()) GTEST_SKIP() << small.Refused();
        drive = small.Path();
        ASSERT_EQ(platform::DiskFreeBytes(drive), DriveSize);
        a.SetFileName(drive + "x.qvt");
        a.SetSpanningMode(smSplitting);
    }
    void TearDown() override { a.CloseArchive(); }
    // Leaves exactly `free` bytes free on the drive.
    void Fill(int64_t free)
    {
        WriteFile(drive + "filler", std::string(static_cast<size_t>(DriveSize - free), 'f'));
        ASSERT_EQ(platform::DiskFreeBytes(drive), free);
    }

    TempFolder t;
    TmpfsDrive small{DriveSize};
    std::string drive;
    TArkiva a;
};

} // namespace

TEST_F(SmallDrive, AVolumeNeedsItsWholeLimitFree)
{
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.SpanningOptions().SetCustomVolumeSize(DriveSize); // exactly what is free
    a.OpenArchive(fmCreate);
    EXPECT_TRUE(platform::FileExists(drive + "x_001.qvt"));
    a.CloseArchive();
    platform::DeleteFile(drive + "x_001.qvt");

    a.SpanningOptions().SetCustomVolumeSize(DriveSize + 1);
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    EXPECT_FALSE(platform::FileExists(drive + "x_001.qvt"));
}

TEST_F(SmallDrive, SixtyFourKilobytesOrLessAreNeverEnough)
{
    // No fixed limit: a volume takes what the drive has, if that is more
    // than 65,536 bytes.
    Fill(65536 + 4096);
    a.OpenArchive(fmCreate);
    a.CloseArchive();
    platform::DeleteFile(drive + "x_001.qvt");
    platform::DeleteFile(drive + "x.qvt");

    Fill(65536);
    int asked = 0;
    a.OnDiskFull = [&](TAKBaseArchiver*, int32_t volume, const std::string& name, bool& cancel) {
        ++asked;
        EXPECT_EQ(volume, 1);
        EXPECT_EQ(name, drive + "x_001.qvt");
        cancel = true;
    };
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    EXPECT_EQ(asked, 1);
}

TEST_F(SmallDrive, ADriveThatRunsOutOfRoomEndsTheVolumeAndTheNextGoesElsewhere)
{
    // Volumes take what the drive has; when it is full, the blank-volume
    // handler puts the next volume on another drive.
    const std::string elsewhere = t.File("x_002.qvt");
    a.OnRequestBlankVolume = [&](TAKBaseArchiver*, int32_t volume, std::string& name, bool&) {
        if (volume == 2) name = elsewhere;
    };
    a.OpenArchive(fmCreate);
    const std::string data = RandomBytes(1500000, 21);
    a.WriteAllToVolumes(data.data(), static_cast<int64_t>(data.size()), a.DirManager()->Stream, a.VolumeInfo(), -1,
                        nullptr);
    EXPECT_EQ(ReadFile(drive + "x_001.qvt"), data.substr(0, DriveSize));
    EXPECT_EQ(ReadFile(elsewhere), data.substr(DriveSize));
    EXPECT_EQ(a.VolumeFileName(), elsewhere);

    // Without the handler the full drive refuses the next volume.
    a.CloseArchive();
    platform::DeleteFile(drive + "x_001.qvt");
    a.OnRequestBlankVolume = nullptr;
    a.OpenArchive(fmCreate);
    EXPECT_EQ(NativeErrorOf([&] {
                  a.WriteAllToVolumes(data.data(), static_cast<int64_t>(data.size()), a.DirManager()->Stream,
                                      a.VolumeInfo(), -1, nullptr);
              }),
              45);
    EXPECT_EQ(platform::FileSize(drive + "x_001.qvt"), DriveSize);
    EXPECT_EQ(a.ArchiveStream(), nullptr);
}
