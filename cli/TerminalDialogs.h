#pragma once
// The archiver's questions asked on the terminal: one-letter answers, the
// password without echo. Without a terminal on standard input (or on standard
// error, where the questions appear) every question is answered Cancel /
// Abort, so scripts never hang.
#include "platform/Dialogs.h"

class TerminalDialogs : public Dialogs {
public:
    int MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;

    // Whether questions can be asked at all (standard input and error are a terminal).
    static bool Interactive();
};
