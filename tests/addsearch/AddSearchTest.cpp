// The add search: which files and folders a mask, the attributes, the
// recurse flag and the exclusions take in, the names they are stored under,
// the item fields they get, and the overwrite decisions. The search runs
// inside an update bracket of an in-memory archive that is cancelled
// afterwards, so nothing is committed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "container/ZipRecords.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "tests/common/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Header fields are packed: take them by value before comparing.
template <class T> T Val(T v) {
    return v;
}

constexpr int32_t kSplitterAttr = 10431;
constexpr int32_t kFilesOnly = faArchive | faReadOnly; // no hidden files, no folder items
constexpr int32_t kFilesAndFolders = faArchive | faDirectory;

// base/ holds:  a.txt  b.dat  .hidden.txt  sub/{a.txt c.txt deep/{a.txt d.txt}}  other/{README e.txt}
// and beside it: outside/x.txt
class AddSearch : public ::testing::Test {
protected:
    void SetUp() override {
        base = tmp.File("base/");
        for (const char* d : {"base", "base/sub", "base/sub/deep", "base/other", "outside"})
            fs::create_directory(tmp.File(d));
        for (const char* f :
             {"base/a.txt", "base/b.dat", "base/.hidden.txt", "base/sub/a.txt", "base/sub/c.txt", "base/sub/deep/a.txt",
              "base/sub/deep/d.txt", "base/other/e.txt", "base/other/README", "outside/x.txt"})
            WriteFile(tmp.File(f), std::string("data of ") + f);
        ar.SetInMemory(true);
        ar.OpenArchive();
        ar.SetBaseDir(base);
        ar.BeginUpdate();
    }
    void TearDown() override {
        ar.CancelUpdate();
        ar.CloseArchive();
    }

    TAKDirArray& List() { return ar.DirManager()->CurrentList; }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int32_t i = 0; i < List().GetCount(); ++i)
            names.push_back(List().ItemAt(i).StoredName);
        return names;
    }
    void Search(const std::string& mask, int32_t attr, bool recurse, const std::vector<std::string>& excl = {}) {
        ar.SearchAndAddFiles({mask}, attr, recurse, excl);
    }
    // An item as the directory reader would have entered it from the archive.
    int32_t AddArchiveItem(const std::string& name, int32_t stamp) {
        const int32_t i = List().GetCount();
        List().SetCount(i + 1);
        List().RenameItem(i, name);
        TDirItem& item = List().ItemAt(i);
        item.Header.Signature = SigCentralHeader;
        item.Header.LastModDate = DosDate(stamp);
        item.Header.LastModTime = DosTime(stamp);
        item.Header.Crc32 = 0x12345678;
        return i;
    }

    TempFolder tmp;
    std::string base;
    TArkiva ar;
};

TEST_F(AddSearch, SplitterCallTakesTheNamedFileUnderItsBareName) {
    // The splitter's road: an absolute file name, every attribute bit,
    // recursing, no path stored. A hidden file is taken all the same.
    ar.Options().SetStorePath(spNoPath);
    ar.Options().SetOEMFileNames(true);
    for (const std::string name : {"b.dat", ".hidden.txt"}) {
        SCOPED_TRACE(name);
        List().Clear();
        const std::string path = base + name;
        Search(path, kSplitterAttr, true);
        ASSERT_EQ(Names(), std::vector<std::string>{name});
        const TDirItem& item = List().ItemAt(0);
        EXPECT_EQ(item.PendingOperation, poAdd);
        EXPECT_TRUE(item.Pending);
        EXPECT_EQ(item.SourcePath, path);
        EXPECT_EQ(item.ItemCompressionMode, ar.CompressionMode());
        const TCentralHeaderImage& h = item.Header;
        EXPECT_EQ(Val(h.Signature), SigCentralHeader);
        EXPECT_EQ(Val(h.VersionMadeBy), 20);
        EXPECT_EQ(Val(h.VersionNeeded), 20);
        EXPECT_EQ(Val(h.Flags), 0);
        EXPECT_EQ(Val(h.Method), ar.CompressionMethod());
        EXPECT_EQ(Val(h.Crc32), 0xFFFFFFFFu);
        EXPECT_EQ(Val(h.CompressedSize), 0u);
        EXPECT_EQ(Val(h.UncompressedSize), 0u);
        EXPECT_EQ(Val(h.LocalHeaderOffset), 0u);
        EXPECT_EQ(Val(h.FileNameLength), name.size());
        EXPECT_EQ(Val(h.FileCommentLength), 0);
        EXPECT_EQ(Val(h.ExternalAttributes), static_cast<uint32_t>(platform::FileGetAttr(path)));
        EXPECT_EQ(ItemStamp(h), platform::FileAge(path));
    }
    EXPECT_EQ(Val(List().ItemAt(0).Header.ExternalAttributes) & faHidden, faHidden);
}

