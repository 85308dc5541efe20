// Selecting items and the extraction loop: masks, folders, overwrite modes,
// the failure answers, cancelling, and the events of an empty archive.
#include <gtest/gtest.h>
#include <unistd.h>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/reading/ReadingSupport.h"

namespace {

constexpr int32_t kItemStamp = (40 << 25) | (1 << 21) | (2 << 16) | (3 << 11) | (4 << 5) | 5; // 2020-01-02 03:04:10

// README (no dot), top.txt, the folder item dir/, dir/inner.txt and
// dir/sub/deep.dat, all dated 2020-01-02 03:04:10; big.bin (3 MiB, stored)
// only when asked for.
std::string MakeArchive(const TempFolder& tmp, bool withBig = false) {
    const std::string archive = tmp.File("tree.zip");
    RunPython(R"(
import sys, zipfile
t = (2020, 1, 2, 3, 4, 10)
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr(zipfile.ZipInfo('README', t), 'read me')
    i = zipfile.ZipInfo('top.txt', t)
    i.comment = b'the top'
    z.writestr(i, 'top level ' * 100, zipfile.ZIP_DEFLATED)
    d = zipfile.ZipInfo('dir/', t)
    d.external_attr = 0x10
    z.writestr(d, '')
    z.writestr(zipfile.ZipInfo('dir/inner.txt', t), 'inner')
    z.writestr(zipfile.ZipInfo('dir/sub/deep.dat', t), 'deep')
    if sys.argv[2] == '1':
        z.writestr(zipfile.ZipInfo('big.bin', t), bytes(range(256)) * (3 << 12), zipfile.ZIP_STORED)
        z.writestr(zipfile.ZipInfo('after.txt', t), 'after')
)",
              {archive, withBig ? "1" : "0"});
    return archive;
}

