// Writing the central directory and the end records, checked by our own
// reading of the bytes and by other ZIP tools.
#include <gtest/gtest.h>

#include <map>

#include "platform/FileSystem.h"
#include "tests/volumes/VolumeTestSupport.h"

namespace {

void WriteDirectory(TAKBaseArchiver& a) { a.DirManager()->WriteDirectory(nullptr); }

// Copies a split set (volume files in order, the one with the directory
// last) into a new folder under the names 7-Zip and Info-ZIP look for:
// x.z01, x.z02, ..., x.zip. Returns the name of x.zip.
std::string PeerSet(const TempFolder& t, const std::vector<std::string>& volumes)
{
    const std::string folder = t.File("peer/");
    platform::ForceDirectories(folder);
    for (size_t i = 0; i < volumes.size(); ++i) {
        const std::string number = (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
        WriteFile(folder + (i + 1 == volumes.size() ? "x.zip" : "x.z" + number), ReadFile(volumes[i]));
    }
    return folder + "x.zip";
}

// Every file of `expected` is extracted by 7-Zip from the set and by Info-ZIP
// from the set joined by zip itself, with the expected content.
void ExpectPeersExtract(const TempFolder& t, const std::string& set, const std::map<std::string, std::string>& expected)
{
    std::string out;
    const std::string by7z = t.File("by7z/");
    ASSERT_EQ(RunCommand("7zz x -y -bd -o" + ShellQuote(by7z) + " " + ShellQuote(set), &out), 0) << out;
    const std::string joined = t.File("joined.zip");
    ASSERT_EQ(RunCommand("zip -q -s 0 " + ShellQuote(set) + " --out " + ShellQuote(joined), &out), 0) << out;
    const std::string byUnzip = t.File("byunzip/");
    ASSERT_EQ(RunCommand("unzip -qq -o " + ShellQuote(joined) + " -d " + ShellQuote(byUnzip), &out), 0) << out;
    for (const auto& [name, data] : expected) {
        EXPECT_EQ(ReadFile(by7z + name), data) << name;
        EXPECT_EQ(ReadFile(byUnzip + name), data) << name;
    }
}

class Directory : public testing::Test {
protected:
    void CreateSplit(int64_t limit, const std::string& fileName, bool advancedNaming = true)
    {
        a.SetFileName(t.File(fileName));
        a.SetSpanningMode(smSplitting);
        a.SpanningOptions().SetAdvancedNaming(advancedNaming);
        a.SpanningOptions().SetVolumeSize(vsCustom);
        a.SpanningOptions().SetCustomVolumeSize(limit);
        a.OpenArchive(fmCreate);
    }
    void CreateSingle(const std::string& fileName)
    {
        a.SetFileName(t.File(fileName));
        a.OpenArchive(fmCreate);
    }

    TempFolder t;
    TArkiva a;
};

} // namespace

TEST_F(Directory, AnEmptyListGivesTheEndRecordAloneAfterAnyStub)
{
    CreateSingle("empty.zip");
    a.CloseArchive(); // writes the directory of the empty, new archive
    const std::string bytes = ReadFile(t.File("empty.zip"));
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(U32At(bytes, 0), SigEndRecord);
    EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));
    EXPECT_EQ(PythonZipEntries(t.File("empty.zip")), 0);

    // The stub goes in front verbatim; the directory offset counts it.
    const std::string stub = RandomBytes(1000, 31);
    WriteFile(t.File("sfx.bin"), stub);
    a.SetSFXStub(t.File("sfx.bin"));
    CreateSingle("stub.zip");
    EXPECT_EQ(a.DirManager()->StubSize, 1000);
    a.CloseArchive();
    const std::string withStub = ReadFile(t.File("stub.zip"));
    ASSERT_EQ(withStub.size(), 1022u);
    EXPECT_EQ(withStub.substr(0, 1000), stub);
    const TEndRecord r = EndRecordOf(withStub);
    EXPECT_EQ(+r.Signature, SigEndRecord);
    EXPECT_EQ(+r.DirectoryOffset, 1000u);
    EXPECT_EQ(+r.TotalEntries, 0);
    EXPECT_EQ(+r.ThisDisk, 0);
    EXPECT_EQ(PythonZipEntries(t.File("stub.zip")), 0);
}

