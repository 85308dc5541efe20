// The archiver's published surface: defaults, setter rules, option objects
// and the default dispatch of its events.
#include <clocale>
#include <gtest/gtest.h>

#include "archiver/AKConst.h"
#include "archiver/Arkiva.h"
#include "platform/Dialogs.h"
#include "tests/common/TestSupport.h"

TEST(ArchiverSurface, DefaultsOfBaseAndDerived) {
    TAKBaseArchiver base;
    TArkiva ark;
    for (TAKBaseArchiver* a : {&base, static_cast<TAKBaseArchiver*>(&ark)}) {
        EXPECT_FALSE(a->ExtractCorruptedFiles());
        EXPECT_EQ(a->CompressionLevel(), clFastest);
        EXPECT_EQ(a->CompressionMode(), 1);
        EXPECT_EQ(a->CompressionMethod(), 8);
        EXPECT_EQ(a->CurrentVersion(), "2.70 ");
        EXPECT_TRUE(a->Password().empty());
        EXPECT_TRUE(a->FileName().empty());
        EXPECT_EQ(a->SpanningMode(), smNone);
        EXPECT_FALSE(a->InMemory());
        EXPECT_FALSE(a->Active());
        EXPECT_EQ(a->UpdateCount(), 0);
        EXPECT_EQ(a->ArchiveStream(), nullptr);
        EXPECT_EQ(a->DirManager(), nullptr);
        EXPECT_EQ(a->VolumeInfo().VolumeKind, volUnknown);
        const TAKOptions& o = a->Options();
        EXPECT_TRUE(o.Recurse());
        EXPECT_EQ(o.StorePath(), spRelativePath);
        EXPECT_EQ(o.ShareMode(), smShareDenyNone);
        EXPECT_EQ(o.OverwriteMode(), omAlways);
        EXPECT_TRUE(o.CreateDirs());
        EXPECT_TRUE(o.ReplaceReadOnly());
        EXPECT_TRUE(o.SetAttributes());
        EXPECT_EQ(o.SearchAttr(), 10431);
        EXPECT_TRUE(o.FlushBuffers());
        EXPECT_TRUE(o.OEMFileNames());
        const TAKSpanningOptions& s = a->SpanningOptions();
        EXPECT_TRUE(s.AdvancedNaming());
        EXPECT_EQ(s.FirstVolumeSize(), 0);
        EXPECT_EQ(s.VolumeSize(), vsAutoDetect);
        EXPECT_EQ(s.CustomVolumeSize(), 0);
    }
    EXPECT_EQ(base.Zip64Mode(), zmAuto);
    EXPECT_EQ(ark.Zip64Mode(), zmDisabled);
}