TEST(Selection, MasksRecurseAndCreateDirs) {
    TempFolder tmp;
    const std::string archive = MakeArchive(tmp);
    struct Case {
        std::string Mask;
        bool Recurse;
        bool CreateDirs;
        std::vector<std::string> Tree;
    };
    const std::vector<Case> cases = {
        {"*.*", true, true, {"README", "dir/", "dir/inner.txt", "dir/sub/", "dir/sub/deep.dat", "top.txt"}},
        {"*.*", false, true, {"README", "dir/", "top.txt"}},
        {"*.*", true, false, {"README", "deep.dat", "inner.txt", "top.txt"}},
        {"*.txt", true, true, {"dir/", "dir/inner.txt", "top.txt"}},
        {"dir/sub/*", true, true, {"dir/", "dir/sub/", "dir/sub/deep.dat"}},
        {"DIR\\INNER.TXT", true, true, {"dir/", "dir/inner.txt"}},
        {"dir/*.*", false, true, {"dir/", "dir/inner.txt"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Mask + (c.Recurse ? "" : " no recurse") + (c.CreateDirs ? "" : " flat"));
        const std::string dest = tmp.File("out" + std::to_string(n++) + "/");
        Shell("mkdir -p " + ShellQuote(dest)); // without CreateDirs no folder is made, not even this one
        TArkiva ark;
        ark.Options().SetRecurse(c.Recurse);
        ark.Options().SetCreateDirs(c.CreateDirs);
        ExtractAll(ark, archive, dest, c.Mask);
        EXPECT_EQ(ListTree(dest), c.Tree);
    }
}

TEST(Selection, FindFirstFillsTheRecord) {
    TempFolder tmp;
    TArkiva ark;
    ark.SetFileName(MakeArchive(tmp));
    ark.OpenArchive();
    TAKArchiveItem rec;
    ASSERT_TRUE(ark.FindFirst("*.txt", rec, "", 10431));
    EXPECT_EQ(rec.ItemName, "top.txt");
    EXPECT_EQ(rec.StoredFolder, "");
    EXPECT_EQ(rec.UncompressedSize, 1000);
    EXPECT_GT(rec.SavedPercent, 90.0);
    EXPECT_EQ(rec.FileComment, "the top");
    EXPECT_EQ(static_cast<int32_t>(rec.LastModDate << 16 | rec.LastModTime), kItemStamp);
    ASSERT_TRUE(ark.FindNext(rec));
    EXPECT_EQ(rec.ItemName, "inner.txt");
    EXPECT_EQ(rec.StoredFolder, "dir/");
    EXPECT_FALSE(ark.FindNext(rec));
    // The exclusion mask leaves out what it matches; the attribute filter
    // drops folders it lacks.
    ASSERT_TRUE(ark.FindFirst("*.*", rec, "*.txt", 10431));
    EXPECT_EQ(rec.ItemName, "README");
    ASSERT_TRUE(ark.FindNext(rec));
    EXPECT_EQ(rec.ItemName, "dir");
    ASSERT_TRUE(ark.FindFirst("d*", rec, "", 0));
    EXPECT_EQ(rec.ItemName, "inner.txt"); // "d*" also matches the whole name "dir/inner.txt"
    ark.CloseArchive();
}

// What happens to an existing top.txt ("old", dated `age` relative to the
// item) under each overwrite setting.
TEST(Overwrite, ModesAndPrompt) {
    struct Case {
        std::string Label;
        TAKOverwriteMode Mode;
        int32_t Age;          // the target's stamp minus the item's, in DOS units
        bool ReadOnly;
        bool ReplaceReadOnly;
        int Answer;           // -1 no handler; 0/1 the prompt's Confirm
        bool Replaced;
    };
    const std::vector<Case> cases = {
        {"always", omAlways, 0, false, true, -1, true},
        {"never", omNever, -100, false, true, -1, false},
        {"if newer, same stamp", omIfNewer, 0, false, true, -1, false},
        {"if newer, older target", omIfNewer, -(1 << 16), false, true, -1, true},
        {"if newer, newer target", omIfNewer, 1 << 16, false, true, -1, false},
        {"if older, newer target", omIfOlder, 1 << 16, false, true, -1, true},
        {"prompt declined", omPrompt, 0, false, true, 0, false},
        {"prompt confirmed", omPrompt, 0, false, true, 1, true},
        {"read-only kept", omAlways, 0, true, false, -1, false},
        {"read-only replaced", omAlways, 0, true, true, -1, true},
    };
    TempFolder tmp;
    const std::string archive = MakeArchive(tmp);
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::string dest = tmp.File("out" + std::to_string(n++) + "/");
        Shell("mkdir -p " + ShellQuote(dest));
        WriteFile(dest + "top.txt", "old");
        ASSERT_TRUE(platform::FileSetDate(dest + "top.txt", kItemStamp + c.Age));
        if (c.ReadOnly) {
            ASSERT_TRUE(platform::FileSetAttr(dest + "top.txt", faReadOnly));
        }

        TArkiva ark;
        ark.Options().SetOverwriteMode(c.Mode);
        ark.Options().SetReplaceReadOnly(c.ReplaceReadOnly);
        std::vector<std::string> prompts;
        if (c.Answer >= 0) {
            ark.OnConfirmOverwrite = [&](TAKBaseArchiver*, const std::string& source, std::string& target,
                                         bool& confirm) {
                prompts.push_back(source + " -> " + target);
                confirm = c.Answer == 1;
            };
        }
        TEventLog log;
        log.Attach(ark);
        ExtractAll(ark, archive, dest);
        EXPECT_TRUE(log.Natives().empty());
        EXPECT_EQ(ark.ProcessedCount, 5); // a skipped item counts as processed
        EXPECT_EQ(ReadFile(dest + "top.txt") != "old", c.Replaced);
        if (c.Answer >= 0) {
            EXPECT_EQ(prompts, std::vector<std::string>{"top.txt -> " + dest + "top.txt"});
        }
        if (c.Replaced) {
            EXPECT_EQ(platform::FileAge(dest + "top.txt"), kItemStamp);
        }
    }
}

// A file named "dir" blocks the folder of three items (code 20). Ignoring
// goes on without counting them; retrying after removing it succeeds.
TEST(FailureAnswers, IgnoreAndRetry) {
    TempFolder tmp;
    const std::string archive = MakeArchive(tmp);
    for (TAKAction answer : {fxaIgnore, fxaRetry}) {
        SCOPED_TRACE(answer == fxaIgnore ? "ignore" : "retry");
        const std::string dest = tmp.File(answer == fxaIgnore ? "ignored/" : "retried/");
        Shell("mkdir -p " + ShellQuote(dest));
        WriteFile(dest + "dir", "in the way");
        TArkiva ark;
        std::vector<std::string> confirmed;
        ark.OnConfirmProcessFile = [&](TAKBaseArchiver*, const std::string& name, TAKProcessOperation op,
                                       bool& confirm) {
            EXPECT_EQ(op, poExtract);
            confirmed.push_back(name);
            confirm = true;
        };
        std::vector<int32_t> failures;
        ark.OnProcessFileFailure = [&](TAKBaseArchiver*, const std::string&, TAKProcessOperation, int32_t native,
                                       int32_t, const std::string&, TAKAction& action) {
            failures.push_back(native);
            action = answer;
            if (answer == fxaRetry) platform::DeleteFile(dest + "dir");
        };
        ExtractAll(ark, archive, dest);
        if (answer == fxaIgnore) {
            EXPECT_EQ(failures, (std::vector<int32_t>{20, 20, 20}));
            EXPECT_EQ(ark.ProcessedCount, 2);
            EXPECT_EQ(ListTree(dest), (std::vector<std::string>{"README", "dir", "top.txt"}));
        } else {
            EXPECT_EQ(failures, std::vector<int32_t>{20});
            EXPECT_EQ(ark.ProcessedCount, 5);
            EXPECT_EQ(confirmed,
                      (std::vector<std::string>{"README", "top.txt", "dir/", "dir/", "dir/inner.txt",
                                                "dir/sub/deep.dat"}));
            EXPECT_EQ(ReadFile(dest + "dir/sub/deep.dat"), "deep");
        }
        EXPECT_EQ(ark.SelectedCount, 5);
    }
}