TEST_F(Directory, AStubMustFitIntoTheFirstVolume)
{
    WriteFile(t.File("big.sfx"), RandomBytes(65537, 32));
    a.SetSFXStub(t.File("big.sfx"));
    EXPECT_EQ(NativeErrorOf([&] { CreateSplit(65536, "x.qvt"); }), 47);
    EXPECT_EQ(platform::FileSize(t.File("x.exe")), 0); // nothing written

    // Exactly as large as the volume is accepted; the set begins with ".exe".
    const std::string stub = RandomBytes(65536, 33);
    WriteFile(t.File("fit.sfx"), stub);
    a.SetSFXStub(t.File("fit.sfx"));
    CreateSplit(65536, "x.qvt");
    EXPECT_EQ(a.VolumeFileName(), t.File("x.exe"));
    EXPECT_EQ(ReadFile(t.File("x.exe")), stub);
    // The stub fills volume 0, so the first item begins on volume 1.
    const TDirItem& item = AddStoredItem(a, "a.txt", "hello");
    EXPECT_EQ(+item.Header.DiskNumberStart, 1);
    EXPECT_EQ(+item.Header.LocalHeaderOffset, 0u);
    EXPECT_EQ(a.VolumeFileName(), t.File("x_002.qvt"));
}

TEST_F(Directory, ASplitSetThatFitsIntoTheFirstVolumeEndsAsOneFileNamedFileName)
{
    CreateSplit(1048576, "x.qvt");
    const std::string data = RandomBytes(1000, 34);
    AddStoredItem(a, "hello.bin", data);
    WriteDirectory(a);
    EXPECT_FALSE(platform::FileExists(t.File("x_001.qvt")));
    ASSERT_TRUE(platform::FileExists(t.File("x.qvt")));
    EXPECT_EQ(a.VolumeFileName(), t.File("x.qvt"));
    ASSERT_NE(a.ArchiveStream(), nullptr);
    EXPECT_EQ(a.DirManager()->Stream, a.ArchiveStream());
    EXPECT_EQ(a.ArchiveStream()->Size(), platform::FileSize(t.File("x.qvt")));
    a.CloseArchive();

    const std::string bytes = ReadFile(t.File("x.qvt"));
    const TEndRecord r = EndRecordOf(bytes);
    EXPECT_EQ(+r.ThisDisk, 0);
    EXPECT_EQ(+r.StartDisk, 0);
    EXPECT_EQ(+r.TotalEntries, 1);
    EXPECT_EQ(+r.EntriesOnDisk, 1);
    EXPECT_EQ(+r.DirectoryOffset, 30u + 9u + 1000u);
    EXPECT_EQ(+r.DirectorySize, 46u + 9u);
    EXPECT_EQ(PythonZipEntries(t.File("x.qvt")), 1);
    std::string out;
    EXPECT_EQ(RunCommand("unzip -tqq " + ShellQuote(t.File("x.qvt")), &out), 0) << out;
}

TEST_F(Directory, SixtyFiveThousandFiveHundredThirtyFiveEntriesGetZip64EndRecordsEvenWhenDisabled)
{
    ASSERT_EQ(a.Zip64Mode(), zmDisabled);
    CreateSingle("many.zip");
    constexpr int32_t count = 65535;
    for (int32_t i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%05d", i);
        AddStoredItem(a, name, "");
    }
    const int64_t start = a.ArchiveStream()->Size();
    WriteDirectory(a);
    a.CloseArchive();

    const std::string bytes = ReadFile(t.File("many.zip"));
    const TEndRecord r = EndRecordOf(bytes);
    EXPECT_EQ(+r.TotalEntries, 0xFFFF);
    EXPECT_EQ(+r.EntriesOnDisk, 0xFFFF);
    const size_t locatorAt = bytes.size() - 22 - 20;
    const auto locator = RecordAt<TZip64Locator>(bytes, locatorAt);
    EXPECT_EQ(+locator.Signature, SigZip64Locator);
    EXPECT_EQ(+locator.EndRecordDisk, 0u);
    EXPECT_EQ(+locator.TotalDisks, 1u);
    ASSERT_EQ(+locator.EndRecordOffset, locatorAt - 56);
    const auto z = RecordAt<TZip64EndRecord>(bytes, locatorAt - 56);
    EXPECT_EQ(+z.Signature, SigZip64EndRecord);
    EXPECT_EQ(+z.RestSize, 44u);
    EXPECT_EQ(+z.VersionMadeBy, 45);
    EXPECT_EQ(+z.VersionNeeded, 45);
    EXPECT_EQ(+z.TotalEntries, 65535u);
    EXPECT_EQ(+z.EntriesOnDisk, 65535u);
    EXPECT_EQ(+z.DirectoryOffset, static_cast<uint64_t>(start));
    EXPECT_EQ(+z.DirectorySize, 65535u * (46u + 6u));
    EXPECT_EQ(static_cast<int64_t>(r.DirectoryOffset), start);

    // Info-ZIP checks the data; Python only reads the directory (its data
    // check takes seconds for this many entries).
    EXPECT_EQ(PythonZipEntries(t.File("many.zip"), false), 65535);
    std::string out;
    EXPECT_EQ(RunCommand("unzip -tqq " + ShellQuote(t.File("many.zip")), &out), 0) << out;
}

