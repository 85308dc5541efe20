#pragma once
// The archiver's prompts as Qt message boxes and the password input.
#include "platform/Dialogs.h"

#include <QtCore/QPointer>
#include <QtWidgets/QWidget>

class QtDialogs : public Dialogs {
public:
    // parent: the window the prompts belong to (may be null or go away).
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}

    // A message box with exactly the given buttons; closing it gives mrCancel.
    int MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    // The archiver asks only for passwords here: the entry is masked.
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;

private:
    QPointer<QWidget> parent_;
};