// Cancelling from OnFileProgress in the middle of an item: that item's file
// goes (an existing target stays as it was), the loop ends, the final
// overall ppEnd is still raised, and nothing is thrown.
TEST(Cancel, FromFileProgress) {
    TempFolder tmp;
    const std::string archive = MakeArchive(tmp, true);
    const std::string dest = tmp.File("out/");
    Shell("mkdir -p " + ShellQuote(dest));
    WriteFile(dest + "big.bin", "old big");
    TArkiva ark;
    TEventLog log;
    log.Attach(ark);
    ark.OnFileProgress = [&](TAKBaseArchiver*, const std::string& name, double value, TAKProcessOperation,
                             TAKProgressPhase phase, bool& cancel) {
        log.Events.push_back({false, name, phase, value});
        if (name == "big.bin" && phase == ppProcess && value > 0) cancel = true;
    };
    ExtractAll(ark, archive, dest);
    EXPECT_TRUE(ark.Cancelled);
    EXPECT_TRUE(log.Natives().empty());
    EXPECT_EQ(ReadFile(dest + "big.bin"), "old big");
    EXPECT_FALSE(platform::PathExists(dest + "after.txt"));
    ASSERT_FALSE(log.Events.empty());
    EXPECT_TRUE(log.Events.back().Overall);
    EXPECT_EQ(log.Events.back().Phase, ppEnd);
    EXPECT_EQ(log.Events.back().Value, 100.0);
    ExpectNoTemporaries(dest);
}

TEST(Events, EmptyArchiveRaisesOnlyStartAndEnd) {
    TempFolder tmp;
    const std::string archive = tmp.File("empty.zip");
    RunPython("import sys, zipfile\nzipfile.ZipFile(sys.argv[1], 'w').close()\n", {archive});
    const TEventLog log = ExtractLogged(archive, tmp.File("out/"));
    ASSERT_EQ(log.Events.size(), 2u);
    EXPECT_TRUE(log.Events[0].Overall && log.Events[0].Phase == ppStart && log.Events[0].Value == 0.0);
    EXPECT_TRUE(log.Events[1].Overall && log.Events[1].Phase == ppEnd && log.Events[1].Value == 100.0);
}

// Progress of a stored item larger than one block: start, one event per
// 1 MiB block, end; the overall values climb to 100.
TEST(Events, BlockProgress) {
    TempFolder tmp;
    const std::string archive = MakeArchive(tmp, true);
    const TEventLog log = ExtractLogged(archive, tmp.File("out/"), false, "big.bin");
    std::vector<std::string> seen;
    for (const auto& e : log.Events)
        seen.push_back(std::string(e.Overall ? "overall " : "file ") + std::to_string(static_cast<int>(e.Phase)) +
                       " " + std::to_string(static_cast<int>(e.Value)));
    EXPECT_EQ(seen, (std::vector<std::string>{"overall 0 0", "file 0 0", "file 1 0", "overall 1 0", "file 1 33",
                                              "overall 1 33", "file 1 66", "overall 1 66", "file 2 100",
                                              "overall 2 100"}));
}

} // namespace

// Without a base folder the items land in the current folder, not in "/".
TEST(ExtractLoop, EmptyBaseDirMeansTheCurrentFolder) {
    TempFolder tmp;
    platform::ForceDirectories(tmp.File("src"));
    WriteFile(tmp.File("src/one.txt"), "one");
    Shell("cd " + ShellQuote(tmp.File("src")) + " && zip -q ../a.zip one.txt");
    platform::ForceDirectories(tmp.File("here"));
    const std::string saved = platform::GetCurrentDir();
    ASSERT_EQ(chdir(tmp.File("here").c_str()), 0);
    {
        TArkiva a;
        a.SetFileName(tmp.File("a.zip"));
        a.OpenArchive(64);
        a.ExtractFiles("*.*", 10431, "");
    }
    ASSERT_EQ(chdir(saved.c_str()), 0);
    EXPECT_EQ(ReadFile(tmp.File("here/one.txt")), "one");
    EXPECT_FALSE(platform::PathExists("/one.txt"));
}
