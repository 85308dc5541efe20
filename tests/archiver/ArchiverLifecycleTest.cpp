// Opening, closing, update brackets and the state checks of the archiver.
#include <gtest/gtest.h>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/FileSystem.h"
#include "tests/common/TestSupport.h"

namespace {

// Expects code and exact message of the archiver error that body raises.
template <class F>
void ExpectCode(F body, int code, const std::string& message) {
    try {
        body();
        ADD_FAILURE() << "no error, expected code " << code;
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), code);
        EXPECT_EQ(std::string(e.what()), message);
    }
}

} // namespace

TEST(ArchiverLifecycle, BlankNamesAndMissingFiles) {
    TempFolder tmp;
    TArkiva a;
    a.SetName("zip");
    ExpectCode([&] { a.OpenArchive(); }, 9, "zip: File name is blank. Specify appropriate file name - Native error: 00009");
    ExpectCode([&] { a.OpenArchive(34); }, 10,
               "zip: File name is blank. Specify appropriate file name - Native error: 00010");
    a.SetFileName(tmp.Path() + "sub/");
    ExpectCode([&] { a.OpenArchive(); }, 9, "zip: File name is blank. Specify appropriate file name - Native error: 00009");
    const std::string missing = tmp.File("missing.zip");
    a.SetFileName(missing);
    ExpectCode([&] { a.OpenArchive(34); }, 12, "zip: File \"" + missing + "\" not found - Native error: 00012");
    EXPECT_FALSE(platform::PathExists(missing));
    EXPECT_FALSE(a.Active());

    // An in-memory archive can only be created.
    WriteFile(tmp.File("there.zip"), "x");
    a.SetFileName(tmp.File("there.zip"));
    a.SetInMemory(true);
    ExpectCode([&] { a.OpenArchive(64); }, 28, "zip: In-memory archive can be created only - Native error: 00028");
}

TEST(ArchiverLifecycle, StateChecks) {
    TArkiva a;
    a.SetName("zip");
    ExpectCode([&] { a.CheckActive(); }, 13, "zip: Archive is not open - Native error: 00013");
    ExpectCode([&] { a.AddFiles("*.*", 10431, ""); }, 13, "zip: Archive is not open - Native error: 00013");
    ExpectCode([&] { a.ExtractFiles("*.*", 10431, ""); }, 13, "zip: Archive is not open - Native error: 00013");
    a.SetInMemory(true);
    a.OpenArchive();
    EXPECT_TRUE(a.Active());
    a.BeginUpdate();
    ExpectCode([&] { a.ExtractFiles("*.*", 10431, ""); }, 26,
               "zip: Cannot proceed when update is not ended. Preceding EndUpdate call is required. - Native error: 00026");
    a.CancelUpdate();
    EXPECT_EQ(a.UpdateCount(), 0);
    // The spanning mode cannot change while an archive is open.
    try {
        a.SetSpanningMode(smSplitting);
        FAIL();
    } catch (const EAKException&) {
        FAIL() << "not an archiver error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Cannot set spanning mode on open archive");
    }
    EXPECT_EQ(a.SpanningMode(), smNone);
    a.CloseArchive();
    a.SetSpanningMode(smSplitting);
    EXPECT_EQ(a.SpanningMode(), smSplitting);
}

TEST(ArchiverLifecycle, AutomaticModeCreatesAnEmptyArchive) {
    TempFolder tmp;
    const std::string name = tmp.File("new.zip");
    {
        TArkiva a;
        a.SetFileName(name);
        a.OpenArchive();
        EXPECT_TRUE(a.Active());
        EXPECT_EQ(a.OpenMode(), 65535);
        a.CloseArchive();
        EXPECT_FALSE(a.Active());
        EXPECT_EQ(a.ArchiveStream(), nullptr);
        EXPECT_EQ(a.DirManager(), nullptr);
        a.CloseArchive(); // closing twice is harmless
    }
    const std::string bytes = ReadFile(name);
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(bytes.substr(0, 4), std::string("PK\x05\x06", 4));
    EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));
    if (HaveTool("python3")) {
        std::string out;
        EXPECT_EQ(RunCommand("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); print(len(z.namelist()))\" '" +
                                 name + "'",
                             &out),
                  0)
            << out;
        EXPECT_EQ(out, "0\n");
    }
    // Reopening in automatic mode finds it writable and empty.
    TArkiva b;
    b.SetFileName(name);
    b.OpenArchive();
    EXPECT_EQ(b.OpenMode(), 34);
    EXPECT_EQ(b.DirManager()->CurrentList.GetCount(), 0);
    b.BeginUpdate();
    b.EndUpdate();
    b.CloseArchive();
    EXPECT_EQ(ReadFile(name), bytes);
}

