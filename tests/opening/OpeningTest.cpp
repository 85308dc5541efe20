// Opening existing archives: the end record search, ZIP64 records, stubs,
// multi-volume sets and their names, damaged directories and their rebuild.
// Archives come from the peers (Info-ZIP zip, 7-Zip, Python's zipfile),
// whose listing Python's zipfile gives as the oracle, and from ZipSet for
// the damage a peer would never write.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "archiver/Arkiva.h"
#include "container/DirManager.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "tests/common/TestSupport.h"
#include "tests/opening/ZipBuilder.h"

namespace {

std::string Hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "x";
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

struct Entry {
    std::string Name;  // hex
    int64_t Compressed = 0;
    int64_t Uncompressed = 0;
    uint32_t Crc = 0;
    int64_t Offset = 0;
    std::string Comment;  // hex
    bool Encrypted = false;
    bool operator==(const Entry&) const = default;
};

struct Listing {
    std::string Comment;  // hex
    std::vector<Entry> Entries;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << e.Name << " c=" << e.Compressed << " u=" << e.Uncompressed << " crc=" << e.Crc << " at=" << e.Offset
              << " comment=" << e.Comment << (e.Encrypted ? " encrypted" : "");
}

// The system's interpreter starts far faster than a version manager's shim.
std::string Python() { return platform::FileExists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

// Python's zipfile is the oracle of what an archive holds.
Listing PythonListing(const std::string& archive) {
    TempFolder tmp;
    const std::string script = tmp.File("list.py");
    WriteFile(script,
              "import sys, zipfile\n"
              "z = zipfile.ZipFile(sys.argv[1])\n"
              "print('C', 'x' + z.comment.hex())\n"
              "for i in z.infolist():\n"
              "    print('E', 'x' + i.orig_filename.encode('utf-8').hex(), i.compress_size, i.file_size, i.CRC,\n"
              "          i.header_offset, 'x' + i.comment.hex(), i.flag_bits & 1)\n");
    std::string out;
    const int rc = RunCommand(Python() + " " + ShellQuote(script) + " " + ShellQuote(archive), &out);
    EXPECT_EQ(rc, 0) << out;
    Listing l;
    std::istringstream in(out);
    std::string kind;
    while (in >> kind) {
        if (kind == "C") {
            in >> l.Comment;
        } else {
            Entry e;
            int encrypted = 0;
            in >> e.Name >> e.Compressed >> e.Uncompressed >> e.Crc >> e.Offset >> e.Comment >> encrypted;
            e.Encrypted = encrypted != 0;
            l.Entries.push_back(e);
        }
    }
    return l;
}

Listing OurListing(TAKBaseArchiver& a) {
    Listing l;
    TAKDirManager& m = *a.DirManager();
    l.Comment = Hex(m.ArchiveComment);
    for (int32_t i = 0; i < m.CurrentList.GetCount(); ++i) {
        const TDirItem& it = m.CurrentList.ItemAt(i);
        Entry e;
        e.Name = Hex(it.StoredName);
        e.Compressed = ItemCompressedSize(it);
        e.Uncompressed = ItemUncompressedSize(it);
        e.Crc = it.Header.Crc32;
        e.Offset = ItemLocalHeaderOffset(it);
        e.Comment = Hex(it.ItemComment);
        e.Encrypted = (it.Header.Flags & FlagEncrypted) != 0;
        l.Entries.push_back(e);
    }
    return l;
}

void ExpectSameEntries(const Listing& ours, const Listing& theirs, bool offsets = true) {
    ASSERT_EQ(ours.Entries.size(), theirs.Entries.size());
    for (size_t i = 0; i < ours.Entries.size(); ++i) {
        Entry a = ours.Entries[i];
        Entry b = theirs.Entries[i];
        if (!offsets)
            a.Offset = b.Offset = 0;
        EXPECT_EQ(a, b) << "entry " << i;
    }
}

std::unique_ptr<TArkiva> OpenRead(const std::string& path) {
    auto a = std::make_unique<TArkiva>();
    a->SetName("zip");
    a->SetFileName(path);
    a->OpenArchive(fmOpenRead | fmShareDenyNone);
    return a;
}

// The archiver error that opening the file raises (0 when it opens).
int OpenCode(const std::string& path, std::string* message = nullptr) {
    try {
        OpenRead(path);
    } catch (const EAKException& e) {
        if (message)
            *message = e.what();
        return e.NativeError();
    }
    return 0;
}

// A field of a packed record, copied: gtest binds references to what it compares.
template <class T>
T Value(T v) {
    return v;
}

bool Rebuilt(TAKBaseArchiver& a) {
    return a.DirManager()->DirectoryOffset == a.ArchiveStream()->Size();
}

int Shell(const std::string& folder, const std::string& cmd) {
    std::string out;
    const int rc = RunCommand("cd " + ShellQuote(folder) + " && " + cmd, &out);
    EXPECT_EQ(rc, 0) << cmd << "\n" << out;
    return rc;
}

} // namespace

// ---------------------------------------------------------------------------
// Where the end record is, and what a file without a readable one gives.

TEST(OpeningEndRecord, PlacementAndDamage) {
    TempFolder tmp;
    const std::string data = "some data in the item";
    const std::string plain = ZipSet::Simple({{"a.txt", data}, {"b/c.txt", "x"}});
    const std::string comment300(300, 'k');

    // A comment that holds an end-record signature of its own.
    auto withFakeRecord = [&](uint16_t fakeCommentLength, size_t tail) {
        std::string fake(22, '\0');
        Put32(fake, 0, SigEndRecord);
        Put16(fake, 20, fakeCommentLength);
        return ZipSet::Simple({{"a.txt", data}, {"b/c.txt", "x"}}, "note:" + fake + std::string(tail, 't'));
    };

    struct Case {
        const char* What;
        std::string Bytes;
        bool Rebuilt;
        int Count;
        std::string Comment;
    };
    std::string truncated = plain;
    truncated.resize(truncated.size() - 5);
    std::string trailing = plain + "!";
    std::string claims65535 = plain;
    Put16(claims65535, EndAt(plain) + 8, 0xFFFF);
    Put16(claims65535, EndAt(plain) + 10, 0xFFFF);
    std::string claimsMany = plain;  // far more entries than 46-byte headers fit
    Put16(claimsMany, EndAt(plain) + 8, 65534);
    Put16(claimsMany, EndAt(plain) + 10, 65534);
    std::string sizeTooLarge = plain;
    Put32(sizeTooLarge, EndAt(plain) + 12, 0x7FFFFFFF);

    const std::string fakeMismatch = withFakeRecord(3, 0);
    const std::string fakeValid = withFakeRecord(0, 0);
    const Case cases[] = {
        {"300-byte comment", ZipSet::Simple({{"a.txt", data}, {"b/c.txt", "x"}}, comment300), false, 2, comment300},
        {"one byte after the end record", trailing, true, 2, ""},
        {"truncated end record", truncated, true, 2, ""},
        {"65,535 entries without ZIP64", claims65535, true, 2, ""},
        {"more entries than the directory holds", claimsMany, true, 2, ""},
        {"directory larger than the file", sizeTooLarge, true, 2, ""},
        // The record nearest to the end whose comment ends the file wins.
        {"later signature fails the comment rule", fakeMismatch, false, 2,
         fakeMismatch.substr(EndAt(plain) + 22)},
        {"later signature satisfies the comment rule", fakeValid, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const std::string path = tmp.File("case.zip");
        WriteFile(path, c.Bytes);
        auto a = OpenRead(path);
        EXPECT_EQ(Rebuilt(*a), c.Rebuilt);
        EXPECT_EQ(a->SpanningMode(), smNone);
        EXPECT_EQ(a->DirManager()->ArchiveComment, c.Comment);
        const TAKDirArray& list = a->DirManager()->CurrentList;
        ASSERT_EQ(list.GetCount(), c.Count);
        if (c.Count == 2) {
            EXPECT_EQ(list.ItemAt(0).StoredName, "a.txt");
            EXPECT_EQ(list.ItemAt(1).StoredName, "b/c.txt");
            EXPECT_EQ(ItemUncompressedSize(list.ItemAt(0)), static_cast<int64_t>(data.size()));
            EXPECT_EQ(ItemLocalHeaderOffset(list.ItemAt(1)), static_cast<int64_t>(30 + 5 + data.size()));
        }
    }
}

TEST(OpeningEndRecord, NothingToRebuildFrom) {
    TempFolder tmp;
    std::string endOnlyTruncated(12, '\0');
    Put32(endOnlyTruncated, 0, SigEndRecord);
    std::string headerAtTheVeryEnd = RandomBytes(500, 7) + std::string("PK\x03\x04", 4) + std::string(20, 'z');
    // Huge entry counts with nothing behind them: no list is sized for them.
    std::string endClaimingMany = ZipSet::Simple({});
    Put16(endClaimingMany, 8, 65534);
    Put16(endClaimingMany, 10, 65534);
    Put32(endClaimingMany, 12, 0xFFFFFFF0u);
    ZipSet z64;
    z64.AddDirectory(0);
    z64.End(0, "", true);
    std::string zip64ClaimingMany = z64.Volume(0);
    Put64(zip64ClaimingMany, 24, uint64_t{1} << 62);
    Put64(zip64ClaimingMany, 32, uint64_t{1} << 62);
    Put64(zip64ClaimingMany, 40, uint64_t{1} << 63);
    for (const std::string& bytes : {std::string(), endOnlyTruncated, RandomBytes(3000, 1), headerAtTheVeryEnd,
                                     endClaimingMany, zip64ClaimingMany}) {
        WriteFile(tmp.File("bad.zip"), bytes);
        std::string message;
        EXPECT_EQ(OpenCode(tmp.File("bad.zip"), &message), 35) << bytes.size();
        EXPECT_EQ(message, "zip: Invalid archive file. - Native error: 00035");
    }
}

// ---------------------------------------------------------------------------
// ZIP64 end records.

TEST(OpeningZip64, RecordsLocatorAndDamage) {
    TempFolder tmp;
    const std::string path = tmp.File("z64.zip");
    ZipSet z;
    z.AddItem("one", "1");
    z.AddItem("two", "22");
    z.AddDirectory(0);
    z.End(0, "", true);
    const std::string good = z.Volume(0);
    const size_t recordAt = good.size() - 22 - 20 - 56;

    WriteFile(path, good);
    {
        auto a = OpenRead(path);
        EXPECT_TRUE(a->DirManager()->IsZip64);
        EXPECT_EQ(Value(a->DirManager()->Zip64EndRecord.TotalEntries), 2u);
        ASSERT_EQ(a->DirManager()->CurrentList.GetCount(), 2);
        EXPECT_EQ(a->DirManager()->CurrentList.ItemAt(1).StoredName, "two");
        EXPECT_FALSE(Rebuilt(*a));
    }

    // An empty archive in ZIP64 form: its ZIP64 end record begins at offset 0.
    ZipSet empty;
    empty.AddDirectory(0);
    empty.End(0, "", true);
    WriteFile(path, empty.Volume(0));
    {
        auto a = OpenRead(path);
        EXPECT_TRUE(a->DirManager()->IsZip64);
        EXPECT_EQ(a->DirManager()->CurrentList.GetCount(), 0);
        EXPECT_EQ(a->DirManager()->StubSize, 0);
    }

    // A locator whose ZIP64 end record is not there.
    std::string noRecord = good;
    Put32(noRecord, recordAt, 0x12345678);
    WriteFile(path, noRecord);
    std::string message;
    EXPECT_EQ(OpenCode(path, &message), 40);
    EXPECT_EQ(message, "zip: Cannot find Zip64 directory end record - Native error: 00040");
    // A locator with nothing in front of it to hold a record.
    std::string tooShort(30, '\0');
    Put32(tooShort, 10, SigZip64Locator);
    std::string end(22, '\0');
    Put32(end, 0, SigEndRecord);
    WriteFile(path, tooShort + end);
    EXPECT_EQ(OpenCode(path), 40);

    // A count no file can hold is damage: rebuilt, nothing allocated for it.
    std::string huge = good;
    Put64(huge, recordAt + 32, uint64_t{1} << 40);
    Put64(huge, recordAt + 24, uint64_t{1} << 40);
    WriteFile(path, huge);
    {
        auto a = OpenRead(path);
        EXPECT_TRUE(Rebuilt(*a));
        EXPECT_EQ(a->DirManager()->CurrentList.GetCount(), 2);
    }

    // Every field of the end record in its marker form, the volume numbers
    // kept only in the ZIP64 records: still one file.
    std::string allMarkers = good;
    Put16(allMarkers, EndAt(good) + 4, 0xFFFF);
    Put16(allMarkers, EndAt(good) + 6, 0xFFFF);
    WriteFile(path, allMarkers);
    {
        ScriptedDialogsScope dialogs;
        auto a = OpenRead(path);
        EXPECT_EQ(a->SpanningMode(), smNone);
        EXPECT_EQ(a->DirManager()->CurrentList.GetCount(), 2);
        EXPECT_TRUE(dialogs.dialogs->Log.empty());
    }

    // Bytes put in front of a ZIP64 archive whose offsets do not count them:
    // the locator points before the record, which lies directly before it.
    const std::string stub(777, 's');
    WriteFile(path, stub + good);
    {
        auto a = OpenRead(path);
        EXPECT_FALSE(Rebuilt(*a));
        EXPECT_EQ(a->DirManager()->StubSize, 777);
        EXPECT_EQ(ItemLocalHeaderOffset(a->DirManager()->CurrentList.ItemAt(1)), 777 + 30 + 3 + 1);
    }
}

// ---------------------------------------------------------------------------
// Extra fields.

TEST(OpeningExtraFields, BlocksAsStored) {
    TempFolder tmp;
    ZipSet z;
    z.AddItem("three", "x");
    z.AddItem("block", "y");
    z.AddItem("zip64", "z");
    z.ItemAt(0).CentralExtra = "abc";  // too short for a block header
    z.ItemAt(1).CentralExtra = std::string("\xFE\xCA\x05\x00" "12345", 9) + std::string("\x07\x00\x10\x00" "ab", 6);
    // A ZIP64 block where no field holds its marker: kept, decodes nothing.
    z.ItemAt(2).CentralExtra = std::string("\x01\x00\x08\x00", 4) + std::string(8, '\x09');
    z.AddDirectory(0);
    z.End(0);
    WriteFile(tmp.File("x.zip"), z.Volume(0));
    auto a = OpenRead(tmp.File("x.zip"));
    const TAKDirArray& list = a->DirManager()->CurrentList;
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_TRUE(list.ItemAt(0).ExtraBlocks.empty());
    EXPECT_FALSE(list.ItemAt(0).Zip64);
    ASSERT_EQ(list.ItemAt(1).ExtraBlocks.size(), 2u);
    EXPECT_EQ(list.ItemAt(1).ExtraBlocks[0].HeaderID, 0xCAFE);
    EXPECT_EQ(std::string(list.ItemAt(1).ExtraBlocks[0].Data.begin(), list.ItemAt(1).ExtraBlocks[0].Data.end()),
              "12345");
    EXPECT_EQ(list.ItemAt(1).ExtraBlocks[1].DataSize, 2);  // cut to what the field holds
    EXPECT_TRUE(list.ItemAt(2).Zip64);
    EXPECT_EQ(ItemUncompressedSize(list.ItemAt(2)), 1);
    EXPECT_EQ(list.ItemAt(2).StoredName, "zip64");
}

// ---------------------------------------------------------------------------
// Stubs in front of a single file.

TEST(OpeningStub, RelativeAndAbsoluteOffsets) {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    TempFolder tmp;
    const std::string d = tmp.Path();
    WriteFile(d + "a.txt", RandomBytes(3000, 3));
    std::filesystem::create_directory(d + "sub");
    WriteFile(d + "sub/b.txt", "bee");
    Shell(d, "zip -q -r plain.zip a.txt sub");
    Shell(d, "zip -q - a.txt sub/b.txt | cat > piped.zip");
    // A stub that holds the local header signature itself.
    const std::string stub = "MZ" + RandomBytes(500, 4) + std::string("PK\x03\x04", 4) + RandomBytes(494, 5);
    for (const char* source : {"plain.zip", "piped.zip"}) {
        SCOPED_TRACE(source);
        const std::string zip = ReadFile(d + source);
        WriteFile(d + "relative.zip", stub + zip);
        WriteFile(d + "relative.exe", stub + zip);
        WriteFile(d + "absolute.zip", stub + zip);
        Shell(d, "zip -q -A absolute.zip");
        for (const char* name : {"relative.zip", "relative.exe", "absolute.zip"}) {
            SCOPED_TRACE(name);
            const Listing expected = PythonListing(d + (std::string(name) == "relative.exe" ? "relative.zip" : name));
            ASSERT_FALSE(expected.Entries.empty());
            EXPECT_EQ(expected.Entries[0].Offset, static_cast<int64_t>(stub.size()));
            auto a = OpenRead(d + name);
            EXPECT_EQ(a->SpanningMode(), smNone);
            EXPECT_EQ(a->DirManager()->StubSize, static_cast<int64_t>(stub.size()));
            EXPECT_FALSE(Rebuilt(*a));
            ExpectSameEntries(OurListing(*a), expected);
        }
    }
}

// ---------------------------------------------------------------------------
// Archives of the peers: our reading, and our rebuild after the end record is
// spoilt, against Python's listing.

TEST(OpeningPeers, ListingsMatchPython) {
    TempFolder tmp;
    const std::string d = tmp.Path();
    WriteFile(d + "r.bin", RandomBytes(5000, 11));
    WriteFile(d + "t.txt", std::string(4000, 'a') + "tail");
    WriteFile(d + "e.txt", "");
    WriteFile(d + "mk.py",
              "import sys, zipfile, struct\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.comment = b'archive comment'\n"
              "    i = zipfile.ZipInfo('commented.txt'); i.comment = b'item comment'\n"
              "    i.extra = struct.pack('<HH', 0xCAFE, 3) + b'abc'\n"
              "    z.writestr(i, 'with comment')\n"
              "    z.writestr(zipfile.ZipInfo('\\u00fcmlaut/\\u65e5\\u672c.txt'), 'utf-8 name', zipfile.ZIP_DEFLATED)\n"
              "    with z.open('forced64.bin', 'w', force_zip64=True) as f: f.write(b'z' * 300)\n"
              "    z.writestr('folder/', '')\n");
    struct Maker {
        const char* Name;
        std::string Command;
        bool Peer7z = false;
    };
    const Maker makers[] = {
        {"stored.zip", "zip -q -0 stored.zip r.bin t.txt e.txt"},
        {"deflated.zip", "zip -q -9 deflated.zip r.bin t.txt e.txt && printf 'zip comment' | zip -q -z deflated.zip"},
        {"encrypted.zip", "zip -q -P secret encrypted.zip r.bin t.txt"},
        {"piped.zip", "zip -q - r.bin t.txt | cat > piped.zip"},
        {"stdin.zip", "echo x | zip -q stdin.zip -"},
        {"7z.zip", "7zz a -tzip -bd -bso0 7z.zip r.bin t.txt e.txt", true},
        {"7z-stored.zip", "7zz a -tzip -mx0 -bd -bso0 7z-stored.zip r.bin t.txt", true},
        {"python.zip", Python() + " mk.py python.zip"},
    };
    for (const Maker& m : makers) {
        SCOPED_TRACE(m.Name);
        if (m.Peer7z && !HaveTool("7zz"))
            continue;
        Shell(d, m.Command);
        const std::string path = d + m.Name;
        const Listing expected = PythonListing(path);
        {
            auto a = OpenRead(path);
            EXPECT_FALSE(Rebuilt(*a));
            const Listing ours = OurListing(*a);
            EXPECT_EQ(ours.Comment, expected.Comment);
            ExpectSameEntries(ours, expected);
        }
        // One byte more and the directory is gone: names, CRCs and sizes come
        // from the local headers (or their data descriptors, or local ZIP64
        // blocks); comments are lost.
        WriteFile(path, ReadFile(path) + "!");
        auto a = OpenRead(path);
        EXPECT_TRUE(Rebuilt(*a));
        Listing rebuilt = OurListing(*a);
        Listing want = expected;
        for (Entry& e : want.Entries) e.Comment = "x";
        ExpectSameEntries(rebuilt, want);
    }
}

// ---------------------------------------------------------------------------
// Multi-volume sets.

namespace {

// A set made by Info-ZIP with 64 KiB volumes whose directory spans several
// of them; returns the number of volumes. Also writes joined.zip, the same
// archive in one file, for Python.
int MakeInfoZipSet(const std::string& d) {
    std::filesystem::create_directory(d + "files");
    for (int i = 0; i < 1200; ++i) {
        char name[96];
        std::snprintf(name, sizeof name, "files/a-rather-long-file-name-to-make-the-directory-large-%04d.txt", i);
        WriteFile(d + name, "item " + std::to_string(i));
    }
    WriteFile(d + "files/big.bin", RandomBytes(70000, 21));
    Shell(d, "zip -q -r -0 -s 64k x.zip files && zip -q -s 0 x.zip --out joined.zip");
    int volumes = 1;
    while (platform::FileExists(d + "x.z" + (volumes < 10 ? "0" : "") + std::to_string(volumes))) ++volumes;
    return volumes;
}

std::string Num(const char* fmt, int n) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, n);
    return buf;
}

} // namespace

