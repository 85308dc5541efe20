// Temporary names, drive queries, code page 437, dialogs, persistent assignment.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "platform/Component.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "tests/common/TestSupport.h"

using namespace platform;

namespace {

TEST(TempFiles, PrefixedUniqueAndCreated)
{
    TempFolder tmp;
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        const std::string n = MakeUniqueTempFile(tmp.Path(), "FC");
        ASSERT_FALSE(n.empty());
        EXPECT_EQ(n.rfind(tmp.Path() + "FC", 0), 0u) << n;
        EXPECT_TRUE(FileExists(n));
        EXPECT_EQ(FileSize(n), 0);
        names.insert(n);
    }
    EXPECT_EQ(names.size(), 20u);
    // Without a trailing "/" on the folder, too.
    const std::string n = MakeUniqueTempFile(tmp.Path().substr(0, tmp.Path().size() - 1), "FC");
    EXPECT_EQ(n.rfind(tmp.Path() + "FC", 0), 0u) << n;
    EXPECT_EQ(MakeUniqueTempFile(tmp.File("missing"), "FC"), "");
}

TEST(TempFiles, SystemTempDirFollowsTmpdir)
{
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(SystemTempDir(), "/var/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(SystemTempDir(), "/tmp/");
    if (old) setenv("TMPDIR", saved.c_str(), 1);
}

TEST(Drives, FreeSpaceAndRemovableAreSane)
{
    TempFolder tmp;
    const int64_t free = DiskFreeBytes(tmp.Path());
    EXPECT_GT(free, 0);
    // A name that does not exist yet is answered for its nearest folder.
    const int64_t later = DiskFreeBytes(tmp.File("not/yet/there.qvt"));
    EXPECT_GT(later, 0);
    EXPECT_FALSE(IsRemovableMedia(tmp.Path()));
    EXPECT_FALSE(IsRemovableMedia(tmp.File("not/yet/there.qvt")));
    EXPECT_FALSE(IsRemovableMedia("/proc/self"));
    EXPECT_FALSE(SetVolumeLabel(tmp.Path(), "pkback# 001"));

    // Cross-check with df (1K blocks available); allow for other writers.
    std::string out;
    if (RunCommand("df -Pk " + ShellQuote(tmp.Path()) + " | tail -1 | awk '{print $4}'", &out) == 0 && !out.empty()) {
        const double dfBytes = std::strtod(out.c_str(), nullptr) * 1024.0;
        EXPECT_NEAR(static_cast<double>(free), dfBytes, 512.0 * 1024 * 1024);
    }
}

TEST(CodePage437, ConversionBothWays)
{
    EXPECT_EQ(AnsiToOem("caf\xC3\xA9"), "caf\x82");          // é
    EXPECT_EQ(OemToAnsi("caf\x82"), "caf\xC3\xA9");
    EXPECT_EQ(OemToAnsi("\x9E\xE1\xFF"), "\xE2\x82\xA7\xC3\x9F\xC2\xA0"); // Pts, sharp s, no-break space
    EXPECT_TRUE(ConvertsToOemLosslessly("caf\xC3\xA9 \xE2\x95\x94"));
    EXPECT_FALSE(ConvertsToOemLosslessly("\xE4\xB8\xAD.txt"));      // a CJK character
    EXPECT_EQ(AnsiToOem("\xE4\xB8\xAD.txt"), "?.txt");
    EXPECT_EQ(AnsiToOem("a\xFF" "b"), "a?b");                    // invalid UTF-8
    EXPECT_FALSE(ConvertsToOemLosslessly("a\xFF"));
    // Every code page byte survives a round trip.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(AnsiToOem(OemToAnsi(all)), all);
    EXPECT_TRUE(IsValidUtf8(OemToAnsi(all)));
    // The table agrees with iconv where iconv knows the code page.
    std::string out;
    TempFolder tmp;
    WriteFile(tmp.File("oem.bin"), all);
    if (RunCommand("iconv -f CP437 -t UTF-8 " + ShellQuote(tmp.File("oem.bin")), &out) == 0) {
        EXPECT_EQ(out, OemToAnsi(all));
    }
}

TEST(Utf8, ValidityAndAscii)
{
    EXPECT_TRUE(IsAscii("plain name.txt"));
    EXPECT_FALSE(IsAscii("caf\xC3\xA9"));
    struct Case { const char* s; bool valid; } cases[] = {
        {"", true},
        {"caf\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},  // U+1F600
        {"\xC3", false},             // truncated
        {"\xC0\xAF", false},         // overlong "/"
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // above U+10FFFF
        {"\x80", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.s), c.valid) << c.s;
}

TEST(Memory, AvailableAndProcessLock)
{
    EXPECT_GT(AvailablePhysicalMemory(), 1u << 20);
    std::lock_guard<std::recursive_mutex> a(ProcessLock());
    std::lock_guard<std::recursive_mutex> b(ProcessLock()); // re-entrant
    EXPECT_EQ(&ProcessLock(), &ProcessLock());
}

TEST(DialogsTest, ScriptedAnswersInOrderAndRecords)
{
    auto scripted = std::make_shared<ScriptedDialogs>();
    scripted->MessageAnswers = {mrRetry, mrYes};
    scripted->InputAnswers = {{true, "secret"}, {false, "ignored"}};
    auto previous = SetDialogs(scripted);
    Dialogs& d = CurrentDialogs();
    EXPECT_EQ(d.MessageDlg("first", TMsgDlgType::mtWarning, {TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbCancel}), mrRetry);
    EXPECT_EQ(d.MessageDlg("second", TMsgDlgType::mtConfirmation, {TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo}), mrYes);
    EXPECT_EQ(d.MessageDlg("third", TMsgDlgType::mtError, {TMsgDlgBtn::mbOK}), mrCancel); // queue empty
    std::string value = "old";
    EXPECT_TRUE(d.InputQuery("Password", "Enter password", value));
    EXPECT_EQ(value, "secret");
    EXPECT_FALSE(d.InputQuery("Password", "Again", value));
    EXPECT_EQ(value, "secret");
    EXPECT_FALSE(d.InputQuery("Password", "Empty queue", value));
    ASSERT_EQ(scripted->Log.size(), 6u);
    EXPECT_EQ(scripted->Log[0].Text, "first");
    EXPECT_EQ(scripted->Log[0].Type, TMsgDlgType::mtWarning);
    EXPECT_EQ(scripted->Log[0].Buttons.size(), 2u);
    EXPECT_TRUE(scripted->Log[3].IsInput);
    EXPECT_EQ(scripted->Log[3].Prompt, "Enter password");
    EXPECT_EQ(SetDialogs(previous), scripted);
}

TEST(DialogsTest, NonInteractiveCancelsOrAborts)
{
    auto previous = SetDialogs(nullptr);
    Dialogs& d = CurrentDialogs();
    EXPECT_NE(dynamic_cast<NonInteractiveDialogs*>(&d), nullptr);
    using B = TMsgDlgBtn;
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtWarning, {B::mbOK, B::mbCancel}), mrCancel);
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtError, {B::mbAbort, B::mbRetry, B::mbIgnore}), mrAbort);
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtError, {B::mbAbort, B::mbCancel}), mrCancel);
    // No button that agrees to anything: an overwrite question stays unanswered.
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtConfirmation, {B::mbYes, B::mbNo, B::mbHelp}), mrCancel);
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtConfirmation, {B::mbYes, B::mbNo, B::mbNoToAll, B::mbYesToAll}),
              mrCancel);
    EXPECT_EQ(d.MessageDlg("m", TMsgDlgType::mtInformation, {}), mrCancel);
    std::string v = "keep";
    EXPECT_FALSE(d.InputQuery("c", "p", v));
    EXPECT_EQ(v, "keep");
    SetDialogs(previous);
}

class TOne : public TPersistent {
public:
    const char* ClassName() const override { return "TOne"; }
};
class TOther : public TPersistent {
public:
    const char* ClassName() const override { return "TOther"; }
};

TEST(Persistent, InheritedAssignRefusesWithBothClassNames)
{
    TOne one;
    TOther other;
    try {
        one.Assign(other);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TOther to a TOne");
    }
}

} // namespace
