// The window on Qt's offscreen platform: its components and settings, the
// split and merge commands end to end, failures, the progress bar, the
// folder dialog component and the Qt prompts of the archiver.
#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QRegularExpression>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QToolButton>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/OpenDialog.h"
#include "app/QtDialogs.h"
#include "app/Unit1.h"
#include "app/folderBrowse.h"
#include "container/DirManager.h"
#include "platform/Dialogs.h"
#include "tests/common/TestSupport.h"

// Readable QStrings in failure messages.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

namespace fs = std::filesystem;

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::set<std::string> FilesIn(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// A window whose dialogs are answered by the test and whose error boxes are
// recorded instead of shown.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TForm1>();
        // The archiver's own prompts are answered from a script (empty: Cancel).
        formDialogs = SetDialogs(scripted);
        form->ChooseFileToSplit = [this] {
            ++fileDialogs;
            return fileToSplit;
        };
        form->ChooseArchive = [this] {
            ++fileDialogs;
            return archiveToMerge;
        };
        form->ShowException = [this](const QString& m) { errors.push_back(m); };
        form->browse->OnShowDialog = [this](const TBrowseRequest& r, QString& chosen) {
            browseRequests.push_back(r);
            if (folderToMerge.isEmpty()) return false;
            chosen = folderToMerge;
            return true;
        };
    }
    void TearDown() override
    {
        SetDialogs(formDialogs);
        form.reset();
    }

    // Splits file with the spin edit at megabytes.
    void Split(const std::string& file, int megabytes)
    {
        fileToSplit = Q(file);
        form->spin->setValue(megabytes);
        form->SpeedButton1Click();
    }
    void Merge(const std::string& archive, const std::string& folder)
    {
        archiveToMerge = Q(archive);
        folderToMerge = Q(folder);
        form->SpeedButton2Click();
    }

    std::shared_ptr<ScriptedDialogs> scripted = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<Dialogs> formDialogs;   // the window's own prompts
    std::unique_ptr<TForm1> form;
    int fileDialogs = 0;
    QString fileToSplit, archiveToMerge, folderToMerge;
    std::vector<QString> errors;
    std::vector<TBrowseRequest> browseRequests;
    TempFolder tmp;
};

TEST_F(WindowTest, WindowSettings)
{
    TForm1& f = *form;
    EXPECT_EQ(f.objectName(), "Form1");
    EXPECT_EQ(f.windowTitle(), "QVT Zedidoru v.0.1.2");
    EXPECT_EQ(f.size(), QSize(460, 217));
    EXPECT_EQ(f.minimumSize(), QSize(460, 217));
    EXPECT_EQ(f.maximumSize(), QSize(460, 217));
    const Qt::WindowFlags flags = f.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(192, 192, 192));
    EXPECT_TRUE(f.autoFillBackground());
    EXPECT_EQ(f.font().pixelSize(), 11);
    EXPECT_FALSE(f.windowIcon().isNull());
    EXPECT_EQ(f.windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        EXPECT_LE(std::abs(f.geometry().center().x() - desk.center().x()), 1);
        EXPECT_LE(std::abs(f.geometry().center().y() - desk.center().y()), 1);
    }
    // The window installed its Qt prompts (the fixture has put its script over them).
    EXPECT_NE(dynamic_cast<QtDialogs*>(formDialogs.get()), nullptr);
}

TEST(WindowLifetime, PromptsAreInstalledWhileTheWindowLives)
{
    auto before = std::make_shared<ScriptedDialogs>();
    auto saved = SetDialogs(before);
    {
        TForm1 form;
        EXPECT_NE(dynamic_cast<QtDialogs*>(&CurrentDialogs()), nullptr);
    }
    EXPECT_EQ(&CurrentDialogs(), before.get());
    SetDialogs(saved);
}