TEST(OpeningVolumes, InfoZipSetUnderEveryNaming) {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
    TempFolder tmp;
    const std::string d = tmp.Path();
    const int volumes = MakeInfoZipSet(d);
    ASSERT_GE(volumes, 4);
    const Listing expected = PythonListing(d + "joined.zip");
    ASSERT_EQ(expected.Entries.size(), 1202u);

    struct Naming {
        const char* What;
        const char* Numbered;  // printf format of volume n (1-based)
        const char* Last;
        bool AdvancedAfter;
    };
    const Naming namings[] = {
        {"ours, numbered", "x_%03d.qvt", "x.qvt", true},
        {"ours, .Z01", "x.Z%02d", "x.qvt", false},
        {"Info-ZIP's own, lower case", "x.z%02d", "x.zip", false},
    };
    for (const Naming& n : namings) {
        SCOPED_TRACE(n.What);
        const std::string set = d + "set/";
        std::filesystem::remove_all(set);
        std::filesystem::create_directory(set);
        for (int v = 1; v < volumes; ++v)
            std::filesystem::copy_file(d + Num("x.z%02d", v), set + Num(n.Numbered, v));
        std::filesystem::copy_file(d + "x.zip", set + n.Last);

        auto a = OpenRead(set + n.Last);
        EXPECT_EQ(a->SpanningMode(), smSplitting);
        EXPECT_EQ(a->SpanningOptions().AdvancedNaming(), n.AdvancedAfter);
        // Reading ends on the volume holding the end of the directory.
        EXPECT_EQ(a->VolumeInfo().VolumeNumber, volumes - 1);
        EXPECT_EQ(a->DirManager()->DirectoryOffset, Value(a->DirManager()->EndRecord.DirectoryOffset));
        ExpectSameEntries(OurListing(*a), expected, false);
        // Offsets count within the volume of each local header.
        EXPECT_EQ(ItemLocalHeaderOffset(a->DirManager()->CurrentList.ItemAt(0)), 4);  // after the split marker

        if (n.AdvancedAfter) {
            // The first volume by itself: no end record, no removable drive.
            auto first = OpenRead(set + Num(n.Numbered, 1));
            EXPECT_EQ(first->SpanningMode(), smNone);
            EXPECT_TRUE(Rebuilt(*first));
            const TAKDirArray& list = first->DirManager()->CurrentList;
            ASSERT_GT(list.GetCount(), 100);
            for (int32_t i = 0; i < list.GetCount(); ++i)
                ASSERT_EQ(Hex(list.ItemAt(i).StoredName), expected.Entries[static_cast<size_t>(i)].Name) << i;
        }
    }
}