TEST_F(Directory, ABlockOfAnotherIdSurvivesAfterTheZip64Block)
{
    CreateSingle("extra.zip");
    const std::string data = RandomBytes(500, 35);
    TDirItem& item = AddStoredItem(a, "data.bin", data);
    // As read from an archive: its old ZIP64 block and a block of another tool.
    item.ExtraBlocks.push_back({Zip64ExtraID, 8, std::vector<uint8_t>(8, 0x77)});
    item.ExtraBlocks.push_back({0xCAFE, 9, {1, 2, 3, 4, 5, 6, 7, 8, 9}});
    item.Zip64 = true;
    item.LocalHeaderOffset64 = item.Header.LocalHeaderOffset;
    item.Header.LocalHeaderOffset = Zip64Marker32;
    AddStoredItem(a, "second.bin", "two");
    WriteDirectory(a);
    EXPECT_EQ(+a.DirManager()->CurrentList.ItemAt(0).Header.ExtraFieldLength, 12 + 13);
    a.CloseArchive();

    const std::string bytes = ReadFile(t.File("extra.zip"));
    const TEndRecord r = EndRecordOf(bytes);
    const size_t entry = r.DirectoryOffset;
    const auto h = RecordAt<TCentralHeaderImage>(bytes, entry);
    ASSERT_EQ(+h.Signature, SigCentralHeader);
    ASSERT_EQ(+h.ExtraFieldLength, 25);
    const size_t extra = entry + 46 + h.FileNameLength;
    EXPECT_EQ(U16At(bytes, extra), Zip64ExtraID);
    EXPECT_EQ(U16At(bytes, extra + 2), 8);
    EXPECT_EQ(RecordAt<uint64_t>(bytes, extra + 4), 0u); // the offset built afresh
    EXPECT_EQ(U16At(bytes, extra + 12), 0xCAFE);
    EXPECT_EQ(U16At(bytes, extra + 14), 9);
    EXPECT_EQ(bytes.substr(extra + 16, 9), std::string("\1\2\3\4\5\6\7\x08\x09"));
    const auto next = RecordAt<TCentralHeaderImage>(bytes, extra + 25);
    EXPECT_EQ(+next.Signature, SigCentralHeader);
    EXPECT_EQ(+r.DirectorySize, 46u + 8u + 25u + 46u + 10u);

    EXPECT_EQ(PythonZipEntries(t.File("extra.zip")), 2);
    std::string out;
    EXPECT_EQ(RunCommand("unzip -tqq " + ShellQuote(t.File("extra.zip")), &out), 0) << out;
}

