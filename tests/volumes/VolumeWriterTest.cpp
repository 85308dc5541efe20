// The volume writer and the volume requests on real files.
#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "tests/volumes/VolumeTestSupport.h"

namespace {

class VolumeWriter : public testing::Test {
protected:
    // A new split archive "x.qvt" with volumes of `limit` bytes.
    void Create(int64_t limit, TAKSpanningMode mode = smSplitting)
    {
        a.SetFileName(t.File("x.qvt"));
        a.SetSpanningMode(mode);
        a.SpanningOptions().SetVolumeSize(vsCustom);
        a.SpanningOptions().SetCustomVolumeSize(limit);
        a.OpenArchive(fmCreate);
    }
    void Write(const std::string& bytes, int64_t keepTogether = -1, TMemoryStream* buffer = nullptr)
    {
        a.WriteAllToVolumes(bytes.data(), static_cast<int64_t>(bytes.size()), a.DirManager()->Stream, a.VolumeInfo(),
                            keepTogether, buffer);
    }

    TempFolder t;
    ProbeArchiver a;
};

} // namespace

TEST_F(VolumeWriter, CutsAByteStreamIntoVolumesOfExactlyTheLimit)
{
    Create(70000);
    EXPECT_EQ(a.VolumeFileName(), t.File("x_001.qvt"));
    const std::string data = RandomBytes(200000, 1);
    // In pieces that do not line up with the volume ends.
    Write(data.substr(0, 12345));
    Write(data.substr(12345, 100000));
    Write(data.substr(112345));

    EXPECT_EQ(a.VolumeInfo().VolumeNumber, 2);
    EXPECT_EQ(a.VolumeFileName(), t.File("x_003.qvt"));
    EXPECT_EQ(a.DirManager()->Stream, a.ArchiveStream());
    EXPECT_EQ(ReadFile(t.File("x_001.qvt")), data.substr(0, 70000));
    EXPECT_EQ(ReadFile(t.File("x_002.qvt")), data.substr(70000, 70000));
    EXPECT_EQ(ReadFile(t.File("x_003.qvt")), data.substr(140000));
}

TEST_F(VolumeWriter, FirstVolumeSizeAppliesToTheFirstVolumeOnly)
{
    a.SpanningOptions().SetFirstVolumeSize(66000);
    Create(70000);
    const std::string data = RandomBytes(150000, 2);
    Write(data);
    EXPECT_EQ(ReadFile(t.File("x_001.qvt")), data.substr(0, 66000));
    EXPECT_EQ(ReadFile(t.File("x_002.qvt")), data.substr(66000, 70000));
    EXPECT_EQ(ReadFile(t.File("x_003.qvt")), data.substr(136000));
}

TEST_F(VolumeWriter, AKeepTogetherBlockThatDoesNotFitGoesWholeIntoTheNextVolume)
{
    Create(70000);
    const std::string first = RandomBytes(69960, 3);
    const std::string header = RandomBytes(100, 4);
    const std::string rest = RandomBytes(500, 5);
    Write(first);
    Write(header, 0);   // 40 bytes left: not enough
    Write(rest);
    EXPECT_EQ(ReadFile(t.File("x_001.qvt")), first); // the 40 bytes stay empty
    EXPECT_EQ(ReadFile(t.File("x_002.qvt")), header + rest);

    // The keep-together length counts what the caller writes next: 30 bytes
    // with 20 to follow need 50, and 69400 + 600 leave only 40 here.
    const std::string small = RandomBytes(30, 6);
    Write(RandomBytes(69400 - 600, 7));
    ASSERT_EQ(a.ArchiveStream()->Size(), 69400);
    Write(RandomBytes(560, 8));
    Write(small, 20);
    EXPECT_EQ(a.VolumeInfo().VolumeNumber, 2);
    EXPECT_EQ(ReadFile(t.File("x_003.qvt")), small);
}

TEST_F(VolumeWriter, ABlockLargerThanAWholeVolumeFailsWithoutEndlessVolumes)
{
    Create(70000);
    EXPECT_EQ(NativeErrorOf([&] { Write(RandomBytes(70001, 9), 0); }), 46);
    EXPECT_TRUE(platform::FileExists(t.File("x_002.qvt")));
    EXPECT_FALSE(platform::FileExists(t.File("x_003.qvt")));
}