TEST_F(WindowTest, ComponentsUnderTheirNames)
{
    struct Visual {
        const char* name;
        QRect geometry;
        QString text;     // null: no caption
        int pixelSize;
        QColor colour;
    };
    const QColor white(Qt::white), black(Qt::black);
    const std::vector<Visual> table = {
        {"Image1", QRect(0, 0, 460, 201), QString(), 11, black},
        {"Label2", QRect(99, 136, 55, 22), QString(11, ' '), 19, white},
        {"Label3", QRect(432, 96, 16, 13), "MB", 11, white},
        {"Label1", QRect(304, 96, 54, 13), "Select size:", 11, white},
        {"SpeedButton1", QRect(256, 136, 90, 25), "Select file for split", 11, black},
        {"SpeedButton2", QRect(360, 136, 90, 25), "Merge Files", 11, black},
        {"bar", QRect(0, 201, 460, 16), QString(), 11, black},
        {"spin", QRect(368, 88, 57, 22), QString(), 11, black},
    };
    for (const Visual& v : table) {
        SCOPED_TRACE(v.name);
        auto* w = form->findChild<QWidget*>(v.name, Qt::FindDirectChildrenOnly);
        ASSERT_NE(w, nullptr);
        // A label widens when the fallback face needs more room than the stored font did.
        QRect expected = v.geometry;
        if (auto* label = qobject_cast<QLabel*>(w); label && !v.text.isNull())
            expected.setWidth(std::max(expected.width(), label->fontMetrics().horizontalAdvance(v.text)));
        EXPECT_EQ(w->geometry(), expected);
        EXPECT_EQ(w->font().pixelSize(), v.pixelSize);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (!v.text.isNull()) {
                EXPECT_EQ(label->text(), v.text);
            }
            EXPECT_EQ(label->palette().color(QPalette::WindowText), v.colour);
        }
        if (auto* button = qobject_cast<QToolButton*>(w)) {
            EXPECT_EQ(button->text(), v.text);
            EXPECT_TRUE(button->autoRaise());                       // flat
            EXPECT_TRUE(button->autoFillBackground());              // not transparent
            EXPECT_EQ(button->palette().color(QPalette::ButtonText), v.colour);
            EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
            // Greyed when off, as during a command.
            EXPECT_NE(button->palette().color(QPalette::Disabled, QPalette::ButtonText), v.colour);
        }
    }
    EXPECT_EQ(form->Image1, form->findChild<QLabel*>("Image1"));
    EXPECT_EQ(form->Label2, form->findChild<QLabel*>("Label2"));
    EXPECT_EQ(form->SpeedButton1, form->findChild<QToolButton*>("SpeedButton1"));
    EXPECT_EQ(form->bar, form->findChild<QProgressBar*>("bar"));
    EXPECT_EQ(form->spin, form->findChild<QSpinBox*>("spin"));
    EXPECT_EQ(form->open1, form->findChild<TOpenDialog*>("open1"));
    EXPECT_EQ(form->Open2, form->findChild<TOpenDialog*>("Open2"));
    EXPECT_EQ(form->browse, form->findChild<TBrowseForFolder*>("browse"));

    // The picture lies under every other control.
    EXPECT_EQ(form->children().indexOf(form->Image1), 0);
    EXPECT_EQ(form->Image1->pixmap().size(), QSize(460, 200));
    EXPECT_TRUE(form->Label2->alignment() & Qt::AlignHCenter);

    EXPECT_EQ(form->bar->minimum(), 0);
    EXPECT_EQ(form->bar->maximum(), 100);
    EXPECT_EQ(form->bar->value(), 0);
    EXPECT_EQ(TForm1::BarStep, 10);
    EXPECT_FALSE(form->bar->isTextVisible());
    EXPECT_EQ(form->spin->minimum(), 1);
    EXPECT_EQ(form->spin->maximum(), 700);
    EXPECT_EQ(form->spin->value(), 1);

    EXPECT_EQ(form->open1->Filter(), "");
    EXPECT_EQ(form->open1->Title(), "");
    EXPECT_EQ(form->open1->FilterIndex(), 2);
    EXPECT_EQ(form->open1->Options(), (TOpenOptions{ofHideReadOnly, ofPathMustExist, ofEnableSizing}));
    EXPECT_EQ(form->Open2->Filter(), "qvt arhive (*.qvt)");
    EXPECT_EQ(form->Open2->DefaultExt(), "*.qvt");
    EXPECT_EQ(form->Open2->Options(), (TOpenOptions{ofHideReadOnly, ofEnableSizing}));

    EXPECT_EQ(form->browse->Caption(), "Select Destination folder");
    EXPECT_EQ(form->browse->StatusText(), "Plase select folder");
    EXPECT_EQ(form->browse->FolderName(), QDir::homePath());
    EXPECT_TRUE(form->browse->Flags().empty());
    EXPECT_EQ(form->browse->Root(), bl_STANDART);
}

