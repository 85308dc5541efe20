#include "cli/TerminalDialogs.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

struct ButtonText {
    TMsgDlgBtn button;
    char key;
    const char* label;
    int result;
};

const ButtonText kButtons[] = {
    {TMsgDlgBtn::mbYes, 'y', "[y]es", mrYes},
    {TMsgDlgBtn::mbNo, 'n', "[n]o", mrNo},
    {TMsgDlgBtn::mbNoToAll, 'N', "[N]o to all", mrNoToAll},
    {TMsgDlgBtn::mbYesToAll, 'A', "yes to [A]ll", mrYesToAll},
    {TMsgDlgBtn::mbOK, 'o', "[o]k", mrOk},
    {TMsgDlgBtn::mbCancel, 'c', "[c]ancel", mrCancel},
    {TMsgDlgBtn::mbAbort, 'a', "[a]bort", mrAbort},
    {TMsgDlgBtn::mbRetry, 'r', "[r]etry", mrRetry},
    {TMsgDlgBtn::mbIgnore, 'i', "[i]gnore", mrIgnore},
    {TMsgDlgBtn::mbAll, 'l', "a[l]l", mrAll},
};

bool ReadLine(std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    return c != EOF || !line.empty();
}

} // namespace

bool TerminalDialogs::Interactive() {
    // The questions are written to standard error: one nobody can see is
    // answered as in a script.
    return isatty(STDIN_FILENO) == 1 && isatty(STDERR_FILENO) == 1;
}

int TerminalDialogs::MessageDlg(const std::string& msg, TMsgDlgType, const TMsgDlgButtons& buttons) {
    if (!Interactive()) return NonInteractiveDialogs().MessageDlg(msg, TMsgDlgType::mtConfirmation, buttons);
    std::string choices;
    for (TMsgDlgBtn b : buttons)
        for (const ButtonText& t : kButtons)
            if (t.button == b) choices += (choices.empty() ? "" : ", ") + std::string(t.label);
    for (;;) {
        std::fprintf(stderr, "\n%s\n%s? ", msg.c_str(), choices.c_str());
        std::fflush(stderr);
        std::string line;
        if (!ReadLine(line)) return NonInteractiveDialogs().MessageDlg(msg, TMsgDlgType::mtConfirmation, buttons);
        if (line.size() == 1) {
            // Exact letter first (N and A differ from n and a), then any case.
            for (int pass = 0; pass < 2; ++pass)
                for (TMsgDlgBtn b : buttons)
                    for (const ButtonText& t : kButtons)
                        if (t.button == b &&
                            (pass == 0 ? t.key == line[0]
                                       : std::tolower(static_cast<unsigned char>(t.key)) ==
                                             std::tolower(static_cast<unsigned char>(line[0]))))
                            return t.result;
        }
    }
}

bool TerminalDialogs::InputQuery(const std::string& caption, const std::string& prompt, std::string& value) {
    if (!Interactive()) return false;
    std::fprintf(stderr, "\n%s\n%s", caption.c_str(), prompt.c_str());
    std::fflush(stderr);
    termios old{};
    const bool haveTerm = tcgetattr(STDIN_FILENO, &old) == 0;
    if (haveTerm) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool ok = ReadLine(line);
    if (haveTerm) tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::fprintf(stderr, "\n");
    if (!ok) return false;
    value = line;
    return true;
}