namespace {

// Volumes of a hand-made set: items "f0".."f3" in volumes 0 and 1; the
// directory begins at the end of volume 1 and one entry lies on each of the
// volumes 1 to 4 (the last).
ZipSet FiveVolumes() {
    ZipSet z;
    for (int i = 0; i < 4; ++i) z.AddItem("f" + std::to_string(i), "data of item " + std::to_string(i), i / 2);
    z.StartDirectory(1);
    for (int i = 0; i < 4; ++i) z.AddEntry(static_cast<size_t>(i), i + 1);
    z.End(4);
    return z;
}

void WriteSet(const ZipSet& z, const std::string& d) {
    for (int v = 0; v + 1 < z.VolumeCount(); ++v) WriteFile(d + Num("x_%03d.qvt", v + 1), z.Volume(v));
    WriteFile(d + "x.qvt", z.Volume(z.VolumeCount() - 1));
}

} // namespace

TEST(OpeningVolumes, DirectoryBeginsOnTheNextVolume) {
    TempFolder tmp;
    ZipSet z;
    z.AddItem("only.txt", "the data");
    // The end record names volume 0 and its length; the entry lies on volume 1.
    z.StartDirectory(0);
    z.AddEntry(0, 1);
    z.End(1, "set comment");
    WriteSet(z, tmp.Path());
    auto a = OpenRead(tmp.File("x.qvt"));
    EXPECT_EQ(a->SpanningMode(), smSplitting);
    EXPECT_EQ(Value(a->DirManager()->EndRecord.StartDisk), 0);
    EXPECT_EQ(Value(a->DirManager()->EndRecord.DirectoryOffset), z.Volume(0).size());
    ASSERT_EQ(a->DirManager()->CurrentList.GetCount(), 1);
    EXPECT_EQ(a->DirManager()->CurrentList.ItemAt(0).StoredName, "only.txt");
    EXPECT_EQ(a->DirManager()->DirectoryOffset, 0);
    EXPECT_EQ(a->DirManager()->ArchiveComment, "set comment");
    EXPECT_EQ(a->VolumeInfo().VolumeNumber, 1);
}