TEST_F(WindowTest, ArchiverSettings)
{
    const TArkiva& zip = *form->zip;
    EXPECT_EQ(zip.Name(), "zip");
    EXPECT_FALSE(zip.ExtractCorruptedFiles());
    EXPECT_EQ(zip.CompressionLevel(), clNone);
    EXPECT_EQ(zip.CompressionMode(), 0);
    EXPECT_EQ(zip.CompressionMethod(), 0);
    EXPECT_EQ(zip.CurrentVersion(), "2.70 ");
    EXPECT_EQ(zip.SpanningMode(), smSplitting);
    EXPECT_TRUE(zip.SpanningOptions().AdvancedNaming());
    EXPECT_EQ(zip.SpanningOptions().VolumeSize(), vsCustom);
    EXPECT_EQ(zip.Options().StorePath(), spNoPath);
    EXPECT_TRUE(zip.Options().FlushBuffers());
    EXPECT_TRUE(zip.Options().OEMFileNames());
    EXPECT_EQ(form->zip->FileMasks(), std::vector<std::string>{"qvt"});
    EXPECT_FALSE(zip.InMemory());
    EXPECT_TRUE(static_cast<bool>(zip.OnOverallProgress));
    EXPECT_EQ(zip.Zip64Mode(), zmAuto);
    // Defaults the commands rely on.
    EXPECT_TRUE(zip.Options().Recurse());
    EXPECT_EQ(zip.Options().OverwriteMode(), omAlways);
    EXPECT_TRUE(zip.Options().CreateDirs());
    EXPECT_TRUE(zip.Options().ReplaceReadOnly());
    EXPECT_TRUE(zip.Options().SetAttributes());
    EXPECT_EQ(zip.Options().ShareMode(), smShareDenyNone);
    EXPECT_FALSE(zip.Active());
}

TEST_F(WindowTest, SplitThenMergeGivesTheFileBack)
{
    fs::create_directory(tmp.File("src"));
    fs::create_directory(tmp.File("out"));
    const std::string data = RandomBytes(5 * 512 * 1024, 17); // 2.5 MiB
    const std::string source = tmp.File("src/movie.avi");
    WriteFile(source, data);

    // Inside every progress event: the commands are off and the label says so.
    int events = 0;
    std::vector<int> barValues;
    bool disabledThroughout = true;
    form->OnProgressStep = [&] {
        ++events;
        barValues.push_back(form->bar->value());
        disabledThroughout = disabledThroughout && form->Busy() && !form->SpeedButton1->isEnabled() &&
                             !form->SpeedButton2->isEnabled() && form->Label2->text() == "WAIT!!";
        if (events == 1) form->grab().save(QStringLiteral(QVT_BINARY_DIR "/qvtsplit-window-busy.png"));
    };

    Split(source, 1);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(FilesIn(tmp.File("src")),
              (std::set<std::string>{"movie.avi", "movie_001.qvt", "movie_002.qvt", "movie.qvt"}));
    EXPECT_EQ(fs::file_size(tmp.File("src/movie_001.qvt")), 1048576u);
    EXPECT_EQ(fs::file_size(tmp.File("src/movie_002.qvt")), 1048576u);
    EXPECT_EQ(form->zip->SpanningOptions().CustomVolumeSize(), 1048576);
    EXPECT_EQ(form->zip->FileName(), tmp.File("src/movie.qvt"));
    EXPECT_FALSE(form->zip->Active());
    EXPECT_EQ(form->Label2->text(), "");
    EXPECT_EQ(form->bar->value(), 100);
    EXPECT_GT(events, 0);
    EXPECT_TRUE(disabledThroughout);
    EXPECT_TRUE(form->SpeedButton1->isEnabled());
    EXPECT_TRUE(form->SpeedButton2->isEnabled());
    EXPECT_FALSE(form->Busy());

    // 7-Zip reads the set too, under its own volume names.
    if (HaveTool("7zz")) {
        fs::create_directory(tmp.File("peer"));
        fs::copy_file(tmp.File("src/movie_001.qvt"), tmp.File("peer/set.z01"));
        fs::copy_file(tmp.File("src/movie_002.qvt"), tmp.File("peer/set.z02"));
        fs::copy_file(tmp.File("src/movie.qvt"), tmp.File("peer/set.zip"));
        std::string out;
        ASSERT_EQ(RunCommand("cd " + ShellQuote(tmp.File("peer")) + " && 7zz x -y -bd set.zip", &out), 0) << out;
        EXPECT_TRUE(ReadFile(tmp.File("peer/movie.avi")) == data);
    }

    // The merge starts stepping from 100: its first step starts the bar over.
    barValues.clear();
    Merge(tmp.File("src/movie.qvt"), tmp.File("out"));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    ASSERT_EQ(browseRequests.size(), 1u);
    EXPECT_EQ(browseRequests[0].Title, "Select Destination folder");
    EXPECT_EQ(browseRequests[0].Selection, QDir::homePath());
    EXPECT_EQ(browseRequests[0].Owner, form.get());
    EXPECT_EQ(FilesIn(tmp.File("out")), std::set<std::string>{"movie.avi"});
    EXPECT_TRUE(ReadFile(tmp.File("out/movie.avi")) == data);
    EXPECT_EQ(form->browse->FolderName(), Q(tmp.File("out")));
    EXPECT_EQ(form->browse->DisplayName(), "out");
    EXPECT_EQ(form->Label2->text(), "");
    EXPECT_EQ(form->bar->value(), 100);
    ASSERT_FALSE(barValues.empty());
    EXPECT_EQ(barValues[0], 0);
    if (barValues.size() > 1) {
        EXPECT_EQ(barValues[1], 10);
    }
    EXPECT_TRUE(disabledThroughout);
    EXPECT_TRUE(scripted->Log.empty());
}