TEST_F(AddSearch, PasswordAndNameCodePageShapeNewItems) {
    ar.Options().SetOEMFileNames(false);
    ar.SetPassword("secret");
    Search(base + "a.txt", kSplitterAttr, false);
    ASSERT_EQ(List().GetCount(), 1);
    const TDirItem& item = List().ItemAt(0);
    EXPECT_EQ(Val(item.Header.VersionMadeBy), 2836);
    EXPECT_EQ(Val(item.Header.VersionNeeded), 2836);
    EXPECT_EQ(Val(item.Header.Flags), 1);
    EXPECT_EQ(item.ItemPassword, "secret");
}

TEST_F(AddSearch, MasksAttributesAndRecursionSelectFilesInSearchOrder) {
    struct Case {
        std::string mask;
        int32_t attr;
        bool recurse;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"*.txt",
         kFilesOnly,
         true,
         {"a.txt", "other/e.txt", "sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        {"*.txt", kFilesOnly | faHidden, false, {".hidden.txt", "a.txt"}},
        {"*.txt", kFilesOnly, false, {"a.txt"}},
        // A named file with a folder part is not looked for deeper.
        {"sub/a.txt", kFilesOnly, true, {"sub/a.txt"}},
        // With a wildcard the search descends with the name part only.
        {"sub/*.txt", kFilesOnly, true, {"sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        {"./sub/*.txt", kFilesOnly, false, {"sub/a.txt", "sub/c.txt"}},
        // Folders become items, and everything in them comes along even
        // without recursion.
        {"*.*",
         kFilesAndFolders,
         false,
         {"a.txt", "b.dat", "other/", "other/README", "other/e.txt", "sub/", "sub/a.txt", "sub/c.txt", "sub/deep/",
          "sub/deep/a.txt", "sub/deep/d.txt"}},
        // An absolute mask with a wildcard descends with its name part.
        {base + "sub/*.txt", kFilesOnly, true, {"sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        // Nothing named, nothing taken.
        {base + "missing.txt", kSplitterAttr, true, {}},
        {"missing.txt", kSplitterAttr, true, {}},
        {"", kSplitterAttr, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask + (c.recurse ? " recursing" : "") + " attr " + std::to_string(c.attr));
        List().Clear();
        Search(c.mask, c.attr, c.recurse);
        EXPECT_EQ(Names(), c.expected);
    }
}

TEST_F(AddSearch, FolderItemsAreMarkedAsFolders) {
    ar.SetCompressionMode(9);
    ar.SetPassword("pw");
    Search("*.*", kFilesAndFolders, false);
    int32_t index = -1;
    ASSERT_TRUE(List().FindName("sub/", index));
    const TDirItem& item = List().ItemAt(index);
    EXPECT_EQ(item.SourcePath, base + "sub/");
    EXPECT_EQ(item.ItemCompressionMode, 0);
    EXPECT_EQ(Val(item.Header.Flags), 2);
    EXPECT_EQ(Val(item.Header.Method), 0);
    EXPECT_EQ(Val(item.Header.Crc32), 0u);
    EXPECT_EQ(Val(item.Header.ExternalAttributes), faDirectory);
    EXPECT_EQ(Val(item.Header.FileNameLength), 4);
    ASSERT_TRUE(List().FindName("sub/c.txt", index));
    EXPECT_EQ(Val(List().ItemAt(index).Header.Method), 8);
    EXPECT_EQ(Val(List().ItemAt(index).Header.Flags), 1);
}

TEST_F(AddSearch, ExclusionsDropFilesAndWholeFolders) {
    struct Case {
        std::vector<std::string> exclusions;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> all = {"a.txt",     "b.dat",     "other/README",   "other/e.txt",
                                          "sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"};
    const std::vector<Case> cases = {
        {{"*.*"}, {}},
        {{base + "b.dat"},
         {"a.txt", "other/README", "other/e.txt", "sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        {{"b.dat"},
         {"a.txt", "other/README", "other/e.txt", "sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        // A name without a folder part matches in every folder ...
        {{"a.txt"}, {"b.dat", "other/README", "other/e.txt", "sub/c.txt", "sub/deep/d.txt"}},
        // ... one with a folder part only there.
        {{"sub/a.txt"},
         {"a.txt", "b.dat", "other/README", "other/e.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        // A folder excluded is not entered.
        {{"sub"}, {"a.txt", "b.dat", "other/README", "other/e.txt"}},
        {{base + "sub/deep"}, {"a.txt", "b.dat", "other/README", "other/e.txt", "sub/a.txt", "sub/c.txt"}},
        // Everything in a folder and below it.
        {{base + "sub/*.*"}, {"a.txt", "b.dat", "other/README", "other/e.txt"}},
        {{"*.dat", "other"}, {"a.txt", "sub/a.txt", "sub/c.txt", "sub/deep/a.txt", "sub/deep/d.txt"}},
        {{}, all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exclusions.empty() ? "none" : c.exclusions.front());
        List().Clear();
        Search("*.*", kFilesOnly, true, c.exclusions);
        EXPECT_EQ(Names(), c.expected);
    }
}

TEST_F(AddSearch, TheArchivesOwnFileIsNeverTakenIn) {
    // As AddFiles lists it: the archive's name made absolute. The base
    // folder is given in a roundabout spelling; the exclusion still holds.
    const std::string archive = base + "own.zip";
    WriteFile(archive, "PK");
    for (const std::string& baseDir : {base, tmp.File("base/sub/../"), tmp.File("base/./")}) {
        SCOPED_TRACE(baseDir);
        ar.SetBaseDir(baseDir);
        for (const std::string& mask : {std::string("*.zip"), archive, tmp.File("base/sub/../own.zip")}) {
            List().Clear();
            Search(mask, kSplitterAttr, true, {platform::ExpandFileName(archive)});
            EXPECT_EQ(List().GetCount(), 0) << mask;
        }
    }
}

TEST_F(AddSearch, NoCompressionMasksStoreMatchingFiles) {
    ar.SetCompressionMode(9);
    ar.NoCompressionMasks() = {"*.dat", "sub/c.txt"};
    Search("*.*", kFilesOnly, true);
    for (int32_t i = 0; i < List().GetCount(); ++i) {
        const TDirItem& item = List().ItemAt(i);
        SCOPED_TRACE(item.StoredName);
        const bool stored = item.StoredName == "b.dat" || item.StoredName == "sub/c.txt";
        EXPECT_EQ(Val(item.Header.Method), stored ? 0 : 8);
        EXPECT_EQ(item.ItemCompressionMode, stored ? 0 : 9);
    }
}

TEST_F(AddSearch, OverwriteModesDecideAboutAnItemOfTheSameName) {
    const std::string file = base + "a.txt";
    const int32_t fileStamp = platform::FileAge(file);
    const int32_t older = DosStamp(DosDate(fileStamp) - 1, DosTime(fileStamp)); // a day earlier
    const int32_t newer = DosStamp(DosDate(fileStamp) + 1, DosTime(fileStamp));
    struct Case {
        TAKOverwriteMode mode;
        int32_t itemStamp;
        bool replaced;
    };
    const std::vector<Case> cases = {
        {omAlways, fileStamp, true}, {omNever, older, false},       {omIfNewer, fileStamp, false},
        {omIfNewer, older, true},    {omIfOlder, fileStamp, false}, {omIfOlder, older, false},
        {omIfOlder, newer, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " item stamp " + std::to_string(c.itemStamp));
        List().Clear();
        AddArchiveItem("first.bin", fileStamp);
        const int32_t index = AddArchiveItem("A.TXT", c.itemStamp); // letter case is ignored
        ar.Options().SetOverwriteMode(c.mode);
        Search("a.txt", kFilesOnly, false);
        ASSERT_EQ(List().GetCount(), 2);
        const TDirItem& item = List().ItemAt(index);
        if (c.replaced) {
            EXPECT_EQ(item.PendingOperation, poUpdate);
            EXPECT_TRUE(item.Pending);
            EXPECT_EQ(item.SourcePath, file);
            EXPECT_EQ(item.StoredName, "a.txt");
            EXPECT_EQ(Val(item.Header.Crc32), 0xFFFFFFFFu);
            EXPECT_EQ(ItemStamp(item.Header), fileStamp);
        } else {
            EXPECT_FALSE(item.Pending);
            EXPECT_EQ(item.StoredName, "A.TXT");
            EXPECT_EQ(Val(item.Header.Crc32), 0x12345678u);
            EXPECT_EQ(ItemStamp(item.Header), c.itemStamp);
            EXPECT_EQ(ar.AddItemFromFile(file, base, true), -1);
        }
    }
}

TEST_F(AddSearch, PromptAsksTheOwnerWhoMayRenameTheItem) {
    const std::string file = base + "a.txt";
    ar.Options().SetOverwriteMode(omPrompt);
    std::vector<std::string> asked;
    bool answer = false;
    ar.OnConfirmOverwrite = [&](TAKBaseArchiver*, const std::string& source, std::string& dest, bool& confirm) {
        asked.push_back(source + " -> " + dest);
        EXPECT_TRUE(confirm); // replacing is the default
        confirm = answer;
        if (answer) dest = "renamed.txt";
    };
    AddArchiveItem("a.txt", platform::FileAge(file));
    Search("a.txt", kFilesOnly, false);
    EXPECT_EQ(asked, std::vector<std::string>{file + " -> a.txt"});
    EXPECT_FALSE(List().ItemAt(0).Pending);

    answer = true;
    Search("a.txt", kFilesOnly, false);
    ASSERT_EQ(List().GetCount(), 1);
    int32_t index = -1;
    EXPECT_TRUE(List().FindName("RENAMED.TXT", index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(List().FindName("a.txt", index));
    EXPECT_EQ(List().ItemAt(0).PendingOperation, poUpdate);
    EXPECT_EQ(Val(List().ItemAt(0).Header.FileNameLength), 11);
}

TEST_F(AddSearch, ReplacingAnItemGatheredInThisBracketKeepsItAnAddition) {
    // Nothing of it is in the archive yet, so the commit must write it as new.
    ar.SearchAndAddFiles({"a.txt", base + "a.txt"}, kFilesOnly, false, {});
    ASSERT_EQ(Names(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(List().ItemAt(0).PendingOperation, poAdd);
}

TEST_F(AddSearch, EventsConfirmAndShapeEachItem) {
    std::vector<std::string> confirmed;
    ar.OnConfirmProcessFile = [&](TAKBaseArchiver* sender, const std::string& name, TAKProcessOperation op,
                                  bool& confirm) {
        EXPECT_EQ(op, poAdd);
        EXPECT_EQ(sender->WorkingBaseDir(), base);
        confirmed.push_back(name);
        confirm = name != base + "b.dat";
    };
    ar.OnStoreFile = [&](TAKBaseArchiver*, std::string& name, uint32_t& attr, std::string& comment,
                         const std::string& original) {
        EXPECT_EQ(original, base + name);
        if (name == "a.txt") {
            name = "/top/renamed.txt"; // a stored name never begins with "/"
            attr = faArchive | faReadOnly;
            comment = "note";
        }
    };
    Search("*.*", kFilesOnly, false);
    EXPECT_EQ(confirmed, (std::vector<std::string>{base + "a.txt", base + "b.dat"}));
    ASSERT_EQ(Names(), std::vector<std::string>{"top/renamed.txt"});
    const TDirItem& item = List().ItemAt(0);
    EXPECT_EQ(Val(item.Header.ExternalAttributes), faArchive | faReadOnly);
    EXPECT_EQ(item.ItemComment, "note");
    EXPECT_EQ(Val(item.Header.FileCommentLength), 4);
    EXPECT_EQ(Val(item.Header.FileNameLength), 15);
    EXPECT_EQ(ar.WorkingBaseDir(), "");
}

TEST_F(AddSearch, AFailingHandlerEndsTheSearchAndReleasesEverything) {
    // While the search runs it holds the process-wide lock; a failure in a
    // handler ends it, puts the working folder back and frees the lock.
    auto otherThreadCanLock = [] {
        std::atomic<bool> locked{false};
        std::thread t([&] {
            if (platform::ProcessLock().try_lock()) {
                locked = true;
                platform::ProcessLock().unlock();
            }
        });
        t.join();
        return locked.load();
    };
    int stored = 0;
    bool lockedDuringSearch = false;
    ar.OnStoreFile = [&](TAKBaseArchiver*, std::string&, uint32_t&, std::string&, const std::string&) {
        lockedDuringSearch = !otherThreadCanLock();
        if (++stored == 2) throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(Search("*.*", kFilesOnly, true), std::runtime_error);
    EXPECT_TRUE(lockedDuringSearch);
    EXPECT_EQ(ar.WorkingBaseDir(), "");
    EXPECT_TRUE(otherThreadCanLock());
    EXPECT_EQ(Names(), std::vector<std::string>{"a.txt"}); // what came before the failure stays
}

TEST_F(AddSearch, LinkedFoldersAreNotFollowed) {
    // A link back to an ancestor would make the search endless.
    fs::create_directory_symlink(base, base + "sub/loop");
    Search("*.txt", kFilesOnly, true);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "other/e.txt", "sub/a.txt", "sub/c.txt", "sub/deep/a.txt",
                                                 "sub/deep/d.txt"}));
    List().Clear();
    Search("*.*", kFilesAndFolders, true);
    int32_t index = -1;
    EXPECT_FALSE(List().FindName("sub/loop/", index));
}

TEST_F(AddSearch, EmptyBaseDirMeansTheCurrentFolder) {
    const std::string previous = platform::GetCurrentDir();
    ASSERT_EQ(::chdir((base + "sub").c_str()), 0);
    ar.SetBaseDir("");
    Search("*.txt", kFilesOnly, false);
    ASSERT_EQ(::chdir(previous.c_str()), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "c.txt"}));
}

TEST_F(AddSearch, StorePathModesGiveRelativeNames) {
    const std::string top = base.substr(1); // the base folder without its leading "/"
    struct Case {
        std::string file;
        TAKStorePathMode mode;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {base + "sub/a.txt", spNoPath, "a.txt"},
        {base + "sub/a.txt", spRelativePath, "sub/a.txt"},
        {base + "sub/a.txt", spFullPath, top + "sub/a.txt"},
        {base + "sub/a.txt", spFullPathWithDrive, top + "sub/a.txt"},
        // Outside the base folder the whole path is kept, without the root.
        {tmp.File("outside/x.txt"), spRelativePath, tmp.File("outside/x.txt").substr(1)},
        {"sub/deep/d.txt", spRelativePath, "sub/deep/d.txt"},           // relative to the base folder
        {base + "sub/../other/./e.txt", spRelativePath, "other/e.txt"}, // one spelling per file
        {base + "sub/", spRelativePath, "sub"},                         // folders get their "/" when added
        {base + "notes.", spNoPath, "notes."},                          // a trailing dot is part of the name
        {"/", spFullPath, ""},
        {"/", spFullPathWithDrive, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " mode " + std::to_string(c.mode));
        const std::string name = ar.GetStoredName(c.file, base, c.mode, base);
        EXPECT_EQ(name, c.expected);
        EXPECT_FALSE(!name.empty() && name[0] == '/');
        const std::string path = platform::ExpandFileName(c.file[0] == '/' ? c.file : base + c.file);
        EXPECT_LE(name.size(), path.size());
    }
}

TEST_F(AddSearch, StoredNamesInTheSearchFollowStorePath) {
    for (const TAKStorePathMode mode : {spNoPath, spRelativePath, spFullPath, spFullPathWithDrive}) {
        SCOPED_TRACE(std::to_string(mode));
        List().Clear();
        ar.Options().SetStorePath(mode);
        Search("sub/*.txt", kFilesOnly, false);
        const std::string folder = mode == spNoPath ? "" : mode == spRelativePath ? "sub/" : base.substr(1) + "sub/";
        EXPECT_EQ(Names(), (std::vector<std::string>{folder + "a.txt", folder + "c.txt"}));
    }
}

TEST(AddSearchPaths, ResolvePathAndResolveMask) {
    TempFolder tmp;
    const std::string cwd = platform::IncludeTrailingPathDelimiter(platform::GetCurrentDir());
    const std::string dir = tmp.File("d");
    fs::create_directory(dir);
    EXPECT_EQ(TAKBaseArchiver::ResolvePath("", "", ""), cwd);
    EXPECT_EQ(TAKBaseArchiver::ResolvePath("", "x.txt", ""), cwd + "x.txt");
    EXPECT_EQ(TAKBaseArchiver::ResolvePath(dir, "x/../y.txt", ""), dir + "/y.txt");
    EXPECT_EQ(TAKBaseArchiver::ResolvePath(dir, "/a/./b/../c", ""), "/a/c");
    EXPECT_EQ(TAKBaseArchiver::ResolvePath("", "", dir), dir + "/");
    EXPECT_EQ(TAKBaseArchiver::ResolvePath(dir + "/e/..", "", ""), dir);
    EXPECT_EQ(TAKBaseArchiver::ResolvePath("no-such-folder", "", dir), "no-such-folder");

    TArkiva ar;
    struct Case {
        std::string mask;
        std::string full;
        bool relative;
    };
    const std::vector<Case> cases = {
        {"", "", false},
        {"/abs/*.txt", "/abs/*.txt", false},
        {"./x/*.txt", dir + "/x/*.txt", false},
        {"../x/*.txt", "../x/*.txt", false},
        {"x/*.txt", dir + "/x/*.txt", true},
        {"*.txt", dir + "/*.txt", true},
    };
    for (const Case& c : cases) {
        bool relative = !c.relative;
        EXPECT_EQ(ar.ResolveMask(c.mask, dir, relative), c.full) << c.mask;
        EXPECT_EQ(relative, c.relative) << c.mask;
    }
}

} // namespace