TEST_F(VolumeWriter, TheMemoryBufferReachesAVolumeInOnePieceWhenItCloses)
{
    Create(70000);
    const std::string data = RandomBytes(160000, 10);
    TMemoryStream buffer;
    Write(data.substr(0, 50000), -1, &buffer);
    EXPECT_EQ(platform::FileSize(t.File("x_001.qvt")), 0); // still gathered in memory
    EXPECT_EQ(buffer.Size(), 50000);
    Write(data.substr(50000), -1, &buffer);
    EXPECT_EQ(ReadFile(t.File("x_001.qvt")), data.substr(0, 70000));
    EXPECT_EQ(ReadFile(t.File("x_002.qvt")), data.substr(70000, 70000));
    EXPECT_EQ(platform::FileSize(t.File("x_003.qvt")), 0);
    EXPECT_EQ(buffer.Size(), 20000);
    // The caller hands the rest to the last volume.
    a.WriteAllToVolumes(buffer.Memory(), buffer.Size(), a.DirManager()->Stream, a.VolumeInfo(), -1, nullptr);
    EXPECT_EQ(ReadFile(t.File("x_003.qvt")), data.substr(140000));
}

TEST_F(VolumeWriter, CopyToVolumesCopiesTheAmountAskedForWithProgress)
{
    Create(1500000);
    const std::string data = RandomBytes(2600000, 11);
    WriteFile(t.File("src.bin"), data);
    TFileStream src(t.File("src.bin"), fmOpenRead | fmShareDenyNone);
    std::vector<std::pair<double, TAKProgressPhase>> events;
    a.OnCopyTempFileProgress = [&](TAKBaseArchiver*, double progress, TAKProgressPhase phase, bool&) {
        events.emplace_back(progress, phase);
    };
    bool cancel = false;
    // A counted copy stops at its count though the source goes on.
    a.CopyToVolumes(src, a.DirManager()->Stream, a.VolumeInfo(), cancel, 100, 0, nullptr, false);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(src.Position(), 100);
    a.CopyToVolumes(src, a.DirManager()->Stream, a.VolumeInfo(), cancel, -1, -1, nullptr, true);
    EXPECT_EQ(ReadFile(t.File("x_001.qvt")), data.substr(0, 1500000));
    EXPECT_EQ(ReadFile(t.File("x_002.qvt")), data.substr(1500000));
    ASSERT_EQ(events.size(), 5u); // start, three chunks of at most 1,000,000 bytes, end
    EXPECT_EQ(events.front(), std::make_pair(0.0, ppStart));
    EXPECT_NEAR(events[1].first, 1000000.0 / 2599900.0 * 100, 1e-9);
    EXPECT_EQ(events[3], std::make_pair(100.0, ppProcess));
    EXPECT_EQ(events.back(), std::make_pair(100.0, ppEnd));

    // A handler that cancels stops the copy after the chunk.
    TFileStream again(t.File("src.bin"), fmOpenRead | fmShareDenyNone);
    a.OnCopyTempFileProgress = [&](TAKBaseArchiver*, double, TAKProgressPhase phase, bool& c) {
        c = phase == ppProcess;
    };
    a.CopyToVolumes(again, a.DirManager()->Stream, a.VolumeInfo(), cancel, -1, -1, nullptr, true);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(again.Position(), 1000000);

    // A source shorter than the count is an error, not a silent short copy.
    TFileStream tiny(t.File("src.bin"), fmOpenRead | fmShareDenyNone);
    tiny.SetPosition(static_cast<int64_t>(data.size()) - 10);
    cancel = false;
    EXPECT_THROW(a.CopyToVolumes(tiny, a.DirManager()->Stream, a.VolumeInfo(), cancel, 20, -1, nullptr, false),
                 EReadError);
}