TEST_F(Directory, NamesCommentsAndTheArchiveCommentAsWritten)
{
    a.Options().SetOEMFileNames(true);
    CreateSingle("names.zip");
    AddStoredItem(a, "caf\xC3\xA9.txt", "cp437 holds e-acute");
    AddStoredItem(a, "\xE2\x82\xAC.txt", "no euro sign in cp437", "entry comment");
    TDirItem& read = AddStoredItem(a, "plain.txt", "plain");
    read.Header.Flags |= FlagUtf8; // as read from an archive that flagged it
    a.DirManager()->ArchiveComment = "the archive comment";
    WriteDirectory(a);
    const TAKDirArray& list = a.DirManager()->CurrentList;
    EXPECT_EQ(list.ItemAt(0).Header.Flags & FlagUtf8, 0);
    EXPECT_EQ(list.ItemAt(1).Header.Flags & FlagUtf8, FlagUtf8);
    EXPECT_EQ(list.ItemAt(2).Header.Flags & FlagUtf8, FlagUtf8); // flags stay as read
    a.CloseArchive();

    const std::string bytes = ReadFile(t.File("names.zip"));
    const TEndRecord r = EndRecordOf(bytes, 19);
    EXPECT_EQ(+r.Signature, SigEndRecord);
    EXPECT_EQ(+r.CommentLength, 19);
    EXPECT_EQ(bytes.substr(bytes.size() - 19), "the archive comment");

    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "assert z.testzip() is None\n"
        "print('|'.join(i.filename + '=' + i.comment.decode() for i in z.infolist()) + '#' + z.comment.decode())\n";
    std::string out;
    ASSERT_EQ(RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(t.File("names.zip")), &out), 0) << out;
    EXPECT_EQ(out, "caf\xC3\xA9.txt=|\xE2\x82\xAC.txt=entry comment|plain.txt=#the archive comment\n");
}

TEST_F(Directory, ADirectoryThatStartsOnTheNextVolumeIsNamedThereAndPeersReadTheSet)
{
    CreateSplit(70000, "x.zip", false);
    const std::string a1 = RandomBytes(100000, 36);
    const std::string b1 = RandomBytes(39900, 37);
    AddStoredItem(a, "a.bin", a1);
    AddStoredItem(a, "b.bin", b1);
    // Volume 1 now holds 30035 + 35 + 39900 bytes: 30 are left, fewer than
    // the first entry needs.
    ASSERT_EQ(a.VolumeInfo().VolumeNumber, 1);
    ASSERT_EQ(a.ArchiveStream()->Size(), 70000 - 30);
    WriteDirectory(a);
    a.CloseArchive();

    EXPECT_EQ(platform::FileSize(t.File("x.Z01")), 70000);
    EXPECT_EQ(platform::FileSize(t.File("x.Z02")), 70000 - 30);
    EXPECT_FALSE(platform::FileExists(t.File("x.Z03")));
    const std::string last = ReadFile(t.File("x.zip"));
    const TEndRecord r = EndRecordOf(last);
    EXPECT_EQ(+r.ThisDisk, 2);
    EXPECT_EQ(+r.StartDisk, 2);
    EXPECT_EQ(+r.DirectoryOffset, 0u);
    EXPECT_EQ(+r.TotalEntries, 2);
    EXPECT_EQ(U32At(last, 0), SigCentralHeader);
    EXPECT_EQ(a.DirManager(), nullptr);

    ExpectPeersExtract(t, PeerSet(t, {t.File("x.Z01"), t.File("x.Z02"), t.File("x.zip")}),
                       {{"a.bin", a1}, {"b.bin", b1}});
}

TEST_F(Directory, AnEntryMovesWholeWithItsCommentUnlessItIsLargerThanAVolume)
{
    CreateSplit(70000, "x.qvt");
    const std::string d1 = RandomBytes(1000, 38);
    const std::string d2 = RandomBytes(7000, 39);
    AddStoredItem(a, "1.bin", d1, std::string(60000, 'c'));
    AddStoredItem(a, "2.bin", d2, std::string(3000, 'k'));
    WriteDirectory(a);
    a.CloseArchive();

    // Items take 1035 + 7035 bytes; entry 1 with its comment ends at 68121;
    // entry 2 with its comment (3051 bytes) does not fit the rest.
    EXPECT_EQ(platform::FileSize(t.File("x_001.qvt")), 68121);
    const std::string v1 = ReadFile(t.File("x.qvt"));
    EXPECT_EQ(U32At(v1, 0), SigCentralHeader);
    EXPECT_EQ(v1.substr(46, 5), "2.bin");
    EXPECT_EQ(v1.substr(51, 3000), std::string(3000, 'k'));
    const TEndRecord r = EndRecordOf(v1);
    EXPECT_EQ(+r.ThisDisk, 1);
    EXPECT_EQ(+r.StartDisk, 0);
    EXPECT_EQ(+r.DirectoryOffset, 8070u);
    EXPECT_EQ(+r.DirectorySize, 51u + 60000u + 51u + 3000u);
    ExpectPeersExtract(t, PeerSet(t, {t.File("x_001.qvt"), t.File("x.qvt")}), {{"1.bin", d1}, {"2.bin", d2}});

    // An entry larger than any volume can only have its comment cut.
    a.SetFileName(t.File("y.qvt"));
    a.SpanningOptions().SetCustomVolumeSize(65536);
    a.OpenArchive(fmCreate);
    AddStoredItem(a, "3.bin", "three", std::string(65535, 'm'));
    WriteDirectory(a);
    a.CloseArchive();
    const std::string w0 = ReadFile(t.File("y_001.qvt"));
    ASSERT_EQ(w0.size(), 65536u);
    EXPECT_EQ(U32At(w0, 40), SigCentralHeader);
    EXPECT_EQ(w0.substr(40 + 51), std::string(65536 - 91, 'm'));
    const std::string w1 = ReadFile(t.File("y.qvt"));
    EXPECT_EQ(w1.size(), 65535u - (65536u - 91u) + 22u);
}