TEST_F(WindowTest, SmallFilesGiveOneArchiveFile)
{
    // No extension: ".qvt" is appended. At 700 MB the size is 734,003,200 bytes.
    const std::string source = tmp.File("readme");
    WriteFile(source, "short text\n");
    Split(source, 700);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(FilesIn(tmp.Path()), (std::set<std::string>{"readme", "readme.qvt"}));
    EXPECT_EQ(form->zip->SpanningOptions().CustomVolumeSize(), 734003200);
    if (HaveTool("unzip")) {
        std::string out;
        EXPECT_EQ(RunCommand("unzip -p " + ShellQuote(tmp.File("readme.qvt")) + " readme", &out), 0);
        EXPECT_EQ(out, "short text\n");
    }
}

TEST_F(WindowTest, ANameWithWildcardsSplitsOnlyThatFile)
{
    // "?" is a legal file-name character here; the add's mask must not take
    // the neighbour it matches along.
    const std::string source = tmp.File("a?c.bin");
    WriteFile(source, "the one\n");
    WriteFile(tmp.File("abc.bin"), "a neighbour\n");
    Split(source, 1);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    TArkiva check;
    check.SetFileName(tmp.File("a?c.qvt"));
    check.OpenArchive(64);
    ASSERT_EQ(check.DirManager()->CurrentList.GetCount(), 1);
    EXPECT_EQ(check.DirManager()->CurrentList.ItemAt(0).StoredName, "a?c.bin");
    // The handler is gone again: a merge extracts every item.
    Merge(tmp.File("a?c.qvt"), tmp.File("back"));
    EXPECT_EQ(ReadFile(tmp.File("back/a?c.bin")), "the one\n");
}

TEST_F(WindowTest, SplitAfterMergingASingleVolumeStillCutsVolumes)
{
    fs::create_directory(tmp.File("out"));
    WriteFile(tmp.File("small.txt"), "one volume\n");
    Split(tmp.File("small.txt"), 1);
    Merge(tmp.File("small.qvt"), tmp.File("out"));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(ReadFile(tmp.File("out/small.txt")), "one volume\n");
    EXPECT_EQ(form->zip->SpanningMode(), smNone); // what the open found

    WriteFile(tmp.File("big.bin"), RandomBytes(3 * 512 * 1024, 11));
    Split(tmp.File("big.bin"), 1);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_TRUE(fs::exists(tmp.File("big_001.qvt")));
    EXPECT_TRUE(fs::exists(tmp.File("big.qvt")));
    EXPECT_EQ(fs::file_size(tmp.File("big_001.qvt")), 1048576u);
}

TEST_F(WindowTest, CancelledDialogsChangeNothing)
{
    WriteFile(tmp.File("a.qvt"), "not touched");
    const QString blanks(11, ' ');
    auto unchanged = [&] {
        EXPECT_EQ(form->Label2->text(), blanks);
        EXPECT_EQ(form->bar->value(), 0);
        EXPECT_FALSE(form->zip->Active());
        EXPECT_EQ(form->zip->FileName(), "");
        EXPECT_EQ(form->zip->BaseDir(), "");
        EXPECT_EQ(FilesIn(tmp.Path()), std::set<std::string>{"a.qvt"});
        EXPECT_TRUE(errors.empty());
    };
    fileToSplit.clear();
    form->SpeedButton1->click();
    unchanged();
    archiveToMerge.clear();
    form->SpeedButton2->click();
    unchanged();
    EXPECT_EQ(fileDialogs, 2);
    EXPECT_TRUE(browseRequests.empty());
    // An archive chosen, the folder dialog cancelled: the merge is off.
    Merge(tmp.File("a.qvt"), "");
    unchanged();
    EXPECT_EQ(browseRequests.size(), 1u);
    EXPECT_EQ(form->browse->FolderName(), QDir::homePath());
}

