#include "app/Unit1.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QMetaObject>
#include <QtGui/QCloseEvent>
#include <QtGui/QFont>
#include <QtGui/QFontMetrics>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPalette>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QToolButton>

#include <algorithm>
#include <cstdint>
#include <exception>

#include "app/OpenDialog.h"
#include "app/QtDialogs.h"
#include "app/WindowSettings.h"
#include "app/folderBrowse.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

// The images live in the library's resources; a static library needs them
// registered by name.
static void InitWindowResources()
{
    Q_INIT_RESOURCE(qvtsplit);
}

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 460;
constexpr int kClientHeight = 217;
constexpr int32_t kSearchAttr = 10431;  // every kind of entry
constexpr uint16_t kReadOnlyShared = fmOpenRead | fmShareDenyNone; // 64: read only, nothing denied
constexpr int kMinVolumeMB = 1;
constexpr int kMaxVolumeMB = 700;

const QColor kSilver(192, 192, 192);
const QColor kButtonFace(240, 240, 240);
const QColor kGrayText(128, 128, 128);

// "MS Sans Serif" and "Arial" are rarely installed here: the faces after them
// are the nearest sans-serif ones at the same pixel height.
QFont WindowFont(const QString& family, int pixelHeight)
{
    QFont font;
    font.setFamilies({family, QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelHeight);
    return font;
}

void SetTextColour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(role, colour);
    w->setPalette(p);
}

// A file name as the file system spells it.
std::string Local(const QString& s)
{
    return QFile::encodeName(s).toStdString();
}

} // namespace

// Marks a command as running: the two commands are disabled, and a close
// asked for meanwhile is carried out when the command ends.
class TForm1::BusyScope {
public:
    explicit BusyScope(TForm1& form) : form_(form)
    {
        form_.busy_ = true;
        form_.SpeedButton1->setEnabled(false);
        form_.SpeedButton2->setEnabled(false);
    }
    ~BusyScope()
    {
        form_.busy_ = false;
        form_.SpeedButton1->setEnabled(true);
        form_.SpeedButton2->setEnabled(true);
        if (form_.closePending_) {
            form_.closePending_ = false;
            QMetaObject::invokeMethod(&form_, &QWidget::close, Qt::QueuedConnection);
        }
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TForm1& form_;
};

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    InitWindowResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("QVT Zedidoru v.0.1.2"));
    setWindowIcon(QIcon(QStringLiteral(":/qvtsplit/qvtsplit.png")));
    setFixedSize(kClientWidth, kClientHeight);
    setWindowOpacity(1.0);
    setAutoFillBackground(true);
    SetTextColour(this, QPalette::Window, kSilver);
    SetTextColour(this, QPalette::WindowText, Qt::black);
    setFont(WindowFont(QStringLiteral("MS Sans Serif"), 11));

    BuildComponents();
    ConfigureArchiver();

    dialogs_ = std::make_shared<QtDialogs>(this);
    previousDialogs_ = SetDialogs(dialogs_);

    ChooseFileToSplit = [this] { return open1->Execute() ? open1->FileName() : QString(); };
    ChooseArchive = [this] { return Open2->Execute() ? Open2->FileName() : QString(); };
    ShowException = [this](const QString& message) {
        QMessageBox::critical(this, QCoreApplication::applicationName(), message);
    };

    // Centred on the desktop; the stored place is Left 179, Top 139.
    move(179, 139);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        move(desk.left() + (desk.width() - kClientWidth) / 2, desk.top() + (desk.height() - kClientHeight) / 2);
    }
    FormCreate();
}

TForm1::~TForm1()
{
    // Give the prompts back to whoever had them, unless someone took them over.
    std::shared_ptr<Dialogs> current = SetDialogs(previousDialogs_);
    if (current != dialogs_) SetDialogs(current);
    zip->OnOverallProgress = nullptr; // the bar goes before the archiver
    zip.reset();                      // closes any archive that is still open
}

void TForm1::BuildComponents()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 460, 201);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/qvtsplit/background.jpg")));

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(99, 136, 55, 22);
    Label2->setText(QString(11, QLatin1Char(' ')));
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label2->setFont(WindowFont(QStringLiteral("Arial"), 19));
    SetTextColour(Label2, QPalette::WindowText, Qt::white);

    Label3 = new QLabel(QStringLiteral("MB"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(432, 96, 16, 13);
    SetTextColour(Label3, QPalette::WindowText, Qt::white);

    Label1 = new QLabel(QStringLiteral("Select size:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(304, 96, 54, 13);
    SetTextColour(Label1, QPalette::WindowText, Qt::white);

    // Flat speed buttons with an opaque face: no border until the mouse is over them.
    auto makeButton = [this](const QString& name, const QString& caption, int left) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setText(caption);
        b->setGeometry(left, 136, 90, 25);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setAutoFillBackground(true);
        QPalette p = b->palette();
        p.setColor(QPalette::Button, kButtonFace);
        p.setColor(QPalette::Window, kButtonFace);
        p.setColor(QPalette::ButtonText, Qt::black);
        // Greyed while a command runs, so the user sees they are off.
        p.setColor(QPalette::Disabled, QPalette::ButtonText, kGrayText);
        b->setPalette(p);
        return b;
    };
    SpeedButton1 = makeButton(QStringLiteral("SpeedButton1"), QStringLiteral("Select file for split"), 256);
    SpeedButton2 = makeButton(QStringLiteral("SpeedButton2"), QStringLiteral("Merge Files"), 360);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });

    bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("bar"));
    bar->setGeometry(0, 201, 460, 16);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);

    spin = new QSpinBox(this);
    spin->setObjectName(QStringLiteral("spin"));
    spin->setGeometry(368, 88, 57, 22);
    spin->setRange(kMinVolumeMB, kMaxVolumeMB);
    spin->setValue(0); // stored 0, clamped to the minimum
    setTabOrder(bar, spin);

    open1 = new TOpenDialog(this);
    open1->setObjectName(QStringLiteral("open1"));
    open1->SetFilterIndex(2);
    open1->SetOptions({ofHideReadOnly, ofPathMustExist, ofEnableSizing});

    Open2 = new TOpenDialog(this);
    Open2->setObjectName(QStringLiteral("Open2"));
    Open2->SetFilter(QStringLiteral("qvt arhive (*.qvt)"));
    Open2->SetDefaultExt(QStringLiteral("*.qvt"));
    Open2->SetOptions({ofHideReadOnly, ofEnableSizing});

    browse = new TBrowseForFolder(this);
    browse->setObjectName(QStringLiteral("browse"));
    browse->SetCaption(QStringLiteral("Select Destination folder"));
    browse->SetStatusText(QStringLiteral("Plase select folder"));
    browse->SetFolderName(QDir::homePath());
    browse->SetFlags({});
    browse->SetRoot(bl_STANDART);

    // The labels size themselves to their captions, as they did with the
    // stored font; a wider fallback face widens them.
    for (QLabel* label : {Label2, Label3, Label1}) SetLabelCaption(label, label->text());
    Image1->lower();
}