TEST_F(Directory, AnEntryThatDoesNotFitTheRestOfAVolumeMovesWhole)
{
    CreateSplit(70000, "x.qvt");
    const std::string d1 = RandomBytes(1000, 40);
    const std::string d2 = RandomBytes(10000, 41);
    // Entry 1 and its comment end 40 bytes before the limit: entry 2 (51
    // bytes) goes whole into the next volume.
    const std::string c1(70000 - 1035 - 10035 - 51 - 40, 'c');
    AddStoredItem(a, "1.bin", d1, c1);
    AddStoredItem(a, "2.bin", d2);
    WriteDirectory(a);
    a.CloseArchive();

    EXPECT_EQ(platform::FileSize(t.File("x_001.qvt")), 70000 - 40);
    const std::string v1 = ReadFile(t.File("x.qvt"));
    EXPECT_EQ(U32At(v1, 0), SigCentralHeader);
    EXPECT_EQ(v1.substr(46, 5), "2.bin");
    const TEndRecord r = EndRecordOf(v1);
    EXPECT_EQ(+r.ThisDisk, 1);
    EXPECT_EQ(+r.StartDisk, 0);
    EXPECT_EQ(+r.DirectorySize, 51u + c1.size() + 51u);

    ExpectPeersExtract(t, PeerSet(t, {t.File("x_001.qvt"), t.File("x.qvt")}), {{"1.bin", d1}, {"2.bin", d2}});
}

TEST_F(Directory, EntriesCopiedFromAnotherToolKeepTheirNameBytesAndFlags)
{
    // Info-ZIP on Linux stores UTF-8 names without flag bit 11. Read without
    // OEM conversion and written back, such a name must keep its bytes and
    // its flags in the central entry, or it no longer matches its local
    // header (Python's zipfile then refuses the item).
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    const std::string src = t.File("src/");
    platform::ForceDirectories(src);
    const std::string name = "caf\xC3\xA9.txt";
    WriteFile(src + name, "from zip\n");
    std::string out;
    ASSERT_EQ(RunCommand("cd " + ShellQuote(src) + " && zip -q -X " + ShellQuote(t.File("peer.zip")) + " " +
                             ShellQuote(name),
                         &out),
              0)
        << out;
    WriteFile(t.File("added.txt"), "added by us\n");

    a.Options().SetOEMFileNames(false);
    a.Options().SetStorePath(spNoPath);
    a.SetFileName(t.File("peer.zip"));
    a.OpenArchive();
    ASSERT_EQ(a.DirManager()->CurrentList.GetCount(), 1);
    EXPECT_EQ(a.DirManager()->CurrentList.ItemAt(0).StoredName, name);
    a.AddFiles(t.File("added.txt"), faAnyFile, "");
    a.CloseArchive();

    const std::string bytes = ReadFile(t.File("peer.zip"));
    const TEndRecord r = EndRecordOf(bytes);
    const auto h = RecordAt<TCentralHeaderImage>(bytes, r.DirectoryOffset);
    ASSERT_EQ(+h.Signature, SigCentralHeader);
    EXPECT_EQ(h.Flags & FlagUtf8, 0);
    EXPECT_EQ(bytes.substr(r.DirectoryOffset + 46, h.FileNameLength), name);
    EXPECT_EQ(PythonZipEntries(t.File("peer.zip"), true, &out), 2) << out;
    EXPECT_EQ(RunCommand("unzip -tqq " + ShellQuote(t.File("peer.zip")), &out), 0) << out;
}
