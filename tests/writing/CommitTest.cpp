// Committing updates in place: appending, replacing, the answers to an
// item's failure, cancelling and rolling back, archives of other tools, and
// the sizes that need (or may not have) ZIP64 form.
#include <stdlib.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "container/DirManager.h"
#include "platform/System.h"
#include "tests/writing/WritingSupport.h"

using namespace writing_test;

namespace {

struct Fixture {
    TempFolder dir;
    std::string archive = dir.File("a.zip");

    // Files f0.txt ... f<n-1>.txt with distinct contents.
    std::vector<std::string> MakeFiles(int n, size_t size, const std::string& prefix = "f") {
        std::vector<std::string> files;
        for (int i = 0; i < n; ++i) {
            files.push_back(dir.File(prefix + std::to_string(i) + ".txt"));
            WriteFile(files.back(), TextBytes(size, 100 + static_cast<uint32_t>(i)));
        }
        return files;
    }
    void Create(const std::vector<std::string>& files, int mode = 6) {
        auto a = NewArchiver(archive, mode);
        a->OpenArchive(fmCreate);
        AddInOrder(*a, files);
        a->CloseArchive();
    }
    std::vector<std::pair<std::string, std::string>> Members(const std::vector<std::string>& files) const {
        std::vector<std::pair<std::string, std::string>> m;
        for (const std::string& f : files) m.emplace_back(std::filesystem::path(f).filename().string(), f);
        return m;
    }
    // Rewrites file with new contents and replaces its item in the archive.
    void ReplaceInPlace(const std::string& file, const std::string& contents, int mode = 6) {
        WriteFile(file, contents);
        auto a = NewArchiver(archive, mode);
        a->Options().SetOverwriteMode(omAlways);
        a->OpenArchive();
        a->AddFiles(file, 10431, "");
        a->CloseArchive();
    }
    void ExpectPeersAgree(const std::vector<std::string>& files) const {
        std::string out;
        EXPECT_TRUE(UnzipTests(archive, "", &out)) << out;
        EXPECT_TRUE(PythonMatches(archive, Members(files), "", &out)) << out;
    }
};

struct FailureLog {
    std::vector<int32_t> Natives;
    std::vector<std::string> Names;
    void Attach(TAKBaseArchiver& a, std::function<TAKAction(int)> answer) {
        a.OnProcessFileFailure = [this, answer](TAKBaseArchiver*, const std::string& name, TAKProcessOperation,
                                                int32_t native, int32_t, const std::string&, TAKAction& action) {
            Natives.push_back(native);
            Names.push_back(name);
            action = answer(static_cast<int>(Natives.size()));
        };
    }
};

TEST(Commit, AppendLeavesTheOldItemsUntouched) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(4, 50000);
    f.Create({files[0], files[1], files[2]});
    const std::string before = ReadFile(f.archive);
    const ArchiveRecords old = ReadRecords(f.archive);

    auto a = NewArchiver(f.archive, 6);
    a->OpenArchive();
    a->AddFiles(files[3], 10431, "");
    EXPECT_FALSE(a->CommitState().TailFile); // appending needs no copy of the tail
    a->CloseArchive();

    const std::string after = ReadFile(f.archive);
    ASSERT_GT(after.size(), +old.End.DirectoryOffset);
    EXPECT_EQ(after.substr(0, old.End.DirectoryOffset), before.substr(0, old.End.DirectoryOffset));
    const ArchiveRecords r = ReadRecords(f.archive);
    ASSERT_EQ(r.Entries.size(), 4u);
    EXPECT_EQ(+r.Entries[3].Header.LocalHeaderOffset, +old.End.DirectoryOffset);
    f.ExpectPeersAgree(files);
}

