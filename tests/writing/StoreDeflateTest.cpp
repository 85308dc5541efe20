// Single-file archives written from sources: stored, deflated at several
// levels, encrypted, empty, forced ZIP64; each checked by Info-ZIP unzip and
// Python's zipfile and by reading the records back.
#include <zlib.h>

#include <string>
#include <vector>

#include "tests/writing/WritingSupport.h"

using namespace writing_test;

namespace {

uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct Case {
    const char* Label;
    int Mode;
    std::string Password;
    size_t Size;
    bool Text;
    TZip64Mode Zip64 = zmDisabled;
};

class StoreDeflate : public ::testing::TestWithParam<Case> {};

TEST_P(StoreDeflate, PeersReadWhatWasWritten) {
    const Case& c = GetParam();
    TempFolder dir;
    const std::string source = dir.File("data.bin");
    const std::string content = c.Text ? TextBytes(c.Size, 7) : RandomBytes(c.Size, 11);
    WriteFile(source, content);
    const std::string archive = dir.File("out.zip");

    auto a = NewArchiver(archive, c.Mode);
    a->SetPassword(c.Password);
    a->SetZip64Mode(c.Zip64);
    std::vector<double> fileProgress;
    a->OnFileProgress = [&](TAKBaseArchiver*, const std::string&, double progress, TAKProcessOperation,
                            TAKProgressPhase phase, bool&) {
        if (phase == ppProcess) fileProgress.push_back(progress);
    };
    a->OpenArchive(fmCreate);
    a->AddFiles(source, 10431, "");
    a->CloseArchive();

    std::string out;
    EXPECT_TRUE(UnzipTests(archive, c.Password, &out)) << out;
    EXPECT_TRUE(PythonMatches(archive, {{"data.bin", source}}, c.Password, &out)) << out;

    const ArchiveRecords r = ReadRecords(archive);
    ASSERT_EQ(r.Entries.size(), 1u);
    const TCentralHeaderImage& h = r.Entries[0].Header;
    const bool encrypted = !c.Password.empty();
    const bool deflated = c.Mode != 0 && c.Size != 0;
    EXPECT_EQ(+h.Method, deflated ? 8 : 0);
    EXPECT_EQ(+h.Crc32, Crc(content));
    EXPECT_EQ(+h.Flags & FlagEncrypted, encrypted ? 1 : 0);
    EXPECT_EQ(+h.VersionNeeded, c.Zip64 == zmAlways ? VersionZip64 : VersionOem);
    const TLocalFileHeader l = ReadLocalHeader(archive, 0);
    EXPECT_EQ(+l.Crc32, +h.Crc32);
    EXPECT_EQ(+l.Method, +h.Method);
    EXPECT_EQ(+l.Flags, +h.Flags);

    // The source is read in blocks of the mode's size, and the file progress
    // before each block is the share already consumed, never 100.
    const size_t block = static_cast<size_t>(TAKBaseArchiver::GetBlockSize(c.Mode));
    ASSERT_EQ(fileProgress.size(), (c.Size + block - 1) / block);
    for (size_t i = 0; i < fileProgress.size(); ++i)
        EXPECT_NEAR(fileProgress[i], 100.0 * static_cast<double>(i * block) / static_cast<double>(c.Size), 1e-9);

    if (c.Zip64 == zmAlways) {
        EXPECT_EQ(+h.CompressedSize, Zip64Marker32);
        EXPECT_EQ(+h.UncompressedSize, Zip64Marker32);
        EXPECT_EQ(+h.LocalHeaderOffset, Zip64Marker32);
        EXPECT_EQ(r.Entries[0].Extra.size(), 28u);
        EXPECT_EQ(+l.ExtraFieldLength, 20);
        EXPECT_EQ(+l.UncompressedSize, Zip64Marker32);
        return;
    }
    EXPECT_EQ(+h.UncompressedSize, c.Size);
    EXPECT_EQ(+l.CompressedSize, +h.CompressedSize);
    EXPECT_EQ(+l.UncompressedSize, +h.UncompressedSize);
    if (!deflated) {
        EXPECT_EQ(+h.CompressedSize, c.Size + (encrypted ? 12 : 0));
    }
    if (deflated && !encrypted && c.Size <= block) {
        // One block, finished at once: zlib's own output without its 2-byte
        // header and 4-byte trailer.
        uLongf n = compressBound(static_cast<uLong>(c.Size));
        std::string z(n, '\0');
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(content.data()),
                            static_cast<uLong>(c.Size), c.Mode),
                  Z_OK);
        ASSERT_EQ(+h.CompressedSize, n - 6);
        const std::string bytes = ReadFile(archive);
        EXPECT_EQ(bytes.substr(30 + l.FileNameLength, h.CompressedSize), z.substr(2, n - 6));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StoreDeflate,
    ::testing::Values(Case{"stored_three_blocks", 0, "", 2500000, false},
                      Case{"fastest_three_blocks", 1, "", 1300000, true},
                      Case{"normal_one_block", 6, "", 1000000, true},
                      Case{"normal_three_blocks", 6, "", 3000000, true},
                      Case{"max_two_blocks", 9, "", 2000000, true},
                      Case{"max_incompressible", 9, "", 200000, false},
                      Case{"stored_encrypted", 0, "secret", 100000, false},
                      Case{"deflated_encrypted", 6, "p@ss word", 150000, true},
                      Case{"empty_stored", 0, "", 0, false},
                      Case{"empty_deflated", 6, "", 0, false},
                      Case{"empty_encrypted", 6, "secret", 0, false},
                      Case{"zip64_forced_one_byte", 0, "", 1, false, zmAlways}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.Label); });