TEST_F(WindowTest, SplittingAnArchiveNameIsRefused)
{
    const std::string source = tmp.File("set.qvt");
    WriteFile(source, "precious");
    Split(source, 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "The archive would replace the file to split.");
    EXPECT_EQ(ReadFile(source), "precious");
    EXPECT_EQ(FilesIn(tmp.Path()), std::set<std::string>{"set.qvt"});
    EXPECT_FALSE(form->zip->Active());
    EXPECT_EQ(form->zip->FileName(), "");
}

TEST_F(WindowTest, SplittingAFileThatIsGoneIsReported)
{
    Split(tmp.File("gone.bin"), 1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "zip: File \"" + Q(tmp.File("gone.bin")) + "\" not found - Native error: 00012");
    EXPECT_TRUE(FilesIn(tmp.Path()).empty());
    EXPECT_FALSE(form->zip->Active());
    EXPECT_TRUE(form->SpeedButton1->isEnabled());
}

TEST_F(WindowTest, BadArchivesShowTheArchiversMessage)
{
    const QRegularExpression archiverMessage(QStringLiteral("^zip: .+ - Native error: \\d{5}$"));
    fs::create_directory(tmp.File("out"));
    struct Case {
        const char* what;
        bool create;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"garbage", true, RandomBytes(5000, 3)},
        {"empty", true, ""},
        {"missing", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        errors.clear();
        const std::string name = tmp.File(std::string(c.what) + ".qvt");
        if (c.create) WriteFile(name, c.bytes);
        Merge(name, tmp.File("out"));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(archiverMessage.match(errors[0]).hasMatch()) << errors[0].toStdString();
        EXPECT_EQ(fs::exists(name), c.create); // a missing archive is not created
        EXPECT_TRUE(FilesIn(tmp.File("out")).empty());
        EXPECT_FALSE(form->Busy());
        EXPECT_TRUE(form->SpeedButton2->isEnabled());
    }
    EXPECT_TRUE(errors[0].contains(Q(tmp.File("missing.qvt")))) << errors[0].toStdString();
}

TEST_F(WindowTest, FailureDuringTheWorkLeavesWaitAndTheArchiveOpen)
{
    fs::create_directory(tmp.File("out"));
    const std::string data = RandomBytes(3 * 512 * 1024, 5); // 1.5 MiB
    const std::string source = tmp.File("disk.img");
    WriteFile(source, data);
    Split(source, 1);
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

    // Damage one byte of stored data in the first volume.
    const std::string first = tmp.File("disk_001.qvt");
    std::string volume = ReadFile(first);
    const std::string good = volume;
    volume[4096] = static_cast<char>(volume[4096] ^ 0x5A);
    WriteFile(first, volume);

    Merge(tmp.File("disk.qvt"), tmp.File("out"));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith("zip: ")) << errors[0].toStdString();
    EXPECT_TRUE(QRegularExpression(" - Native error: \\d{5}$").match(errors[0]).hasMatch()) << errors[0].toStdString();
    // The archiver asked its failure question first (answered Cancel: abort).
    ASSERT_EQ(scripted->Log.size(), 1u);
    EXPECT_EQ(scripted->Log[0].Buttons, (TMsgDlgButtons{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore}));
    EXPECT_TRUE(QString::fromStdString(scripted->Log[0].Text).endsWith("File processing error, possibly disk is full"));
    // The later steps did not run.
    EXPECT_EQ(form->Label2->text(), "WAIT!!");
    EXPECT_TRUE(form->zip->Active());
    EXPECT_NE(form->bar->value(), 100);
    EXPECT_FALSE(fs::exists(tmp.File("out/disk.img")));
    EXPECT_FALSE(form->Busy());

    // The next command closes that archive before opening its own.
    WriteFile(first, good);
    errors.clear();
    Merge(tmp.File("disk.qvt"), tmp.File("out"));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_TRUE(ReadFile(tmp.File("out/disk.img")) == data);
    EXPECT_FALSE(form->zip->Active());
    EXPECT_EQ(form->Label2->text(), "");
    EXPECT_EQ(form->bar->value(), 100);
}

