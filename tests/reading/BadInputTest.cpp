// Damaged, crafted and hostile archives: each ends in the archiver's own
// error for that item, writes nothing it should not, and leaves existing
// files as they were.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "archiver/Arkiva.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "tests/reading/CraftedZip.h"
#include "tests/reading/ReadingSupport.h"

namespace {

bool LockIsFree() {
    bool free = false;
    std::thread t([&] {
        free = platform::ProcessLock().try_lock();
        if (free) platform::ProcessLock().unlock();
    });
    t.join();
    return free;
}

// Offset of the central header of the first entry.
int64_t CentralOffset(const std::string& archive) { return FindBytes(archive, "PK\x01\x02"); }

// A flipped data byte fails the item with code 8; the target that existed
// before stays exactly as it was unless ExtractCorruptedFiles keeps the
// damaged file, dated and with its attributes.
TEST(BadInput, FlippedDataByte) {
    const std::string data = RandomBytes(50'000, 21);
    for (int method : {0, 8}) {
        TempFolder tmp;
        const std::string archive = tmp.File("a.zip");
        WriteCraftedZip(archive, {{"data.bin", data, method}, {"next.txt", "fine", 0}});
        FlipByte(archive, 30 + 8 + 2'000);
        for (bool keep : {false, true}) {
            SCOPED_TRACE("method " + std::to_string(method) + (keep ? ", kept" : ""));
            const std::string dest = tmp.File(keep ? "kept/" : "out/");
            Shell("mkdir -p " + ShellQuote(dest));
            WriteFile(dest + "data.bin", "the old content");
            const TEventLog log = ExtractLogged(archive, dest, keep);

            EXPECT_EQ(ReadFile(dest + "next.txt"), "fine");
            ExpectNoTemporaries(dest);
            if (!keep) {
                EXPECT_EQ(log.Natives(), std::vector<int32_t>{8});
                EXPECT_EQ(ReadFile(dest + "data.bin"), "the old content");
            } else {
                EXPECT_TRUE(log.Natives().empty());
                const std::string got = ReadFile(dest + "data.bin");
                EXPECT_NE(got, "the old content");
                EXPECT_NE(got, data);
                EXPECT_EQ(platform::FileAge(dest + "data.bin"), TCraftedEntry{}.Date << 16 | TCraftedEntry{}.Time);
            }
        }
    }
}

// A deflated item that declares 1000 bytes but inflates to 64 MiB: decoding
// stops at the declared size.
TEST(BadInput, ZipBombIsCapped) {
    TempFolder tmp;
    const std::string archive = tmp.File("bomb.zip");
    RunPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('bomb.bin', bytes(64 << 20))
    z.writestr('after.txt', 'still here')
)",
              {archive});
    // The sizes in the local header (offset 22) and the central header
    // (offset 24) claim 1000 bytes.
    PatchBytes(archive, 22, Le32(1000));
    PatchBytes(archive, CentralOffset(archive) + 24, Le32(1000));
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "refused");
        const std::string dest = tmp.File(keep ? "kept/" : "out/");
        const TEventLog log = ExtractLogged(archive, dest, keep);
        EXPECT_EQ(ReadFile(dest + "after.txt"), "still here");
        if (keep) {
            EXPECT_EQ(platform::FileSize(dest + "bomb.bin"), 1000);
        } else {
            EXPECT_EQ(log.Natives(), std::vector<int32_t>{8});
            EXPECT_FALSE(platform::PathExists(dest + "bomb.bin"));
        }
    }
}

// In a single file an item's data ends where the central directory begins,
// whatever its directory entry claims.
TEST(BadInput, DataStopsAtTheCentralDirectory) {
    TempFolder tmp;
    const std::string archive = tmp.File("long.zip");
    WriteCraftedZip(archive, {{"a.bin", RandomBytes(1000, 8)}, {"b.txt", "bee"}});
    const int64_t central = CentralOffset(archive);
    PatchBytes(archive, central + 20, Le32(0x7FFFFFF0)); // compressed size
    PatchBytes(archive, central + 24, Le32(0x7FFFFFF0)); // uncompressed size
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "refused");
        const std::string dest = tmp.File(keep ? "kept/" : "out/");
        const TEventLog log = ExtractLogged(archive, dest, keep);
        EXPECT_EQ(ReadFile(dest + "b.txt"), "bee");
        if (keep) {
            // Its own 1000 bytes, then b.txt's header and data.
            EXPECT_EQ(platform::FileSize(dest + "a.bin"), central - (30 + 5));
        } else {
            EXPECT_EQ(log.Natives(), std::vector<int32_t>{8});
        }
    }
}

