#include "app/QtDialogs.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <algorithm>
#include <map>

namespace {

QMessageBox::Icon IconOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    case TMsgDlgType::mtCustom: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

QString TitleOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning: return QStringLiteral("Warning");
    case TMsgDlgType::mtError: return QStringLiteral("Error");
    case TMsgDlgType::mtInformation: return QStringLiteral("Information");
    case TMsgDlgType::mtConfirmation: return QStringLiteral("Confirm");
    case TMsgDlgType::mtCustom: break;
    }
    return QCoreApplication::applicationName();
}

bool Offers(const TMsgDlgButtons& buttons, TMsgDlgBtn b)
{
    return std::find(buttons.begin(), buttons.end(), b) != buttons.end();
}

// The button for one choice with the modal result it gives.
QAbstractButton* AddButton(QMessageBox& box, TMsgDlgBtn b, int& result)
{
    switch (b) {
    case TMsgDlgBtn::mbYes: result = mrYes; return box.addButton(QMessageBox::Yes);
    case TMsgDlgBtn::mbNo: result = mrNo; return box.addButton(QMessageBox::No);
    case TMsgDlgBtn::mbOK: result = mrOk; return box.addButton(QMessageBox::Ok);
    case TMsgDlgBtn::mbCancel: result = mrCancel; return box.addButton(QMessageBox::Cancel);
    case TMsgDlgBtn::mbAbort: result = mrAbort; return box.addButton(QMessageBox::Abort);
    case TMsgDlgBtn::mbRetry: result = mrRetry; return box.addButton(QMessageBox::Retry);
    case TMsgDlgBtn::mbIgnore: result = mrIgnore; return box.addButton(QMessageBox::Ignore);
    case TMsgDlgBtn::mbAll: result = mrAll; return box.addButton(QStringLiteral("&All"), QMessageBox::YesRole);
    case TMsgDlgBtn::mbNoToAll: result = mrNoToAll; return box.addButton(QMessageBox::NoToAll);
    case TMsgDlgBtn::mbYesToAll: result = mrYesToAll; return box.addButton(QMessageBox::YesToAll);
    case TMsgDlgBtn::mbHelp: result = mrNone; return box.addButton(QMessageBox::Help);
    }
    result = mrNone;
    return nullptr;
}

} // namespace

int QtDialogs::MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons)
{
    QMessageBox box(parent_.data());
    box.setIcon(IconOf(type));
    box.setWindowTitle(TitleOf(type));
    box.setText(QString::fromUtf8(msg.data(), static_cast<qsizetype>(msg.size())));
    box.setTextFormat(Qt::PlainText);

    std::map<QAbstractButton*, int> results;
    std::map<TMsgDlgBtn, QAbstractButton*> made;
    for (TMsgDlgBtn b : buttons) {
        if (made.count(b)) continue;
        int result = mrNone;
        if (QAbstractButton* button = AddButton(box, b, result)) {
            results[button] = result;
            made[b] = button;
        }
    }
    if (made.empty()) {
        QAbstractButton* ok = box.addButton(QMessageBox::Ok);
        results[ok] = mrOk;
        made[TMsgDlgBtn::mbOK] = ok;
    }

    // The default answer is OK, else Yes, else Retry; Escape answers Cancel, else No.
    for (TMsgDlgBtn b : {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbYes, TMsgDlgBtn::mbRetry}) {
        if (Offers(buttons, b)) {
            if (auto* push = qobject_cast<QPushButton*>(made[b])) box.setDefaultButton(push);
            break;
        }
    }
    for (TMsgDlgBtn b : {TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbNo}) {
        if (Offers(buttons, b)) {
            box.setEscapeButton(made[b]);
            break;
        }
    }

    box.exec();
    const auto it = results.find(box.clickedButton());
    return it == results.end() ? mrCancel : it->second;
}

bool QtDialogs::InputQuery(const std::string& caption, const std::string& prompt, std::string& value)
{
    QInputDialog dialog(parent_.data());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    dialog.setLabelText(QString::fromUtf8(prompt.data(), static_cast<qsizetype>(prompt.size())));
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setTextValue(QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    if (dialog.exec() != QDialog::Accepted) return false;
    value = dialog.textValue().toStdString();
    return true;
}