void TForm1::ConfigureArchiver()
{
    zip = std::make_unique<TArkiva>();
    zip->SetName("zip");
    ApplyWindowSettings(*zip);
    zip->SetCurrentVersion("2.70 ");
    zip->OnOverallProgress = [this](TAKBaseArchiver* Sender, double Progress, TAKProcessOperation Operation,
                                    TAKProgressPhase ProgressPhase, bool& Cancel) {
        zipOverallProgress(Sender, Progress, Operation, ProgressPhase, Cancel);
    };
}

void TForm1::FormCreate() {}

void TForm1::SetLabelCaption(QLabel* label, const QString& caption)
{
    label->setText(caption);
    // The label grows with a longer caption, keeping its left edge.
    const int needed = label->fontMetrics().horizontalAdvance(caption);
    if (needed > label->width()) label->resize(needed, label->height());
}

void TForm1::RunCommand(const std::function<void()>& steps)
{
    try {
        steps();
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("The operation failed."));
    }
}

void TForm1::SpeedButton1Click()
{
    if (busy_) return;
    const QString chosen = ChooseFileToSplit ? ChooseFileToSplit() : QString();
    if (chosen.isEmpty()) return;
    const std::string file = Local(chosen);
    const std::string archive = platform::ChangeFileExt(file, ".qvt");
    if (archive == file) {
        ShowException(QStringLiteral("The archive would replace the file to split."));
        return;
    }

    BusyScope busy(*this);
    RunCommand([&] {
        // A file gone since it was chosen would leave an empty archive behind.
        if (!platform::FileExists(file)) throw EAKException(12, zip.get(), {file});
        // Opening an existing archive in a merge sets the spanning mode and
        // the naming to what it found; a split always cuts volumes under the
        // window's naming. These can be set only while no archive is open (a
        // failed command may have left one): close it as the open would.
        zip->CloseArchive();
        zip->SetSpanningMode(smSplitting);
        zip->SpanningOptions().SetAdvancedNaming(true);
        zip->SetFileName(archive);
        zip->OpenArchive(fmCreate);
        const int32_t megabytes = std::clamp(spin->value(), kMinVolumeMB, kMaxVolumeMB);
        zip->SpanningOptions().SetCustomVolumeSize(static_cast<int64_t>(megabytes << 20));
        zip->SetBaseDir(platform::ExtractFilePath(file));
        SetLabelCaption(Label2, QStringLiteral("WAIT!!"));
        QApplication::processEvents();
        {
            // The file's name is the add's mask: a name holding "*" or "?"
            // (legal here) would also take the neighbours it matches.
            zip->OnConfirmProcessFile = [file](TAKBaseArchiver*, const std::string& name, TAKProcessOperation,
                                               bool& confirm) { confirm = name == file; };
            struct ResetHandler {
                TArkiva& a;
                ~ResetHandler() { a.OnConfirmProcessFile = nullptr; }
            } reset{*zip};
            zip->AddFiles(file, kSearchAttr, "");
        }
        SetLabelCaption(Label2, QString());
        zip->CloseArchive();
        bar->setValue(100);
    });
}

void TForm1::SpeedButton2Click()
{
    if (busy_) return;
    const QString chosen = ChooseArchive ? ChooseArchive() : QString();
    if (chosen.isEmpty()) return;
    if (!browse->Execute()) return;

    BusyScope busy(*this);
    RunCommand([&] {
        zip->SetFileName(Local(chosen));
        // A missing archive is reported, not created empty.
        if (platform::FileExists(zip->FileName())) zip->OpenArchive();
        else zip->OpenArchive(kReadOnlyShared);
        zip->SetBaseDir(Local(browse->FolderName()));
        SetLabelCaption(Label2, QStringLiteral("WAIT!!"));
        QApplication::processEvents();
        zip->ExtractFiles("*.*", kSearchAttr, "");
        zip->CloseArchive();
        SetLabelCaption(Label2, QString());
        bar->setValue(100);
    });
}

void TForm1::zipOverallProgress(TAKBaseArchiver*, double, TAKProcessOperation, TAKProgressPhase, bool&)
{
    QApplication::processEvents();
    StepBar();
    if (OnProgressStep) OnProgressStep();
}

void TForm1::StepBar()
{
    int next = bar->value() + BarStep;
    if (next > bar->maximum()) next = bar->minimum();
    bar->setValue(next);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (busy_) {
        // The archiver is working inside this call chain: close when it is done.
        closePending_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