// Names that would land outside the destination are refused with code 19,
// each naming the refused path; the others are written.
TEST(BadInput, NamesThatClimbOut) {
    TempFolder tmp;
    const std::string dest = tmp.File("d/out/");
    const std::string absolute = tmp.File("absolute-target");
    const std::string archive = tmp.File("evil.zip");
    WriteCraftedZip(archive, {{"../x", "1"},
                              {absolute, "2"},
                              {"a/../../x", "3"},
                              {"..\\x", "4"},
                              {"c:\\evil.txt", "5"},
                              {"sub/..", "6"},
                              {"ok.txt", "7"},
                              {"..hidden/notparent..", "8"}});
    const TEventLog log = ExtractLogged(archive, dest);

    ASSERT_EQ(log.Natives(), std::vector<int32_t>(6, 19));
    const std::vector<std::string> refused = {dest + "../x", absolute, dest + "a/../../x", dest + "../x",
                                              "c:/evil.txt", dest + "sub/.."};
    for (size_t i = 0; i < refused.size(); ++i)
        EXPECT_NE(log.Failures[i].Message.find("Cannot create file \"" + refused[i] + "\""), std::string::npos)
            << log.Failures[i].Message;
    EXPECT_EQ(ListTree(tmp.Path()), (std::vector<std::string>{"d/", "d/out/", "d/out/..hidden/",
                                                              "d/out/..hidden/notparent..", "d/out/ok.txt",
                                                              "evil.zip"}));
}

// A folder of the destination that is a symbolic link leading out of it is
// refused with code 20; one that stays inside is followed.
TEST(BadInput, SymlinkedFolderLeadingOut) {
    TempFolder tmp;
    const std::string dest = tmp.File("out/");
    Shell("mkdir -p " + ShellQuote(dest + "inner") + " " + ShellQuote(tmp.File("outside")));
    Shell("ln -s " + ShellQuote(tmp.File("outside")) + " " + ShellQuote(dest + "evil"));
    Shell("ln -s inner " + ShellQuote(dest + "good"));
    const std::string archive = tmp.File("links.zip");
    WriteCraftedZip(archive, {{"evil/x.txt", "x"}, {"evil/deeper/y.txt", "y"}, {"good/z.txt", "z"}});
    const TEventLog log = ExtractLogged(archive, dest);

    EXPECT_EQ(log.Natives(), (std::vector<int32_t>{20, 20}));
    EXPECT_NE(log.Failures[0].Message.find("Cannot create directory \"" + dest + "evil\""), std::string::npos)
        << log.Failures[0].Message;
    EXPECT_TRUE(ListTree(tmp.File("outside")).empty());
    EXPECT_EQ(ReadFile(dest + "inner/z.txt"), "z");
}

// A wrong password is corrected through OnPassword; the new one stays in
// Password and serves the next item. Skipping leaves no file and no failure.
TEST(BadInput, WrongPasswordThenRight) {
    TempFolder tmp;
    const std::string archive = tmp.File("enc.zip");
    TCraftedEntry one{"one.txt", RandomBytes(3000, 1), 8, "right", {"wrong", "other"}};
    TCraftedEntry two{"two.txt", "second", 0, "right", {"wrong", "other"}};
    TCraftedEntry empty{"empty.txt", "", 0, "right", {"wrong", "other"}};
    WriteCraftedZip(archive, {one, two, empty});

    {
        TArkiva ark;
        ark.SetPassword("wrong");
        TEventLog log;
        log.Attach(ark);
        std::vector<std::string> asked;
        ark.OnPassword = [&](TAKBaseArchiver*, const std::string& name, std::string& password, bool& skip) {
            asked.push_back(name + ":" + password);
            password = "right";
            skip = false;
        };
        ExtractAll(ark, archive, tmp.File("out/"));
        EXPECT_TRUE(log.Natives().empty());
        EXPECT_EQ(asked, std::vector<std::string>{"one.txt:wrong"});
        EXPECT_EQ(ark.Password(), "right");
        EXPECT_EQ(ReadFile(tmp.File("out/one.txt")), one.Data);
        EXPECT_EQ(ReadFile(tmp.File("out/two.txt")), "second");
        EXPECT_EQ(ReadFile(tmp.File("out/empty.txt")), "");
    }
    {
        TArkiva ark;
        ark.SetPassword("other");
        TEventLog log;
        log.Attach(ark);
        int asked = 0;
        ark.OnPassword = [&](TAKBaseArchiver*, const std::string&, std::string&, bool& skip) {
            ++asked;
            skip = true;
        };
        ExtractAll(ark, archive, tmp.File("skipped/"));
        EXPECT_EQ(asked, 3);
        EXPECT_TRUE(log.Natives().empty());
        EXPECT_EQ(ark.ProcessedCount, 3);
        EXPECT_TRUE(ListTree(tmp.File("skipped/")).empty());
    }
}

