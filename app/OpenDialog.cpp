#include "app/OpenDialog.h"

#include <QtCore/QFileInfo>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QWidget>

TOpenDialog::TOpenDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

bool TOpenDialog::Execute()
{
    QFileDialog dialog(owner_ ? owner_->window() : nullptr, title_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // Only a file that is there can be split or merged.
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setSizeGripEnabled(options_.count(ofEnableSizing) > 0);

    const QStringList filters = filter_.isEmpty() ? QStringList() : filter_.split(QStringLiteral(";;"));
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const int index = filterIndex_ >= 1 && filterIndex_ <= filters.size() ? filterIndex_ - 1 : 0;
        dialog.selectNameFilter(filters.at(index));
    }
    QString suffix = defaultExt_;
    if (suffix.startsWith(QStringLiteral("*."))) suffix.remove(0, 2);
    else if (suffix.startsWith('.')) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!fileName_.isEmpty()) dialog.selectFile(fileName_);

    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return false;
    fileName_ = chosen.first();
    return true;
}
