#pragma once
// The main window: split one file into volumes of a chosen size, or merge a
// set of volumes back into a chosen folder. All archive work is done by the
// window's archiver `zip`.
#include <QtCore/QString>
#include <QtWidgets/QWidget>

#include <functional>
#include <memory>

#include "archiver/Arkiva.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QSpinBox;
class QToolButton;
class QtDialogs;
class TBrowseForFolder;
class TOpenDialog;
class Dialogs;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Components, in their stored order (owned by the window).
    QLabel* Image1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QProgressBar* bar = nullptr;
    QSpinBox* spin = nullptr;
    TOpenDialog* open1 = nullptr;
    TOpenDialog* Open2 = nullptr;
    TBrowseForFolder* browse = nullptr;
    std::unique_ptr<TArkiva> zip;

    // Step of the progress bar.
    static constexpr int BarStep = 10;

    // Handlers.
    void FormCreate();
    void SpeedButton1Click();   // the split command
    void SpeedButton2Click();   // the merge command
    void zipOverallProgress(TAKBaseArchiver* Sender, double Progress, TAKProcessOperation Operation,
                            TAKProgressPhase ProgressPhase, bool& Cancel);

    // Steps the bar by BarStep; past its maximum it starts over from its minimum.
    void StepBar();
    // A command is running: the commands are disabled and closing waits for it.
    bool Busy() const { return busy_; }

    // Replaceable by tests: the file to split and the archive to merge (an
    // empty name cancels the command), and the display of a failure.
    std::function<QString()> ChooseFileToSplit;
    std::function<QString()> ChooseArchive;
    std::function<void(const QString& message)> ShowException;
    // Called at the end of every progress event, for tests.
    std::function<void()> OnProgressStep;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class BusyScope;
    void BuildComponents();
    void ConfigureArchiver();
    // Runs a command's archive steps; a failure ends them and is shown.
    void RunCommand(const std::function<void()>& steps);
    void SetLabelCaption(QLabel* label, const QString& caption);

    std::shared_ptr<QtDialogs> dialogs_;
    std::shared_ptr<Dialogs> previousDialogs_;
    bool busy_ = false;
    bool closePending_ = false;
};

// The application's main window.
extern TForm1* Form1;