TEST_F(VolumeWriter, BlankVolumeAndDiskFullPromptsOnSpannedDisks)
{
    ScriptedDialogsScope scope;
    auto& d = *scope.dialogs;
    // Blank disk #1 OK, #2 OK: the split proceeds.
    d.MessageAnswers = {mrOk, mrOk};
    Create(70000, smSpanning);
    Write(RandomBytes(100000, 12));
    ASSERT_EQ(d.Log.size(), 2u);
    EXPECT_EQ(d.Log[0].Text, "Please insert a blank disk #1");
    EXPECT_EQ(d.Log[1].Text, "Please insert a blank disk #2");
    EXPECT_EQ(d.Log[1].Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(d.Log[1].Buttons, (TMsgDlgButtons{TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}));
    EXPECT_EQ(platform::FileSize(t.File("x_002.qvt")), 30000);

    // A volume larger than the free space: disk-full prompt, OK asks for
    // another blank disk, any answer but OK gives up.
    a.CloseArchive();
    const int64_t huge = int64_t{1} << 60;
    a.SpanningOptions().SetCustomVolumeSize(huge);
    d.Log.clear();
    d.MessageAnswers = {mrOk, mrOk, mrOk, mrYes};
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    ASSERT_EQ(d.Log.size(), 4u);
    EXPECT_EQ(d.Log[0].Text, "Please insert a blank disk #1");
    const std::string full = d.Log[1].Text;
    EXPECT_EQ(full.rfind("Disk is full. Required free space: " + std::to_string(huge) + " bytes, but available only: ", 0),
              0u)
        << full;
    EXPECT_NE(full.find(" bytes. Clean the disk or find another blank disk"), std::string::npos);
    EXPECT_EQ(d.Log[2].Text, "Please insert a blank disk #1");
    EXPECT_EQ(d.Log[3].Text.rfind("Disk is full.", 0), 0u);
    EXPECT_EQ(a.ArchiveStream(), nullptr);

    // Cancel at the blank-disk prompt creates nothing.
    platform::DeleteFile(t.File("x_001.qvt"));
    d.Log.clear();
    d.MessageAnswers = {mrCancel};
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    EXPECT_EQ(d.Log.size(), 1u);
    EXPECT_FALSE(platform::FileExists(t.File("x_001.qvt")));
}

TEST_F(VolumeWriter, SplitVolumesAreNeverPromptedFor)
{
    ScriptedDialogsScope scope;
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.SpanningOptions().SetCustomVolumeSize(int64_t{1} << 60); // more than any disk has
    a.SetFileName(t.File("x.qvt"));
    a.SetSpanningMode(smSplitting);
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    EXPECT_TRUE(scope.dialogs->Log.empty());

    // A disk-full handler is asked with the 1-based number; not cancelling
    // asks for a blank volume again.
    int asked = 0;
    int blank = 0;
    a.OnRequestBlankVolume = [&](TAKBaseArchiver*, int32_t, std::string&, bool&) { ++blank; };
    a.OnDiskFull = [&](TAKBaseArchiver*, int32_t volume, const std::string& name, bool& cancel) {
        EXPECT_EQ(volume, 1);
        EXPECT_EQ(name, t.File("x_001.qvt"));
        cancel = ++asked == 2;
    };
    EXPECT_EQ(NativeErrorOf([&] { a.OpenArchive(fmCreate); }), 45);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(blank, 2);
    EXPECT_FALSE(platform::FileExists(t.File("x_001.qvt")));
    EXPECT_TRUE(scope.dialogs->Log.empty());
}

TEST_F(VolumeWriter, BlankVolumeHandlerNamesOrCancelsVolumes)
{
    std::vector<std::pair<int32_t, std::string>> asked;
    a.OnRequestBlankVolume = [&](TAKBaseArchiver*, int32_t volume, std::string& name, bool& cancel) {
        EXPECT_FALSE(cancel);
        asked.emplace_back(volume, name);
        if (volume == 2) name = t.File("second.part");
        cancel = volume == 3;
    };
    Create(70000);
    const std::string data = RandomBytes(150000, 13);
    EXPECT_EQ(NativeErrorOf([&] { Write(data); }), 45);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0], std::make_pair(1, t.File("x_001.qvt")));
    EXPECT_EQ(asked[1], std::make_pair(2, t.File("x_002.qvt")));
    EXPECT_EQ(asked[2], std::make_pair(3, t.File("x_003.qvt")));
    EXPECT_EQ(ReadFile(t.File("second.part")), data.substr(70000, 70000));
    EXPECT_FALSE(platform::FileExists(t.File("x_002.qvt")));
    // The refused volume leaves no stream, and no stale one in the manager.
    EXPECT_EQ(a.ArchiveStream(), nullptr);
    EXPECT_EQ(a.DirManager()->Stream, nullptr);
}