TEST(OpeningVolumes, MissingVolumes) {
    const ZipSet z = FiveVolumes();
    struct Case {
        int Missing;  // 0-based volume number
        int Code;
        const char* Prompt;  // asked of the user, if anything
    };
    const Case cases[] = {
        {-1, 0, nullptr},
        // Only item data there: the directory reads, extraction would fail.
        {0, 0, nullptr},
        // The volume the directory begins on: its request is given up.
        {1, 45, nullptr},
        // A volume in the middle of the directory: the entries cannot be read,
        // and a multi-volume set is never rebuilt.
        {2, 44, nullptr},
        // The volume before the last under both namings: the set is taken to
        // be spanned and the disk holding the directory's start is asked for.
        {3, 45, "Please insert disk #2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Missing);
        TempFolder tmp;
        WriteSet(z, tmp.Path());
        if (c.Missing >= 0) platform::DeleteFile(tmp.File(Num("x_%03d.qvt", c.Missing + 1)));
        ScriptedDialogsScope dialogs;
        std::string message;
        EXPECT_EQ(OpenCode(tmp.File("x.qvt"), &message), c.Code) << message;
        if (c.Prompt) {
            ASSERT_EQ(dialogs.dialogs->Log.size(), 1u);
            EXPECT_EQ(dialogs.dialogs->Log[0].Text, c.Prompt);
        } else {
            EXPECT_TRUE(dialogs.dialogs->Log.empty());
        }
        if (c.Code == 0) {
            auto a = OpenRead(tmp.File("x.qvt"));
            ASSERT_EQ(a->DirManager()->CurrentList.GetCount(), 4);
            for (int i = 0; i < 4; ++i) {
                const TDirItem& it = a->DirManager()->CurrentList.ItemAt(i);
                EXPECT_EQ(it.StoredName, "f" + std::to_string(i));
                EXPECT_EQ(Value(it.Header.DiskNumberStart), i / 2);
            }
        }
    }
}

TEST(OpeningVolumes, DamagedSetIsNeverRebuilt) {
    TempFolder tmp;
    ZipSet z = FiveVolumes();
    // More entries than the set holds: reading runs past the last volume.
    std::string& last = z.Volume(4);
    Put16(last, EndAt(last) + 8, 9);
    Put16(last, EndAt(last) + 10, 9);
    WriteSet(z, tmp.Path());
    EXPECT_EQ(OpenCode(tmp.File("x.qvt")), 44);
    // 65,535 entries without ZIP64.
    Put16(last, EndAt(last) + 10, 0xFFFF);
    WriteSet(z, tmp.Path());
    EXPECT_EQ(OpenCode(tmp.File("x.qvt")), 44);
}

TEST(OpeningVolumes, SetBeginningWithAStub) {
    TempFolder tmp;
    const std::string stub = "MZ" + RandomBytes(300, 9);
    ZipSet z(stub);
    z.AddItem("first.txt", "on the stub volume");
    z.AddItem("second.txt", "on the last volume", 1);
    z.AddDirectory(1);
    z.End(1);
    // Volume 0 is the ".exe"; the last volume carries the base name with ".ZIP"
    // (here in the other case, as a file copied from elsewhere may have it).
    for (const char* last : {"x.ZIP", "x.zip"}) {
        SCOPED_TRACE(last);
        TempFolder set;
        WriteFile(set.File("x.exe"), z.Volume(0));
        WriteFile(set.File(last), z.Volume(1));
        auto a = OpenRead(set.File("x.exe"));
        EXPECT_EQ(a->SpanningMode(), smSplitting);
        EXPECT_FALSE(Rebuilt(*a));
        const TAKDirArray& list = a->DirManager()->CurrentList;
        ASSERT_EQ(list.GetCount(), 2);
        EXPECT_EQ(list.ItemAt(0).StoredName, "first.txt");
        EXPECT_EQ(ItemLocalHeaderOffset(list.ItemAt(0)), static_cast<int64_t>(stub.size()));
        EXPECT_EQ(Value(list.ItemAt(1).Header.DiskNumberStart), 1);
    }
    // Without its last volume the ".exe" is read by itself.
    WriteFile(tmp.File("x.exe"), z.Volume(0));
    auto a = OpenRead(tmp.File("x.exe"));
    EXPECT_EQ(a->SpanningMode(), smNone);
    EXPECT_TRUE(Rebuilt(*a));
    ASSERT_EQ(a->DirManager()->CurrentList.GetCount(), 1);
    EXPECT_EQ(a->DirManager()->CurrentList.ItemAt(0).StoredName, "first.txt");
    EXPECT_EQ(ItemLocalHeaderOffset(a->DirManager()->CurrentList.ItemAt(0)), static_cast<int64_t>(stub.size()));
}

TEST(OpeningZip64, CountOf65535FromTheZip64Record) {
    TempFolder tmp;
    ZipSet z;
    for (int i = 0; i < 65535; ++i) z.AddItem(Num("n%05d", i), "");
    z.AddDirectory(0);
    z.End(0, "", true);
    const std::string path = tmp.File("many.zip");
    WriteFile(path, z.Volume(0));
    auto a = OpenRead(path);
    EXPECT_FALSE(Rebuilt(*a));
    EXPECT_EQ(Value(a->DirManager()->EndRecord.TotalEntries), 0xFFFF);
    const TAKDirArray& list = a->DirManager()->CurrentList;
    ASSERT_EQ(list.GetCount(), 65535);
    EXPECT_EQ(list.ItemAt(65534).StoredName, "n65534");
    int32_t found = -1;
    EXPECT_TRUE(a->DirManager()->CurrentList.FindName("N40000", found));
    EXPECT_EQ(found, 40000);
    std::string out;
    ASSERT_EQ(RunCommand(Python() + " -c " +
                             ShellQuote("import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                                        "print(len(z.infolist()), z.infolist()[-1].filename)") +
                             " " + ShellQuote(path),
                         &out),
              0);
    EXPECT_EQ(out, "65535 n65534\n");
}

TEST(OpeningStub, ShiftedOffsetsKeepTheirFullValue) {
    TempFolder tmp;
    const std::string stub(4096, 'S');
    ZipSet z(stub, false);  // offsets start after the stub
    z.AddItem("real.txt", "real data");
    z.AddItem("folder/", "", 0, 0x10);
    z.AddItem("far.txt", "data");
    z.ItemAt(2).Offset = 0xFFFFF800;  // damaged: shifted, it no longer fits 32 bits
    z.AddDirectory(0);
    z.End(0);
    WriteFile(tmp.File("s.zip"), z.Volume(0));
    auto a = OpenRead(tmp.File("s.zip"));
    EXPECT_EQ(a->DirManager()->StubSize, 4096);
    const TAKDirArray& list = a->DirManager()->CurrentList;
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(ItemLocalHeaderOffset(list.ItemAt(0)), 4096);
    // Folder items have local headers too, which a later commit copies.
    EXPECT_EQ(ItemLocalHeaderOffset(list.ItemAt(1)), 4096 + 30 + 8 + 9);
    EXPECT_EQ(Value(list.ItemAt(2).Header.LocalHeaderOffset), Zip64Marker32);
    EXPECT_EQ(ItemLocalHeaderOffset(list.ItemAt(2)), int64_t{0xFFFFF800} + 4096);
    EXPECT_TRUE(list.ItemAt(2).Zip64);
}

// Info-ZIP on Linux writes UTF-8 names without flag bit 11; they are read as
// UTF-8, extracted under that name, and written back byte for byte.
TEST(OpeningPeers, InfoZipUtf8NamesFromUnix) {
    if (!HaveTool("zip") || !HaveTool("unzip")) GTEST_SKIP() << "Info-ZIP missing";
    TempFolder tmp;
    const std::string d = tmp.Path();
    const std::string name = "caf\xC3\xA9.txt";
    WriteFile(d + name, "coffee");
    Shell(d, "zip -q -X u.zip " + ShellQuote(name));
    const std::string before = ReadFile(d + "u.zip");
    {
        auto a = OpenRead(d + "u.zip");
        ASSERT_EQ(a->DirManager()->CurrentList.GetCount(), 1);
        EXPECT_EQ(a->DirManager()->CurrentList.ItemAt(0).StoredName, name);
        a->SetBaseDir(d + "out/");
        a->ExtractFiles("*.*", 10431, "");
    }
    EXPECT_EQ(ReadFile(d + "out/" + name), "coffee");

    // An update in place keeps the old entry's name bytes in both headers.
    WriteFile(d + "more.txt", "more");
    {
        TArkiva a;
        a.SetFileName(d + "u.zip");
        a.OpenArchive();
        a.AddFiles(d + "more.txt", 10431, "");
        a.CloseArchive();
    }
    const std::string after = ReadFile(d + "u.zip");
    EXPECT_NE(after.find(name), std::string::npos);
    EXPECT_EQ(after.find("caf\x82"), std::string::npos);
    std::string out;
    EXPECT_EQ(RunCommand("unzip -t " + ShellQuote(d + "u.zip"), &out), 0) << out;
    EXPECT_EQ(RunCommand("unzip -l " + ShellQuote(d + "u.zip") + " | grep -c " + ShellQuote(name), &out), 0) << out;
    EXPECT_NE(before, after);
}