// A missing middle volume: the default answer to code 45 aborts, and the
// caller of ExtractFiles gets the error once the loop has cleaned up.
TEST(BadInput, MissingMiddleVolumeReachesTheCaller) {
    TempFolder tmp;
    WriteFile(tmp.File("big.bin"), RandomBytes(400'000, 9));
    Shell("cd " + ShellQuote(tmp.Path()) + " && zip -q -0 -s 100k set.zip big.bin && rm set.z02");
    TArkiva ark;
    std::vector<TAKProgressPhase> overall;
    ark.OnOverallProgress = [&](TAKBaseArchiver*, double, TAKProcessOperation, TAKProgressPhase phase, bool&) {
        overall.push_back(phase);
        EXPECT_FALSE(LockIsFree());
    };
    int32_t native = 0;
    try {
        ExtractAll(ark, tmp.File("set.zip"), tmp.File("out/"));
    } catch (const EAKException& e) {
        native = e.NativeError();
    }
    EXPECT_EQ(native, 45);
    ASSERT_FALSE(overall.empty());
    EXPECT_EQ(overall.front(), ppStart);
    EXPECT_EQ(overall.back(), ppEnd);
    EXPECT_TRUE(LockIsFree());
    EXPECT_FALSE(platform::PathExists(tmp.File("out/big.bin")));
    ExpectNoTemporaries(tmp.File("out/"));
}

// Methods: 9 is refused with code 55, 6 with version needed 10 fails with
// code 8, and an unknown method read as the block format fails cleanly.
TEST(BadInput, UnsupportedMethods) {
    struct Case {
        uint16_t Method;
        uint16_t Version;
        int32_t Native;
    };
    TempFolder base;
    WriteCraftedZip(base.File("m.zip"), {{"item.bin", RandomBytes(70'000, 4), 8}, {"ok.txt", "ok"}});
    const std::string original = ReadFile(base.File("m.zip"));
    for (const Case& c : {Case{9, 21, 55}, Case{6, 10, 8}, Case{12, 46, 8}, Case{99, 51, 8}}) {
        SCOPED_TRACE("method " + std::to_string(c.Method));
        TempFolder tmp;
        const std::string archive = tmp.File("m.zip");
        WriteFile(archive, original);
        const int64_t central = CentralOffset(archive);
        PatchBytes(archive, 4, Le16(c.Version));
        PatchBytes(archive, 8, Le16(c.Method));
        PatchBytes(archive, central + 6, Le16(c.Version));
        PatchBytes(archive, central + 10, Le16(c.Method));
        TArkiva ark;
        TEventLog log;
        log.Attach(ark);
        int asked = 0;
        ark.OnPassword = [&](TAKBaseArchiver*, const std::string&, std::string&, bool& skip) {
            ++asked;
            skip = false;
        };
        ExtractAll(ark, archive, tmp.File("out/"));
        EXPECT_EQ(log.Natives(), std::vector<int32_t>{c.Native});
        EXPECT_LE(asked, 1);
        EXPECT_EQ(ListTree(tmp.File("out/")), std::vector<std::string>{"ok.txt"});
    }
}

// An item in the block format comes back whole from its zlib blocks, the
// last one short; when one block's check value is damaged, the item fails
// with code 8 and nothing of it is left.
TEST(BadInput, BlockFormatDecodesAndADamagedBlockFails) {
    const std::string data = RandomBytes(200'000, 31);
    TCraftedEntry blocks("blocks.bin", data, 97);
    blocks.BlockSize = 70'000;
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "intact");
        TempFolder tmp;
        const std::string archive = tmp.File("b.zip");
        WriteCraftedZip(archive, {{"ok.txt", "ok"}, blocks});
        // The last block's Adler-32 ends the item's data, just before the directory.
        if (damaged) FlipByte(archive, CentralOffset(archive) - 2);
        const TEventLog log = ExtractLogged(archive, tmp.File("out/"));
        EXPECT_EQ(ReadFile(tmp.File("out/ok.txt")), "ok");
        if (damaged) {
            EXPECT_EQ(log.Natives(), std::vector<int32_t>{8});
            EXPECT_EQ(ListTree(tmp.File("out/")), std::vector<std::string>{"ok.txt"});
        } else {
            EXPECT_TRUE(log.Natives().empty());
            EXPECT_TRUE(ReadFile(tmp.File("out/blocks.bin")) == data);
        }
    }
}

// The bzip2 data of a real peer, read as the block format, fails with code 8.
TEST(BadInput, Bzip2FromPythonFailsCleanly) {
    TempFolder tmp;
    const std::string archive = tmp.File("bz.zip");
    RunPython(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_BZIP2) as z:
    z.writestr('text.txt', 'bzip2 ' * 5000)
)",
              {archive});
    TArkiva ark;
    TEventLog log;
    log.Attach(ark);
    ark.OnPassword = [&](TAKBaseArchiver*, const std::string&, std::string&, bool& skip) { skip = false; };
    ExtractAll(ark, archive, tmp.File("out/"));
    EXPECT_EQ(log.Natives(), std::vector<int32_t>{8});
    EXPECT_TRUE(ListTree(tmp.File("out/")).empty());
}

} // namespace