TEST(StoreDeflateEvents, ThreeFilesReportInOrder) {
    TempFolder dir;
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(dir.File("f" + std::to_string(i) + ".txt"));
        WriteFile(files.back(), TextBytes(700000, 20 + static_cast<uint32_t>(i)));
    }
    const std::string archive = dir.File("out.zip");
    auto a = NewArchiver(archive, 1);
    struct Event {
        bool Overall;
        std::string Name;
        TAKProgressPhase Phase;
        double Value;
    };
    std::vector<Event> events;
    a->OnOverallProgress = [&](TAKBaseArchiver*, double v, TAKProcessOperation, TAKProgressPhase ph, bool&) {
        events.push_back({true, "", ph, v});
    };
    a->OnFileProgress = [&](TAKBaseArchiver*, const std::string& name, double v, TAKProcessOperation,
                            TAKProgressPhase ph, bool&) { events.push_back({false, name, ph, v}); };
    a->OpenArchive(fmCreate);
    AddInOrder(*a, files);
    EXPECT_EQ(a->ProcessedCount, 3);
    EXPECT_EQ(a->SelectedCount, 3);
    a->CloseArchive();

    ASSERT_GE(events.size(), 2u);
    EXPECT_TRUE(events.front().Overall);
    EXPECT_EQ(events.front().Phase, ppStart);
    EXPECT_EQ(events.front().Value, 0);
    EXPECT_TRUE(events.back().Overall);
    EXPECT_EQ(events.back().Phase, ppEnd);
    EXPECT_EQ(events.back().Value, 100);
    // Each file: start 0, two blocks, end 100; overall progress never goes back.
    size_t fileEvents = 0;
    double lastOverall = 0;
    for (const Event& e : events) {
        if (e.Overall) {
            EXPECT_GE(e.Value, lastOverall);
            lastOverall = e.Value;
            continue;
        }
        const std::string& expected = files[fileEvents / 4];
        EXPECT_EQ(e.Name, expected);
        const TAKProgressPhase phases[] = {ppStart, ppProcess, ppProcess, ppEnd};
        EXPECT_EQ(e.Phase, phases[fileEvents % 4]);
        if (e.Phase == ppEnd) {
            EXPECT_EQ(e.Value, 100);
        } else {
            EXPECT_LT(e.Value, 100);
        }
        ++fileEvents;
    }
    EXPECT_EQ(fileEvents, 12u);

    std::string out;
    EXPECT_TRUE(UnzipTests(archive, "", &out)) << out;
    EXPECT_TRUE(PythonMatches(archive, {{"f0.txt", files[0]}, {"f1.txt", files[1]}, {"f2.txt", files[2]}}, "", &out))
        << out;
}

TEST(StoreDeflateNames, NonAsciiNameIsFlaggedUtf8InBothHeaders) {
    TempFolder dir;
    const std::string source = dir.File("r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt"); // "résumé €.txt": no CP437 form
    WriteFile(source, "hello");
    const std::string archive = dir.File("out.zip");
    auto a = NewArchiver(archive, 6);
    a->OpenArchive(fmCreate);
    a->AddFiles(source, 10431, "");
    a->CloseArchive();
    const ArchiveRecords r = ReadRecords(archive);
    ASSERT_EQ(r.Entries.size(), 1u);
    EXPECT_EQ(r.Entries[0].Name, "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt");
    EXPECT_EQ(+r.Entries[0].Header.Flags & FlagUtf8, FlagUtf8);
    EXPECT_EQ(ReadLocalHeader(archive, 0).Flags & FlagUtf8, FlagUtf8);
    std::string out;
    EXPECT_TRUE(PythonMatches(archive, {{"r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt", source}}, "", &out)) << out;
}

} // namespace
