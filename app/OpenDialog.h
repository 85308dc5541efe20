#pragma once
// TOpenDialog: a non-visual component holding the settings of a file-open
// dialog; Execute shows Qt's file dialog with them.
#include <QtCore/QObject>
#include <QtCore/QString>

#include <set>

class QWidget;

enum TOpenOption {
    ofReadOnly,
    ofOverwritePrompt,
    ofHideReadOnly,
    ofNoChangeDir,
    ofShowHelp,
    ofNoValidate,
    ofAllowMultiSelect,
    ofExtensionDifferent,
    ofPathMustExist,
    ofFileMustExist,
    ofCreatePrompt,
    ofShareAware,
    ofNoReadOnlyReturn,
    ofNoTestFileCreate,
    ofNoNetworkButton,
    ofNoLongNames,
    ofOldStyleDialog,
    ofNoDereferenceLinks,
    ofEnableIncludeNotify,
    ofEnableSizing
};
using TOpenOptions = std::set<TOpenOption>;

class TOpenDialog : public QObject {
    Q_OBJECT
public:
    explicit TOpenDialog(QWidget* owner);

    // Name filters in Qt's form, ";;" between them: "qvt arhive (*.qvt)".
    const QString& Filter() const { return filter_; }
    void SetFilter(const QString& v) { filter_ = v; }
    // 1-based; an index beyond the filters selects the first.
    int FilterIndex() const { return filterIndex_; }
    void SetFilterIndex(int v) { filterIndex_ = v; }
    // Appended when the user types a name without extension; a leading "*."
    // or "." is not part of it.
    const QString& DefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const QString& v) { defaultExt_ = v; }
    const QString& Title() const { return title_; }
    void SetTitle(const QString& v) { title_ = v; }
    const TOpenOptions& Options() const { return options_; }
    void SetOptions(const TOpenOptions& v) { options_ = v; }
    // The name chosen last; the next dialog opens in its folder.
    const QString& FileName() const { return fileName_; }
    void SetFileName(const QString& v) { fileName_ = v; }

    // Shows the dialog modally; true with FileName set when a file was chosen.
    bool Execute();

private:
    QWidget* owner_;
    QString filter_;
    int filterIndex_ = 1;
    QString defaultExt_;
    QString title_;
    TOpenOptions options_{ofHideReadOnly, ofEnableSizing};
    QString fileName_;
};