TEST(Commit, ReplacingTheFirstOfTenCopiesTheOthers) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(10, 30000);
    f.Create(files);
    const std::string before = ReadFile(f.archive);
    const ArchiveRecords old = ReadRecords(f.archive);

    WriteFile(files[0], TextBytes(45000, 999));
    auto a = NewArchiver(f.archive, 9);
    a->Options().SetOverwriteMode(omAlways);
    a->OpenArchive();
    a->AddFiles(files[0], 10431, "");
    EXPECT_EQ(a->SelectedCount, 1);
    EXPECT_EQ(a->ProcessedCount, 1);
    a->CloseArchive();

    f.ExpectPeersAgree(files);
    // Items 1..9 are their old bytes at new offsets.
    const std::string after = ReadFile(f.archive);
    const ArchiveRecords r = ReadRecords(f.archive);
    ASSERT_EQ(r.Entries.size(), 10u);
    for (size_t i = 1; i < 10; ++i) {
        const auto& o = old.Entries[i].Header;
        const size_t length = 30 + o.FileNameLength + o.CompressedSize;
        EXPECT_EQ(after.substr(r.Entries[i].Header.LocalHeaderOffset, length),
                  before.substr(o.LocalHeaderOffset, length))
            << i;
    }
}

// Cancelling (in the commit's first event, or in the data of an item) and
// aborting after an item's failure all put back the archive's bytes.
TEST(Commit, RollBackRestoresTheOldBytes) {
    enum How { CancelAtStart, CancelReplacement, CancelSecondOfThree, AbortShrunkSource };
    for (How how : {CancelAtStart, CancelReplacement, CancelSecondOfThree, AbortShrunkSource}) {
        SCOPED_TRACE(how);
        Fixture f;
        const std::vector<std::string> files = f.MakeFiles(10, 20000);
        f.Create(files);
        const std::string before = ReadFile(f.archive);
        const std::vector<std::string> added = f.MakeFiles(3, 3000000, "new");
        const std::string temp = f.dir.File("temp/");
        std::filesystem::create_directories(temp);

        auto a = NewArchiver(f.archive, how == AbortShrunkSource ? 0 : 1);
        a->SetTempDir(temp);
        a->Options().SetOverwriteMode(omAlways);
        int blocks = 0;
        a->OnOverallProgress = [&](TAKBaseArchiver*, double, TAKProcessOperation, TAKProgressPhase phase,
                                   bool& cancel) { cancel = how == CancelAtStart && phase == ppStart; };
        a->OnFileProgress = [&](TAKBaseArchiver*, const std::string& name, double, TAKProcessOperation,
                                TAKProgressPhase phase, bool& cancel) {
            if (phase != ppProcess) return;
            if (how == CancelReplacement) cancel = ++blocks == 1;
            if (how == CancelSecondOfThree) cancel = name == added[1] && ++blocks == 2;
            if (how == AbortShrunkSource && name == added[1] && ++blocks == 2)
                std::filesystem::resize_file(name, 1500000);
        };
        FailureLog failures;
        failures.Attach(*a, [](int) { return fxaAbort; });
        a->OpenArchive();
        bool raised = false;
        try {
            if (how == CancelReplacement) {
                WriteFile(files[0], TextBytes(40000, 5));
                a->AddFiles(files[0], 10431, "");
            } else {
                AddInOrder(*a, added);
            }
        } catch (const EAKException& e) {
            raised = true;
            EXPECT_EQ(e.NativeError(), 34);
        }
        EXPECT_EQ(raised, how == AbortShrunkSource);
        EXPECT_EQ(failures.Natives, how == AbortShrunkSource ? std::vector<int32_t>{34} : std::vector<int32_t>{});
        EXPECT_EQ(a->DirManager()->CurrentList.GetCount(), 10);
        a->CloseArchive();
        EXPECT_EQ(ReadFile(f.archive), before);
        EXPECT_TRUE(FolderEntries(temp).empty());
    }
}

