#include "app/folderBrowse.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QWidget>

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<TBrowseFlag, uint32_t>, 7> kFlagBits{{
    {bf_BrowseForComputer, BIF_BROWSEFORCOMPUTER},
    {bf_BrowseForPrinter, BIF_BROWSEFORPRINTER},
    {bf_DontGoBelowDomain, BIF_DONTGOBELOWDOMAIN},
    {bf_statustext, BIF_STATUSTEXT},
    {bf_ReturnFSanceStors, BIF_RETURNFSANCESTORS},
    {bf_ReturnOnlyFSDIRS, BIF_RETURNONLYFSDIRS},
    {bf_EditBox, BIF_EDITBOX},
}};

QString Writable(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location);
}

// The system-wide folder of a kind: the last of the standard locations.
QString Shared(QStandardPaths::StandardLocation location, const QString& sub = {})
{
    const QStringList all = QStandardPaths::standardLocations(location);
    if (all.isEmpty()) return {};
    return sub.isEmpty() ? all.last() : all.last() + '/' + sub;
}

bool IsInside(const QString& folder, const QString& root)
{
    if (root.isEmpty()) return true;
    const QString f = QDir::cleanPath(folder);
    const QString r = QDir::cleanPath(root);
    return f == r || f.startsWith(r.endsWith('/') ? r : r + '/');
}

} // namespace

QString SpecialFolderPath(TBrowseLocation location)
{
    switch (location) {
    case bl_STANDART:
    case bl_CUSTOM:
        return {};
    case bl_DESKTOP:                // the top of the tree
    case bl_DRIVES:                 // every mounted file system
        return QDir::rootPath();
    case bl_PROGRAMS:
    case bl_STARTMENU:
        return Writable(QStandardPaths::ApplicationsLocation);
    case bl_PERSONAL:
        return Writable(QStandardPaths::DocumentsLocation);
    case bl_STARTUP:
        return Writable(QStandardPaths::GenericConfigLocation) + "/autostart";
    case bl_BITBUCKET:
        return Writable(QStandardPaths::GenericDataLocation) + "/Trash";
    case bl_DESKTOPDIRECTORY:
        return Writable(QStandardPaths::DesktopLocation);
    case bl_FONTS:
        return Writable(QStandardPaths::FontsLocation);
    case bl_TEMPLATES:
        return Writable(QStandardPaths::TemplatesLocation);
    case bl_COMMON_STARTMENU:
    case bl_COMMON_PROGRAMS:
        return Shared(QStandardPaths::ApplicationsLocation);
    case bl_COMMON_STARTUP:
        return Shared(QStandardPaths::GenericConfigLocation, "autostart");
    case bl_COMMON_DESKTOPDIRECTORY:
        return Writable(QStandardPaths::PublicShareLocation);
    case bl_APPDATA:
        return Writable(QStandardPaths::GenericDataLocation);
    // Virtual folders without a place in the file system.
    case bl_CONTROLS:
    case bl_PRINTERS:
    case bl_FAVORITES:
    case bl_RECENT:
    case bl_SENDTO:
    case bl_NETWORK:
    case bl_NETHOOD:
    case bl_PRINTHOOD:
        return {};
    }
    return {};
}

TBrowseForFolder::TBrowseForFolder(QWidget* owner)
    : QObject(owner),
      statusText_(QStringLiteral("Plase select folder")),
      folderName_(QDir::homePath()),
      caption_(QStringLiteral("Select Folder"))
{
    info_.Owner = owner;
}

TBrowseForFolder::~TBrowseForFolder() = default;

TBrowseFlags TBrowseForFolder::Flags() const
{
    TBrowseFlags flags;
    for (const auto& [f, bit] : kFlagBits)
        if (info_.Flags & bit) flags.insert(f);
    return flags;
}

void TBrowseForFolder::SetFlags(const TBrowseFlags& flags)
{
    for (const auto& [f, bit] : kFlagBits) {
        if (flags.count(f)) info_.Flags |= bit;
        else info_.Flags &= ~bit;
    }
}

bool TBrowseForFolder::Execute()
{
    info_.Title = caption_;
    if (root_ == bl_CUSTOM) info_.Root = customRoot_;
    else if (root_ != bl_STANDART) info_.Root = SpecialFolderPath(root_);
    info_.Flags |= BIF_VALIDATE;

    TBrowseRequest request;
    request.Owner = info_.Owner ? info_.Owner->window() : nullptr;
    request.Title = info_.Title;
    request.Root = info_.Root;
    request.Selection = folderName_;
    request.StatusText = statusText_;
    request.Flags = info_.Flags;

    QString chosen;
    if (!ShowDialog(request, chosen)) return false;
    chosen = QDir::cleanPath(chosen);
    const QString name = QFileInfo(chosen).fileName();
    info_.DisplayName = name.isEmpty() ? chosen : name; // the root has no name of its own
    folderName_ = chosen;
    return true;
}

bool TBrowseForFolder::ShowDialog(const TBrowseRequest& request, QString& chosen)
{
    if (OnShowDialog) return OnShowDialog(request, chosen);

    QFileDialog dialog(request.Owner, request.Title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Qt's own dialog: it can carry the status line and be kept inside the root.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);

    const QString root = request.Root;
    QString start = root.isEmpty() ? QDir::homePath() : root;
    if (!request.Selection.isEmpty() && QFileInfo(request.Selection).isDir() && IsInside(request.Selection, root))
        start = request.Selection;
    dialog.setDirectory(start);
    if (!root.isEmpty()) {
        dialog.setSidebarUrls({QUrl::fromLocalFile(root)});
        // Keep the user inside the tree that starts at the root.
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog, [&dialog, root](const QString& dir) {
            if (!IsInside(dir, root)) dialog.setDirectory(root);
        });
    }
    if ((request.Flags & BIF_STATUSTEXT) && !request.StatusText.isEmpty()) {
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            auto* status = new QLabel(request.StatusText, &dialog);
            status->setObjectName(QStringLiteral("statusText"));
            grid->addWidget(status, grid->rowCount(), 0, 1, -1);
        }
    }

    // An entry that is not an existing folder keeps the dialog open.
    while (dialog.exec() == QDialog::Accepted) {
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty()) continue;
        const QString folder = files.first();
        if (!QFileInfo(folder).isDir() || !IsInside(folder, root)) continue;
        chosen = folder;
        return true;
    }
    return false;
}
