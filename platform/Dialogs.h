#pragma once
// How the archiver's default dispatch asks the user.
#include <deque>
#include <memory>
#include <string>
#include <vector>

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum class TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = std::vector<TMsgDlgBtn>;

// Modal results.
enum TModalResult : int {
    mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5,
    mrYes = 6, mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box of a kind with a set of buttons; returns the modal result.
    virtual int MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons) = 0;
    // One-line input; false when cancelled. value is in-out.
    virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
};

// Answers every message Cancel (Abort where Abort is offered and Cancel is
// not) and every input query with cancel.
class NonInteractiveDialogs : public Dialogs {
public:
    int MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
};

// Tests: answers from queues and records every question.
class ScriptedDialogs : public Dialogs {
public:
    struct Asked {
        std::string Text;        // message, or caption for an input query
        std::string Prompt;      // input queries only
        TMsgDlgType Type = TMsgDlgType::mtCustom;
        TMsgDlgButtons Buttons;  // message boxes only
        bool IsInput = false;
    };
    std::deque<int> MessageAnswers;           // popped per MessageDlg; empty -> mrCancel
    std::deque<std::pair<bool, std::string>> InputAnswers; // (confirmed, value); empty -> cancel
    std::vector<Asked> Log;

    int MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons) override;
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override;
};

// The process-wide implementation; NonInteractiveDialogs until one is installed.
Dialogs& CurrentDialogs();
// Installs d (nullptr goes back to the non-interactive one); returns the previous.
std::shared_ptr<Dialogs> SetDialogs(std::shared_ptr<Dialogs> d);