TEST_F(VolumeWriter, ReadRequestsFindVolumesAndAskHandlersWithOneBasedNumbers)
{
    // A set as another tool writes it: lower-case ".z01" where the naming
    // rule gives ".Z01".
    WriteFile(t.File("x.z01"), "one");
    WriteFile(t.File("x.z02"), "two");
    WriteFile(t.File("x.zip"), "last");
    a.SetFileName(t.File("x.zip"));
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().SetAdvancedNaming(false);
    a.SetOpenModeForTest(fmOpenRead | fmShareDenyNone);

    TAKVolumeNumberInfo want;
    want.LastVolumeNumber = 2;
    want.SetVolumeNumber(1);
    a.RequestVolume(want);
    EXPECT_EQ(a.VolumeFileName(), t.File("x.z02"));
    EXPECT_EQ(a.VolumeInfo().VolumeNumber, 1);
    want.SetFirst(true);
    a.RequestVolume(want);
    EXPECT_EQ(a.VolumeFileName(), t.File("x.z01"));
    want.SetLast(true);
    a.RequestVolume(want);
    EXPECT_EQ(a.VolumeFileName(), t.File("x.zip"));
    std::string bytes(4, '\0');
    a.ArchiveStream()->ReadBuffer(bytes.data(), 4);
    EXPECT_EQ(bytes, "last");

    // A missing volume without a handler ends with code 45.
    want.SetVolumeNumber(5);
    EXPECT_EQ(NativeErrorOf([&] { a.RequestVolume(want); }), 45);

    // A middle-volume handler hears volume 2 for the volume numbered 1 and
    // may point elsewhere; an empty name opens nothing and is no error.
    WriteFile(t.File("moved.bin"), "moved");
    a.SpanningOptions().SetAdvancedNaming(true);
    std::vector<std::pair<int32_t, std::string>> asked;
    a.OnRequestMiddleVolume = [&](TAKBaseArchiver*, int32_t volume, std::string& name, bool&) {
        asked.emplace_back(volume, name);
        name = volume == 2 ? t.File("moved.bin") : "";
    };
    want.SetVolumeNumber(1);
    a.RequestVolume(want);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(2, t.File("x_002.zip")));
    EXPECT_EQ(a.VolumeFileName(), t.File("moved.bin"));
    want.SetVolumeNumber(3);
    a.RequestVolume(want);
    EXPECT_EQ(a.VolumeFileName(), t.File("moved.bin"));
    EXPECT_EQ(a.VolumeInfo().VolumeNumber, 1);
}

TEST_F(VolumeWriter, SpannedReadRequestsPromptForDisks)
{
    ScriptedDialogsScope scope;
    auto& d = *scope.dialogs;
    a.SetFileName(t.File("x.qvt"));
    a.SetSpanningMode(smSpanning);
    a.SetOpenModeForTest(fmOpenRead | fmShareDenyNone);
    TAKVolumeNumberInfo last;
    last.SetLast(true);

    d.MessageAnswers = {mrCancel};
    EXPECT_EQ(NativeErrorOf([&] { a.RequestVolume(last); }), 45);
    ASSERT_EQ(d.Log.size(), 1u);
    EXPECT_EQ(d.Log[0].Text, "Please insert the last disk");

    // OK with the wrong disk in the drive: asked for the file by name.
    d.Log.clear();
    d.MessageAnswers = {mrOk, mrCancel};
    EXPECT_EQ(NativeErrorOf([&] { a.RequestVolume(last); }), 45);
    ASSERT_EQ(d.Log.size(), 2u);
    EXPECT_EQ(d.Log[1].Text, "File '" + t.File("x.qvt") +
                                 "' not found on inserted disk. Please insert last disk with required file");

    // The user inserts the right disk while the prompt is up.
    d.Log.clear();
    d.MessageAnswers = {mrOk, mrOk};
    TAKVolumeNumberInfo middle;
    middle.SetVolumeNumber(1);
    WriteFile(t.File("x_002.qvt"), "2");
    a.RequestVolume(middle);
    ASSERT_EQ(d.Log.size(), 1u);
    EXPECT_EQ(d.Log[0].Text, "Please insert disk #2");
    EXPECT_EQ(a.VolumeFileName(), t.File("x_002.qvt"));
    TAKVolumeNumberInfo first;
    first.SetFirst(true);
    WriteFile(t.File("x.qvt"), "1"); // this disk holds the name without number
    a.RequestVolume(first);
    EXPECT_EQ(d.Log.back().Text, "Please insert the first disk");
    EXPECT_EQ(a.VolumeFileName(), t.File("x.qvt"));
}

TEST_F(VolumeWriter, AnInMemoryArchiveHasNoVolumes)
{
    a.SetInMemory(true);
    a.SetFileName(t.File("x.qvt"));
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().SetVolumeSize(vsCustom);
    a.SpanningOptions().SetCustomVolumeSize(65536);
    a.OpenArchive();
    const std::string data = RandomBytes(200000, 14);
    Write(data);
    a.DirManager()->WriteDirectory(nullptr);
    ASSERT_NE(a.ArchiveStream(), nullptr);
    EXPECT_EQ(a.ArchiveStream()->Size(), 200000 + 22);
    EXPECT_EQ(a.VolumeInfo().VolumeNumber, 0);
    EXPECT_FALSE(platform::FileExists(t.File("x_001.qvt")));
    EXPECT_FALSE(platform::FileExists(t.File("x.qvt")));
}