TEST(Commit, DeflatedSourceThatShrinksIsACompressionError) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(1, 20000);
    f.Create(files);
    const std::string before = ReadFile(f.archive);
    const std::string big = f.MakeFiles(1, 3000000, "big")[0];
    auto a = NewArchiver(f.archive, 6);
    a->OnFileProgress = [&](TAKBaseArchiver*, const std::string&, double progress, TAKProcessOperation,
                            TAKProgressPhase phase, bool&) {
        if (phase == ppProcess && progress > 0) std::filesystem::resize_file(big, 1500000);
    };
    FailureLog failures;
    failures.Attach(*a, [](int) { return fxaIgnore; });
    a->OpenArchive();
    EXPECT_THROW(a->AddFiles(big, 10431, ""), ECompressionError);
    EXPECT_TRUE(failures.Natives.empty()); // not an item failure: the commit rolls back
    a->CloseArchive();
    EXPECT_EQ(ReadFile(f.archive), before);
}

// An item to copy that the old directory does not know (code 7).
TEST(Commit, UnknownItemToCopyRollsBackAndIsReported) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(3, 20000);
    f.Create(files);
    const std::string before = ReadFile(f.archive);
    auto a = NewArchiver(f.archive, 6);
    a->OpenArchive();
    a->BeginUpdate();
    a->DirManager()->CurrentList.RenameItem(1, "renamed.txt");
    try {
        a->EndUpdate();
        ADD_FAILURE() << "the unknown item was not reported";
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), 7);
    }
    EXPECT_EQ(a->DirManager()->CurrentList.ItemAt(1).StoredName, "f1.txt");
    a->CloseArchive();
    EXPECT_EQ(ReadFile(f.archive), before);
}

TEST(Commit, InMemoryArchiveIsCommittedInPlace) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(2, 300000);
    auto a = NewArchiver("", 6);
    a->Options().SetFlushBuffers(true); // a memory stream has nothing to flush
    a->SetInMemory(true);
    a->OpenArchive();
    AddInOrder(*a, {files[0]});
    AddInOrder(*a, {files[1]});
    TStream& s = *a->ArchiveStream();
    std::string bytes(static_cast<size_t>(s.Size()), '\0');
    s.SetPosition(0);
    s.ReadBuffer(bytes.data(), s.Size());
    a->CloseArchive();
    WriteFile(f.archive, bytes);
    f.ExpectPeersAgree(files);
}

// A source that cannot be opened when the commit comes (code 33), answered
// in each way the failure event allows.
TEST(Commit, UnreadableSourceAnswers) {
    for (TAKAction answer : {fxaIgnore, fxaRetry, fxaAbort}) {
        SCOPED_TRACE(answer);
        Fixture f;
        const std::vector<std::string> old = f.MakeFiles(1, 10000, "old");
        f.Create(old);
        const std::string before = ReadFile(f.archive);
        const std::vector<std::string> files = f.MakeFiles(3, 40000);
        const std::string kept = ReadFile(files[1]);

        auto a = NewArchiver(f.archive, 6);
        FailureLog failures;
        failures.Attach(*a, [&](int n) {
            if (answer == fxaRetry) WriteFile(files[1], kept); // the file is back for the second try
            return n == 1 ? answer : fxaAbort;
        });
        a->OpenArchive();
        a->BeginUpdate();
        for (const std::string& file : files) a->AddFiles(file, 10431, "");
        std::filesystem::remove(files[1]);
        bool raised = false;
        try {
            a->EndUpdate();
        } catch (const EAKException& e) {
            raised = true;
            EXPECT_EQ(e.NativeError(), 33);
            EXPECT_NE(std::string(e.what()).find(files[1]), std::string::npos) << e.what();
        }
        a->CloseArchive();
        EXPECT_EQ(failures.Natives, std::vector<int32_t>{33});
        EXPECT_EQ(failures.Names, std::vector<std::string>{files[1]});
        EXPECT_EQ(raised, answer == fxaAbort);
        if (answer == fxaAbort) {
            EXPECT_EQ(ReadFile(f.archive), before);
        } else if (answer == fxaIgnore) {
            f.ExpectPeersAgree({old[0], files[0], files[2]});
        } else {
            f.ExpectPeersAgree({old[0], files[0], files[1], files[2]});
        }
    }
}