TEST_F(WindowTest, ClosingDuringACommandWaitsForIt)
{
    const std::string source = tmp.File("big.bin");
    WriteFile(source, RandomBytes(3 * 512 * 1024, 9));
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    int events = 0;
    bool stayedOpen = true;
    form->OnProgressStep = [&] {
        ++events;
        form->close();
        // A second command started from inside is ignored.
        fileToSplit = Q(tmp.File("other"));
        form->SpeedButton1Click();
        stayedOpen = stayedOpen && form->isVisible();
    };
    fileToSplit = Q(source);
    form->spin->setValue(1);
    form->SpeedButton1Click();
    EXPECT_GT(events, 0);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(fs::exists(tmp.File("big.qvt")));
    EXPECT_FALSE(fs::exists(tmp.File("other.qvt")));
    for (int i = 0; i < 20 && form->isVisible(); ++i) QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
}

TEST(WindowProgram, WithoutADisplayItSaysSoAndFails)
{
    // Nothing listens on display 9999: the program is told of a display it cannot reach.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "qvtsplit: no display found"},
        {"env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:9999", "qvtsplit: cannot open the display"},
    };
    for (const auto& [env, message] : cases) {
        SCOPED_TRACE(env);
        std::string out;
        EXPECT_EQ(RunCommand(env + " " + ShellQuote(QVTSPLIT_PATH), &out), 1) << out;
        EXPECT_NE(out.find(message), std::string::npos) << out;
    }
}

TEST_F(WindowTest, Screenshot)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QString path = QStringLiteral(QVT_BINARY_DIR "/qvtsplit-window.png");
    const QPixmap shot = form->grab();
    EXPECT_EQ(shot.size(), QSize(460, 217));
    EXPECT_TRUE(shot.save(path));
}

// ---- the folder dialog component ----

class FolderBrowseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        browse = new TBrowseForFolder(&owner);
        browse->OnShowDialog = [this](const TBrowseRequest& r, QString& chosen) {
            requests.push_back(r);
            if (answer.isEmpty()) return false;
            chosen = answer;
            return true;
        };
    }
    QWidget owner;
    TBrowseForFolder* browse = nullptr; // owned by owner
    std::vector<TBrowseRequest> requests;
    QString answer;
};

TEST_F(FolderBrowseTest, Defaults)
{
    EXPECT_EQ(browse->DisplayName(), "");
    EXPECT_EQ(browse->StatusText(), "Plase select folder");
    EXPECT_EQ(browse->FolderName(), QDir::homePath());
    EXPECT_TRUE(browse->Flags().empty());
    EXPECT_EQ(browse->Root(), bl_STANDART);
    EXPECT_EQ(browse->Caption(), "Select Folder");
    EXPECT_EQ(browse->parent(), &owner);
}

TEST_F(FolderBrowseTest, FlagsAreTheRecordsBits)
{
    const std::vector<std::pair<TBrowseFlag, uint32_t>> table = {
        {bf_BrowseForComputer, 0x1000}, {bf_BrowseForPrinter, 0x2000}, {bf_DontGoBelowDomain, 0x0002},
        {bf_statustext, 0x0004},        {bf_ReturnFSanceStors, 0x0008}, {bf_ReturnOnlyFSDIRS, 0x0001},
        {bf_EditBox, 0x0010},
    };
    for (const auto& [flag, bit] : table) {
        browse->SetFlags({flag});
        EXPECT_EQ(browse->BrowseInfo().Flags, bit) << flag;
        EXPECT_EQ(browse->Flags(), TBrowseFlags{flag});
    }

    browse->SetFlags({bf_ReturnOnlyFSDIRS, bf_EditBox});
    EXPECT_EQ(browse->BrowseInfo().Flags, 0x11u);
    EXPECT_FALSE(browse->Execute());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Flags, 0x31u);
    EXPECT_EQ(browse->BrowseInfo().Flags, 0x31u);
    EXPECT_EQ(browse->Flags(), (TBrowseFlags{bf_ReturnOnlyFSDIRS, bf_EditBox}));
    // Setting the flags leaves the other bits alone.
    browse->SetFlags({});
    EXPECT_EQ(browse->BrowseInfo().Flags, 0x20u);
    EXPECT_TRUE(browse->Flags().empty());
}