TEST(ArchiverLifecycle, LockedByAnotherWriterOpensReadOnly) {
    TempFolder tmp;
    const std::string name = tmp.File("locked.zip");
    {
        TArkiva a;
        a.SetFileName(name);
        a.OpenArchive(65535);
        a.CloseArchive();
    }
    TFileStream writer(name, fmOpenReadWrite | fmShareDenyWrite);
    TArkiva a;
    a.SetName("zip");
    a.SetFileName(name);
    a.OpenArchive();
    EXPECT_EQ(a.OpenMode(), 64);
    ExpectCode([&] { a.BeginUpdate(); }, 32, "zip: File is open in read-only mode - Native error: 00032");
    EXPECT_EQ(a.UpdateCount(), 0);
    ExpectCode([&] { a.AddFiles(tmp.File("x"), 10431, ""); }, 32, "zip: File is open in read-only mode - Native error: 00032");
}

TEST(ArchiverLifecycle, NestedBrackets) {
    TArkiva a;
    a.SetInMemory(true);
    a.EndUpdate(); // without a bracket: nothing
    EXPECT_FALSE(a.Active());
    a.BeginUpdate(); // opens a closed archive
    EXPECT_TRUE(a.Active());
    a.BeginUpdate();
    EXPECT_EQ(a.UpdateCount(), 2);
    EXPECT_TRUE(a.InUpdate());
    a.EndUpdate();
    EXPECT_EQ(a.UpdateCount(), 1);
    EXPECT_EQ(a.ArchiveStream()->Size(), 0); // nothing committed yet
    a.EndUpdate();
    EXPECT_EQ(a.UpdateCount(), 0);
    EXPECT_EQ(a.ArchiveStream()->Size(), 22); // the commit wrote the empty directory
}

TEST(ArchiverLifecycle, CancelUpdateForgetsUncommittedItems) {
    TArkiva a;
    a.SetInMemory(true);
    a.BeginUpdate();
    TAKDirArray& list = a.DirManager()->CurrentList;
    list.SetCount(1);
    list.RenameItem(0, "never-written.txt");
    list.ItemAt(0).Pending = true;
    a.CancelUpdate();
    EXPECT_EQ(a.DirManager()->CurrentList.GetCount(), 0);
    a.CloseArchive();
}

TEST(ArchiverLifecycle, InMemorySwitchToFile) {
    TempFolder tmp;
    TArkiva a;
    a.SetName("zip");
    a.SetInMemory(true);
    a.OpenArchive();
    ExpectCode([&] { a.SetInMemory(false); }, 29, "zip: File name is blank. Specify appropriate file name - Native error: 00029");
    EXPECT_TRUE(a.InMemory());
    a.BeginUpdate();
    a.EndUpdate(); // 22 bytes in memory
    const std::string name = tmp.File("from-memory.zip");
    a.SetFileName(name);
    a.SetInMemory(false);
    EXPECT_FALSE(a.InMemory());
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(a.OpenMode(), 34);
    a.CloseArchive();
    EXPECT_EQ(ReadFile(name).size(), 22u);
}

TEST(ArchiverLifecycle, AfterOpenAndSetActive) {
    TArkiva a;
    a.SetInMemory(true);
    int opened = 0;
    a.AfterOpen = [&](TAKBaseArchiver* s) {
        EXPECT_EQ(s, &a);
        ++opened;
    };
    a.SetActive(true);
    a.SetActive(true);
    EXPECT_EQ(opened, 1);
    a.SetActive(false);
    EXPECT_FALSE(a.Active());
}

TEST(ArchiverLifecycle, MultiVolumeSetsAndModification) {
    TempFolder tmp;
    const std::string src = tmp.File("data.bin");
    WriteFile(src, RandomBytes(200000, 11));
    const std::string name = tmp.File("set.qvt");
    {
        TArkiva a;
        a.SetSpanningMode(smSplitting);
        a.SpanningOptions().SetVolumeSize(vsCustom);
        a.SpanningOptions().SetCustomVolumeSize(65536);
        a.Options().SetStorePath(spNoPath);
        a.SetFileName(name);
        a.OpenArchive(65535);
        a.AddFiles(src, 10431, "");
        // A freshly created multi-volume set counts as opened read-write.
        EXPECT_EQ(a.OpenMode(), 34);
        a.CloseArchive();
    }
    ASSERT_TRUE(platform::FileExists(tmp.File("set_001.qvt")));
    TArkiva b;
    b.SetName("zip");
    b.SetFileName(name);
    b.OpenArchive();
    EXPECT_EQ(b.SpanningMode(), smSplitting);
    ASSERT_EQ(b.DirManager()->CurrentList.GetCount(), 1);
    WriteFile(tmp.File("more.txt"), "more");
    ExpectCode([&] { b.AddFiles(tmp.File("more.txt"), 10431, ""); }, 52,
               "zip: Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add "
               "files several times - Native error: 00052");
    // Inside an explicit bracket the check lets the add through.
    b.BeginUpdate();
    EXPECT_NO_THROW(b.AddFiles(tmp.File("more.txt"), 10431, ""));
    EXPECT_EQ(b.DirManager()->CurrentList.GetCount(), 2);
    b.CancelUpdate();
    EXPECT_EQ(b.DirManager()->CurrentList.GetCount(), 1);
}