// Info-ZIP writes local extra fields (extended timestamps with the access
// time, Unix ids) longer than the central ones.
TEST(Commit, InfoZipArchiveUpdatedInPlaceStaysValid) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(3, 30000);
    std::string out;
    ASSERT_EQ(RunCommand("cd " + ShellQuote(f.dir.Path()) + " && zip -q a.zip f0.txt f1.txt f2.txt", &out), 0) << out;
    const ArchiveRecords original = ReadRecords(f.archive);
    ASSERT_EQ(original.Entries.size(), 3u);
    const TLocalFileHeader local = ReadLocalHeader(f.archive, original.Entries[1].Header.LocalHeaderOffset);
    ASSERT_NE(+local.ExtraFieldLength, +original.Entries[1].Header.ExtraFieldLength);

    f.ReplaceInPlace(files[0], TextBytes(25000, 77));
    f.ExpectPeersAgree(files);
    EXPECT_TRUE(RunCommand("7zz t " + ShellQuote(f.archive), &out) == 0) << out;
}

// Items written with data descriptors (flag bit 3) keep them when copied.
TEST(Commit, ItemsWithDataDescriptorsAreCopiedWhole) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(3, 30000);
    const std::string script =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED)\n"
        "for p in sys.argv[1:]: z.write(p, p.rsplit('/', 1)[1])\n"
        "z.close()\n";
    std::string out;
    ASSERT_EQ(RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(files[0]) + " " +
                             ShellQuote(files[1]) + " " + ShellQuote(files[2]) + " | cat > " + ShellQuote(f.archive),
                         &out),
              0)
        << out;
    ASSERT_EQ(ReadRecords(f.archive).Entries[1].Header.Flags & FlagDataDescriptor, FlagDataDescriptor);

    f.ReplaceInPlace(files[0], TextBytes(25000, 78));
    f.ExpectPeersAgree(files);
    EXPECT_TRUE(RunCommand("7zz t " + ShellQuote(f.archive), &out) == 0) << out;
    EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
}

// A directory need not list the items in the order in which they lie: an
// item listed before the replaced one may lie behind it, one listed after
// it in front of it. Neither may be lost or read from the wrong place.
TEST(Commit, DirectoryOrderUnlikeTheItemsOrderIsUpdatedWhole) {
    Fixture f;
    const std::vector<std::string> files = f.MakeFiles(3, 30000);
    // Python writes f0, f1, f2; the directory is then rewritten as f2, f1, f0.
    const std::string script =
        "import struct, sys, zipfile\n"
        "arc = sys.argv[1]\n"
        "with zipfile.ZipFile(arc, 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for p in sys.argv[2:]: z.write(p, p.rsplit('/', 1)[1])\n"
        "d = open(arc, 'rb').read()\n"
        "e = d.rfind(b'PK\\x05\\x06')\n"
        "size, off = struct.unpack('<II', d[e + 12:e + 20])\n"
        "entries, p = [], off\n"
        "while p < off + size:\n"
        "    n, m, k = struct.unpack('<HHH', d[p + 28:p + 34])\n"
        "    entries.append(d[p:p + 46 + n + m + k]); p += 46 + n + m + k\n"
        "open(arc, 'wb').write(d[:off] + b''.join(reversed(entries)) + d[e:])\n";
    // The last listed (lying first), the first listed (lying last), the middle one.
    for (int replaced : {0, 2, 1}) {
        SCOPED_TRACE(replaced);
        std::string out;
        ASSERT_EQ(RunCommand(Python() + " -c " + ShellQuote(script) + " " + ShellQuote(f.archive) + " " +
                                 ShellQuote(files[0]) + " " + ShellQuote(files[1]) + " " + ShellQuote(files[2]),
                             &out),
                  0)
            << out;
        ASSERT_EQ(ReadRecords(f.archive).Entries[0].Name, "f2.txt");
        f.ReplaceInPlace(files[replaced], TextBytes(20000, 500 + static_cast<uint32_t>(replaced)));
        EXPECT_TRUE(RunCommand("unzip -t " + ShellQuote(f.archive), &out) == 0) << out;
        EXPECT_TRUE(PythonMatches(f.archive, f.Members({files[2], files[1], files[0]}), "", &out)) << out;
    }
}