TEST_F(FolderBrowseTest, RootStaysUntilAnotherIsSet)
{
    const QString fonts = QStandardPaths::writableLocation(QStandardPaths::FontsLocation);
    browse->Execute();
    browse->SetRoot(bl_FONTS);
    browse->Execute();
    browse->SetRoot(bl_STANDART);
    browse->Execute();
    browse->SetRoot(bl_CUSTOM);
    browse->Execute();
    browse->SetRoot(bl_PERSONAL);
    browse->Execute();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].Root, "");
    EXPECT_EQ(requests[1].Root, fonts);
    EXPECT_EQ(requests[2].Root, fonts);
    EXPECT_EQ(requests[3].Root, "");
    EXPECT_EQ(requests[4].Root, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    EXPECT_EQ(browse->BrowseInfo().Root, requests[4].Root);
    EXPECT_EQ(SpecialFolderPath(bl_DRIVES), "/");
    EXPECT_EQ(SpecialFolderPath(bl_PRINTERS), "");
}

TEST_F(FolderBrowseTest, ChoiceIsKeptAndPreselected)
{
    TempFolder tmp;
    fs::create_directory(tmp.File("Data"));
    browse->SetCaption("Pick one");
    browse->SetStatusText("status here");
    answer = Q(tmp.File("Data"));
    EXPECT_TRUE(browse->Execute());
    EXPECT_EQ(browse->FolderName(), Q(tmp.File("Data")));
    EXPECT_EQ(browse->DisplayName(), "Data");
    // Cancelled: both keep their values; the last choice is preselected.
    answer.clear();
    EXPECT_FALSE(browse->Execute());
    EXPECT_EQ(browse->FolderName(), Q(tmp.File("Data")));
    EXPECT_EQ(browse->DisplayName(), "Data");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Selection, QDir::homePath());
    EXPECT_EQ(requests[1].Selection, Q(tmp.File("Data")));
    EXPECT_EQ(requests[1].Title, "Pick one");
    EXPECT_EQ(requests[1].StatusText, "status here");
    EXPECT_EQ(requests[1].Owner, &owner);
    EXPECT_EQ(browse->BrowseInfo().Title, "Pick one");
}

// ---- the archiver's prompts in Qt ----

// Answers the message box or input dialog that opens next from inside its loop.
template <typename Dialog, typename Act>
void WhenShown(Act act)
{
    QTimer::singleShot(0, [act] {
        auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        act(*d);
    });
}