TEST(ArchiverSurface, CompressionLevelAndModeTables) {
    TArkiva a;
    struct { TAKCompressionLevel level; int mode; } levels[] = {
        {clNone, 0}, {clFastest, 1}, {clNormal, 6}, {clMax, 9}};
    for (auto c : levels) {
        a.SetCompressionLevel(c.level);
        EXPECT_EQ(a.CompressionMode(), c.mode);
        EXPECT_EQ(a.CompressionMethod(), c.mode ? 8 : 0);
    }
    const TAKCompressionLevel byMode[] = {clNone, clFastest, clFastest, clFastest, clNormal,
                                          clNormal, clNormal, clMax, clMax, clMax};
    for (int m = 0; m <= 9; ++m) {
        a.SetCompressionMode(m);
        EXPECT_EQ(a.CompressionLevel(), byMode[m]) << m;
        EXPECT_EQ(a.CompressionMode(), m);
        EXPECT_EQ(a.CompressionMethod(), m ? 8 : 0);
    }
    a.SetName("zip");
    a.SetCompressionMode(5);
    try {
        a.SetCompressionMode(10);
        FAIL() << "mode 10 accepted";
    } catch (const EAKException& e) {
        EXPECT_EQ(e.NativeError(), 5);
        EXPECT_STREQ(e.what(), "zip: Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
    }
    EXPECT_EQ(a.CompressionMode(), 5);
    EXPECT_EQ(a.CompressionLevel(), clNormal);
}

TEST(ArchiverSurface, CurrentVersionIgnoresLocaleAndWrites) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    // Any locale whose decimal separator is a comma, where the machine has one.
    for (const char* loc : {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (std::setlocale(LC_ALL, loc)) break;
    TArkiva a;
    EXPECT_EQ(a.CurrentVersion(), "2.70 ");
    a.SetCurrentVersion("9.99");
    EXPECT_EQ(a.CurrentVersion(), "2.70 ");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(ArchiverSurface, CustomVolumeSizeSetter) {
    TAKSpanningOptions s;
    struct { int64_t in, out; } cases[] = {
        {1000, 65536}, {-1, 65536}, {0, 65536}, {65535, 65536}, {65536, 65536}, {70000, 70000},
        {int64_t(734003200), int64_t(734003200)}};
    for (auto c : cases) {
        s.SetCustomVolumeSize(c.in);
        EXPECT_EQ(s.CustomVolumeSize(), c.out) << c.in;
    }
}

TEST(ArchiverSurface, VolumeSizeTableAndFirstVolume) {
    TAKSpanningOptions s;
    TAKVolumeNumberInfo first, second;
    first.SetFirst(true);
    second.SetVolumeNumber(1);
    struct { TAKVolumeSize v; int64_t bytes; } table[] = {
        {vsAutoDetect, -1}, {vs1_44MB, 1457664}, {vs100MB, 104857600}, {vs200MB, 209715200},
        {vs250MB, 262144000}, {vs600MB, 629145600}, {vs650MB, 681574400}, {vs700MB, 734003200},
        {vs4700MB, 4928307200LL}};
    for (auto t : table) {
        s.SetVolumeSize(t.v);
        EXPECT_EQ(s.GetVolumeSize(second), t.bytes);
    }
    s.SetVolumeSize(vs1_44MB);
    s.SetFirstVolumeSize(100000);
    EXPECT_EQ(s.GetVolumeSize(first), 100000);
    EXPECT_EQ(s.GetVolumeSize(second), 1457664);
    // vsCustom with the constructor's 0 takes the setter's minimum.
    TAKSpanningOptions fresh;
    fresh.SetVolumeSize(vsCustom);
    EXPECT_EQ(fresh.GetVolumeSize(second), 65536);
}

TEST(ArchiverSurface, ObjectPropertiesAreCopied) {
    TArkiva a;
    TAKOptions o;
    o.SetRecurse(false);
    o.SetStorePath(spNoPath);
    o.SetOverwriteMode(omNever);
    o.SetSearchAttr(7);
    o.SetOEMFileNames(false);
    o.SetShareMode(smShareExclusive);
    a.SetOptions(o);
    o.SetRecurse(true);
    EXPECT_FALSE(a.Options().Recurse());
    EXPECT_EQ(a.Options().StorePath(), spNoPath);
    EXPECT_EQ(a.Options().OverwriteMode(), omNever);
    EXPECT_EQ(a.Options().SearchAttr(), 7);
    EXPECT_FALSE(a.Options().OEMFileNames());
    EXPECT_EQ(a.Options().ShareModeBits(), 0x10);

    TAKSpanningOptions s;
    s.SetAdvancedNaming(false);
    s.SetVolumeSize(vsCustom);
    s.SetCustomVolumeSize(123456);
    s.SetFirstVolumeSize(99);
    a.SetSpanningOptions(s);
    EXPECT_FALSE(a.SpanningOptions().AdvancedNaming());
    EXPECT_EQ(a.SpanningOptions().CustomVolumeSize(), 123456);
    EXPECT_EQ(a.SpanningOptions().FirstVolumeSize(), 99);

    EXPECT_THROW(a.Options().Assign(s), EConvertError);
}

TEST(ArchiverSurface, ShareModeBits) {
    TAKOptions o;
    const uint16_t bits[] = {0, 16, 32, 48, 64};
    for (int m = smShareCompat; m <= smShareDenyNone; ++m) {
        o.SetShareMode(static_cast<TAKFileShareMode>(m));
        EXPECT_EQ(o.ShareModeBits(), bits[m]);
    }
}

TEST(ArchiverDispatch, HandlersAndDefaults) {
    TArkiva a;
    bool cancel = true;
    a.DoOnOverallProgress(50, poAdd, ppProcess, cancel);
    EXPECT_FALSE(cancel);
    cancel = true;
    a.DoOnFileProgress("x", 50, poAdd, ppProcess, cancel);
    EXPECT_FALSE(cancel);
    bool confirm = false;
    a.DoOnConfirmProcessFile("x", poAdd, confirm);
    EXPECT_TRUE(confirm);

    // A handler's cancel flag passes through unchanged.
    a.OnOverallProgress = [](TAKBaseArchiver*, double, TAKProcessOperation, TAKProgressPhase, bool&) {};
    cancel = true;
    a.DoOnOverallProgress(0, poAdd, ppStart, cancel);
    EXPECT_TRUE(cancel);

    // The copy progress always starts from "not cancelled".
    bool seen = true;
    a.OnCopyTempFileProgress = [&](TAKBaseArchiver*, double, TAKProgressPhase, bool& c) { seen = c; };
    cancel = true;
    a.DoOnCopyTempFileProgress(0, ppStart, cancel);
    EXPECT_FALSE(seen);

    std::string name = "dir\\sub\\f.txt";
    uint32_t attr = 0x20;
    a.DoOnExtractFile(name, attr, "");
    EXPECT_EQ(name, "dir/sub/f.txt");
}

TEST(ArchiverDispatch, DefaultOverwritePrompt) {
    ScriptedDialogsScope scope;
    TArkiva a;
    struct { int answer; bool confirm; TAKOverwriteMode mode; } cases[] = {
        {mrYes, true, omAlways}, {mrNo, false, omAlways}, {mrNoToAll, false, omNever},
        {mrYesToAll, true, omAlways}, {mrCancel, false, omAlways}};
    for (auto c : cases) {
        a.Options().SetOverwriteMode(omAlways);
        scope.dialogs->MessageAnswers.push_back(c.answer);
        std::string dest = "/out/b.txt";
        bool confirm = !c.confirm;
        a.DoOnConfirmOverwrite("/in/a.txt", dest, confirm);
        EXPECT_EQ(confirm, c.confirm) << c.answer;
        EXPECT_EQ(a.Options().OverwriteMode(), c.mode) << c.answer;
    }
    ASSERT_EQ(scope.dialogs->Log.size(), 5u);
    EXPECT_EQ(scope.dialogs->Log[0].Text, "Overwrite file \"/out/b.txt\" with \"/in/a.txt\"");
    EXPECT_EQ(scope.dialogs->Log[0].Type, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(scope.dialogs->Log[0].Buttons, (TMsgDlgButtons{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo,
                                                      TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbYesToAll}));
}

TEST(ArchiverDispatch, NobodyToAskMeansNoOverwriteNoPasswordAbort) {
    auto previous = SetDialogs(nullptr); // the non-interactive answers
    TArkiva a;
    a.Options().SetOverwriteMode(omPrompt);
    std::string dest = "/out/b.txt";
    bool confirm = true;
    a.DoOnConfirmOverwrite("/in/a.txt", dest, confirm);
    EXPECT_FALSE(confirm);
    EXPECT_EQ(a.Options().OverwriteMode(), omPrompt);
    std::string pw = "old";
    bool skip = false;
    a.DoOnPassword("a.txt", pw, skip);
    EXPECT_TRUE(skip);
    EXPECT_EQ(pw, "old");
    TAKAction action = fxaIgnore;
    a.DoOnProcessFileFailure("f", poAdd, 33, 12, "Cannot open file \"f\"", action);
    EXPECT_EQ(action, fxaAbort);
    SetDialogs(previous);
}

TEST(ArchiverDispatch, DefaultPasswordPrompt) {
    ScriptedDialogsScope scope;
    TArkiva a;
    scope.dialogs->InputAnswers.push_back({true, "secret"});
    scope.dialogs->InputAnswers.push_back({false, "ignored"});
    std::string pw = "old";
    bool skip = true;
    a.DoOnPassword("docs/a.txt", pw, skip);
    EXPECT_FALSE(skip);
    EXPECT_EQ(pw, "secret");
    a.DoOnPassword("docs/a.txt", pw, skip);
    EXPECT_TRUE(skip);
    ASSERT_EQ(scope.dialogs->Log.size(), 2u);
    EXPECT_TRUE(scope.dialogs->Log[0].IsInput);
    EXPECT_EQ(scope.dialogs->Log[0].Text, "Password for \"docs/a.txt\"");
    EXPECT_EQ(scope.dialogs->Log[0].Prompt, "Enter password: ");
}

TEST(ArchiverDispatch, DefaultFailurePrompt) {
    ScriptedDialogsScope scope;
    TArkiva a;
    TAKAction action = fxaRetry;
    // A cancelled volume request aborts without asking.
    a.DoOnProcessFileFailure("f", poAdd, 45, 24, "msg", action);
    EXPECT_EQ(action, fxaAbort);
    EXPECT_TRUE(scope.dialogs->Log.empty());

    struct { int answer; TAKAction action; } cases[] = {
        {mrRetry, fxaRetry}, {mrIgnore, fxaIgnore}, {mrAbort, fxaAbort}, {mrCancel, fxaAbort}};
    for (auto c : cases) {
        scope.dialogs->MessageAnswers.push_back(c.answer);
        a.DoOnProcessFileFailure("f", poAdd, 33, 12, "Cannot open file \"f\"", action);
        EXPECT_EQ(action, c.action);
    }
    ASSERT_EQ(scope.dialogs->Log.size(), 4u);
    EXPECT_EQ(scope.dialogs->Log[0].Text, "Cannot open file \"f\". File processing error, possibly disk is full");
    EXPECT_EQ(scope.dialogs->Log[0].Buttons,
              (TMsgDlgButtons{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore}));

    // A handler decides alone, starting from fxaIgnore.
    TAKAction seen = fxaAbort;
    a.OnProcessFileFailure = [&](TAKBaseArchiver*, const std::string&, TAKProcessOperation, int32_t, int32_t,
                                 const std::string&, TAKAction& act) { seen = act; };
    a.DoOnProcessFileFailure("f", poAdd, 45, 24, "msg", action);
    EXPECT_EQ(seen, fxaIgnore);
    EXPECT_EQ(action, fxaIgnore);
}