TEST(Commit, FourGiBSourceWithoutZip64IsRefusedBeforeWriting) {
    Fixture f;
    const std::string big = f.dir.File("big.bin");
    WriteFile(big, "");
    std::filesystem::resize_file(big, 0x100000000ull); // sparse
    auto a = NewArchiver(f.archive);
    ASSERT_EQ(a->Zip64Mode(), zmDisabled);
    FailureLog failures;
    int64_t sizeAtFailure = -1;
    a->OnProcessFileFailure = [&](TAKBaseArchiver* s, const std::string&, TAKProcessOperation, int32_t native,
                                  int32_t, const std::string&, TAKAction& action) {
        failures.Natives.push_back(native);
        sizeAtFailure = s->ArchiveStream()->Size();
        action = fxaIgnore;
    };
    a->OpenArchive(fmCreate);
    a->AddFiles(big, 10431, "");
    a->CloseArchive();
    EXPECT_EQ(failures.Natives, std::vector<int32_t>{43});
    EXPECT_EQ(sizeAtFailure, 0);
    EXPECT_EQ(FileSizeOf(f.archive), 22); // an empty archive: the item is not in it
}

TEST(Commit, FourGiBSourceInZip64Form) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "reads and writes 4 GiB; too slow under the sanitizers";
#endif
    if (!HaveTool("7zz")) GTEST_SKIP() << "7-Zip is not installed";
    // Memory-backed, so that writing and checking 4 GiB takes seconds.
    if (platform::DiskFreeBytes("/dev/shm") < (int64_t{9} << 29)) GTEST_SKIP() << "no room in /dev/shm";
    const TempFolder folder("/dev/shm/");
    const std::string big = folder.File("big.bin");
    const std::string archive = folder.File("a.zip");
    WriteFile(big, "");
    std::filesystem::resize_file(big, 0xFFFFFFFFull); // the smallest size in ZIP64 form; sparse

    auto a = NewArchiver(archive);
    a->SetZip64Mode(zmAuto);
    a->OpenArchive(fmCreate);
    a->AddFiles(big, 10431, "");
    a->CloseArchive();
    std::filesystem::remove(big);

    const ArchiveRecords r = ReadRecords(archive);
    ASSERT_EQ(r.Entries.size(), 1u);
    const TCentralHeaderImage& h = r.Entries[0].Header;
    EXPECT_EQ(+h.VersionNeeded, VersionZip64);
    EXPECT_EQ(+h.UncompressedSize, Zip64Marker32);
    EXPECT_EQ(+h.CompressedSize, Zip64Marker32);
    EXPECT_EQ(r.Entries[0].Extra.size(), 20u);
    const TLocalFileHeader l = ReadLocalHeader(archive, 0);
    EXPECT_EQ(+l.UncompressedSize, Zip64Marker32);
    EXPECT_EQ(+l.CompressedSize, Zip64Marker32);
    EXPECT_EQ(+l.ExtraFieldLength, 20);
    std::string out;
    EXPECT_EQ(RunCommand("7zz t " + ShellQuote(archive), &out), 0) << out;
    EXPECT_NE(out.find("Size:       4294967295"), std::string::npos) << out;
}

} // namespace