// The real dialogs behind the hooks, answered from inside their loops.
TEST(WindowRealDialogs, FolderDialogOpensOnTheFolderAndReturnsIt)
{
    TempFolder tmp;
    fs::create_directory(tmp.File("Data"));
    QWidget owner;
    TBrowseForFolder browse(&owner);
    browse.SetCaption("Select Destination folder");
    browse.SetFolderName(Q(tmp.File("Data")));
    browse.SetFlags({bf_statustext});
    QString shownDir, title, status;
    bool directoryMode = false;
    WhenShown<QFileDialog>([&](QFileDialog& d) {
        shownDir = d.directory().absolutePath();
        title = d.windowTitle();
        directoryMode = d.fileMode() == QFileDialog::Directory;
        if (auto* label = d.findChild<QLabel*>("statusText")) status = label->text();
        static_cast<QDialog&>(d).accept(); // QFileDialog::accept, which checks the entry
    });
    EXPECT_TRUE(browse.Execute());
    EXPECT_EQ(shownDir, Q(tmp.File("Data")));
    EXPECT_EQ(title, "Select Destination folder");
    EXPECT_TRUE(directoryMode);
    EXPECT_EQ(status, "Plase select folder");
    EXPECT_EQ(browse.FolderName(), Q(tmp.File("Data")));
    EXPECT_EQ(browse.DisplayName(), "Data");

    WhenShown<QFileDialog>([](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(browse.Execute());
    EXPECT_EQ(browse.FolderName(), Q(tmp.File("Data")));
}

TEST(WindowRealDialogs, OpenDialogUsesItsSettings)
{
    TempFolder tmp;
    WriteFile(tmp.File("set.qvt"), "x");
    QWidget owner;
    TOpenDialog open(&owner);
    open.SetFilter("qvt arhive (*.qvt)");
    open.SetDefaultExt("*.qvt");
    QStringList filters;
    QString suffix;
    bool existingOnly = false;
    WhenShown<QFileDialog>([&](QFileDialog& d) {
        filters = d.nameFilters();
        suffix = d.defaultSuffix();
        existingOnly = d.fileMode() == QFileDialog::ExistingFile;
        d.selectFile(Q(tmp.File("set.qvt")));
        static_cast<QDialog&>(d).accept(); // QFileDialog::accept, which checks the entry
    });
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName(), Q(tmp.File("set.qvt")));
    EXPECT_EQ(filters, QStringList{"qvt arhive (*.qvt)"});
    EXPECT_EQ(suffix, "qvt");
    EXPECT_TRUE(existingOnly);

    WhenShown<QFileDialog>([](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(open.Execute());
    EXPECT_EQ(open.FileName(), Q(tmp.File("set.qvt")));
}

std::set<QMessageBox::StandardButton> StandardButtons(QMessageBox& box)
{
    std::set<QMessageBox::StandardButton> s;
    for (QAbstractButton* b : box.buttons()) s.insert(box.standardButton(b));
    return s;
}

TEST(WindowPromptsTest, MessageBoxesOfferExactlyTheNamedButtons)
{
    QtDialogs dialogs;
    struct Case {
        TMsgDlgButtons buttons;
        std::set<QMessageBox::StandardButton> shown;
        QMessageBox::StandardButton click;   // NoButton: close with Escape
        int result;
    };
    const std::vector<Case> cases = {
        {{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbYesToAll},
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::NoToAll, QMessageBox::YesToAll}, QMessageBox::NoToAll,
         mrNoToAll},
        {{TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbNoToAll, TMsgDlgBtn::mbYesToAll},
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::NoToAll, QMessageBox::YesToAll}, QMessageBox::YesToAll,
         mrYesToAll},
        {{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore},
         {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore}, QMessageBox::Retry, mrRetry},
        {{TMsgDlgBtn::mbAbort, TMsgDlgBtn::mbRetry, TMsgDlgBtn::mbIgnore},
         {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore}, QMessageBox::Ignore, mrIgnore},
        {{TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}, {QMessageBox::Ok, QMessageBox::Cancel}, QMessageBox::Ok, mrOk},
        {{TMsgDlgBtn::mbOK, TMsgDlgBtn::mbCancel}, {QMessageBox::Ok, QMessageBox::Cancel}, QMessageBox::NoButton,
         mrCancel},
    };
    for (const Case& c : cases) {
        std::set<QMessageBox::StandardButton> shown;
        QString text;
        const QMessageBox::StandardButton click = c.click;
        WhenShown<QMessageBox>([&shown, &text, click](QMessageBox& box) {
            shown = StandardButtons(box);
            text = box.text();
            if (click == QMessageBox::NoButton) QTest::keyClick(&box, Qt::Key_Escape);
            else box.button(click)->click();
        });
        const int result = dialogs.MessageDlg("Overwrite file \"a\" with \"b\"", TMsgDlgType::mtConfirmation, c.buttons);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(text, "Overwrite file \"a\" with \"b\"");
        EXPECT_EQ(result, c.result);
    }
}

TEST(WindowPromptsTest, PasswordIsAskedMasked)
{
    QtDialogs dialogs;
    std::string value = "old";
    QLineEdit::EchoMode mode = QLineEdit::Normal;
    QString title, label, shownValue;
    WhenShown<QInputDialog>([&](QInputDialog& d) {
        mode = d.textEchoMode();
        title = d.windowTitle();
        label = d.labelText();
        shownValue = d.textValue();
        d.setTextValue("s\u00e9cret");
        d.accept();
    });
    EXPECT_TRUE(dialogs.InputQuery("Password for \"x.txt\"", "Enter password: ", value));
    EXPECT_EQ(mode, QLineEdit::Password);
    EXPECT_EQ(title, "Password for \"x.txt\"");
    EXPECT_EQ(label, "Enter password: ");
    EXPECT_EQ(shownValue, "old");
    EXPECT_EQ(value, "s\xc3\xa9" "cret");

    WhenShown<QInputDialog>([](QInputDialog& d) { d.reject(); });
    EXPECT_FALSE(dialogs.InputQuery("Password for \"x.txt\"", "Enter password: ", value));
    EXPECT_EQ(value, "s\xc3\xa9" "cret");
}

} // namespace

int main(int argc, char** argv)
{
    // No display needed: Qt draws into memory.
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
