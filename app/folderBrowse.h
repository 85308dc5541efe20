#pragma once
// TBrowseForFolder: a non-visual component that lets the user pick a folder.
// It keeps a browse record (title, root, flag bits, display name) that lives
// as long as the component, so bits and a root set by one Execute stay for
// the next; the dialog itself is Qt's file dialog in directory mode.
#include <QtCore/QObject>
#include <QtCore/QString>

#include <cstdint>
#include <functional>
#include <set>

class QWidget;

enum TBrowseFlag {
    bf_BrowseForComputer,
    bf_BrowseForPrinter,
    bf_DontGoBelowDomain,
    bf_statustext,
    bf_ReturnFSanceStors,
    bf_ReturnOnlyFSDIRS,
    bf_EditBox
};
using TBrowseFlags = std::set<TBrowseFlag>;

enum TBrowseLocation {
    bl_STANDART,
    bl_CUSTOM,
    bl_DESKTOP,
    bl_PROGRAMS,
    bl_CONTROLS,
    bl_PRINTERS,
    bl_PERSONAL,
    bl_FAVORITES,
    bl_STARTUP,
    bl_RECENT,
    bl_SENDTO,
    bl_BITBUCKET,
    bl_STARTMENU,
    bl_DESKTOPDIRECTORY,
    bl_DRIVES,
    bl_NETWORK,
    bl_NETHOOD,
    bl_FONTS,
    bl_TEMPLATES,
    bl_COMMON_STARTMENU,
    bl_COMMON_PROGRAMS,
    bl_COMMON_STARTUP,
    bl_COMMON_DESKTOPDIRECTORY,
    bl_APPDATA,
    bl_PRINTHOOD
};

// Record bits of the browse options.
constexpr uint32_t BIF_RETURNONLYFSDIRS = 0x0001;
constexpr uint32_t BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr uint32_t BIF_STATUSTEXT = 0x0004;
constexpr uint32_t BIF_RETURNFSANCESTORS = 0x0008;
constexpr uint32_t BIF_EDITBOX = 0x0010;
constexpr uint32_t BIF_VALIDATE = 0x0020;
constexpr uint32_t BIF_BROWSEFORCOMPUTER = 0x1000;
constexpr uint32_t BIF_BROWSEFORPRINTER = 0x2000;

// The folder a special location stands for; empty when it has no place in
// the file system (the whole tree is then offered). bl_STANDART and
// bl_CUSTOM have none.
QString SpecialFolderPath(TBrowseLocation location);

// The state kept between calls.
struct TBrowseInfo {
    QWidget* Owner = nullptr;   // the dialog's parent window
    QString Root;               // where the tree starts; empty: everywhere
    QString DisplayName;        // name of the folder chosen last
    QString Title;
    uint32_t Flags = 0;
};

// What the dialog is asked to show.
struct TBrowseRequest {
    QWidget* Owner = nullptr;
    QString Title;
    QString Root;         // empty: no restriction
    QString Selection;    // folder to open on; may be empty
    QString StatusText;   // empty: none
    uint32_t Flags = 0;
};

class TBrowseForFolder : public QObject {
    Q_OBJECT
public:
    // The owner's window becomes the dialog's parent.
    explicit TBrowseForFolder(QWidget* owner);
    ~TBrowseForFolder() override;

    const QString& DisplayName() const { return info_.DisplayName; }
    const QString& StatusText() const { return statusText_; }
    void SetStatusText(const QString& v) { statusText_ = v; }
    const QString& FolderName() const { return folderName_; }
    void SetFolderName(const QString& v) { folderName_ = v; }
    // Read from and written to the record's bits; other bits stay as they are.
    TBrowseFlags Flags() const;
    void SetFlags(const TBrowseFlags& flags);
    TBrowseLocation Root() const { return root_; }
    void SetRoot(TBrowseLocation v) { root_ = v; }
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v) { caption_ = v; }

    // Shows the dialog; true when a folder was chosen (FolderName and
    // DisplayName then hold it), false when cancelled (nothing changes).
    bool Execute();

    const TBrowseInfo& BrowseInfo() const { return info_; }

    // Replaces the dialog (tests).
    std::function<bool(const TBrowseRequest& request, QString& chosen)> OnShowDialog;

protected:
    // Shows the folder dialog modally; true with the chosen folder in chosen.
    // Calls OnShowDialog when set, else shows Qt's file dialog.
    virtual bool ShowDialog(const TBrowseRequest& request, QString& chosen);

private:
    TBrowseInfo info_;
    QString customRoot_;   // the component's own root; nothing sets it
    QString statusText_;
    QString folderName_;
    TBrowseLocation root_ = bl_STANDART;
    QString caption_;
};
