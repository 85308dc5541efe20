#include "platform/Dialogs.h"

#include <algorithm>
#include <mutex>

namespace {

bool Offers(const TMsgDlgButtons& buttons, TMsgDlgBtn b)
{
    return std::find(buttons.begin(), buttons.end(), b) != buttons.end();
}

std::mutex& DialogsMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<Dialogs>& Installed()
{
    // Never destroyed: references handed out stay valid until exit.
    static auto* current = new std::shared_ptr<Dialogs>();
    return *current;
}

Dialogs& Fallback()
{
    static auto* fallback = new NonInteractiveDialogs();
    return *fallback;
}

} // namespace

int NonInteractiveDialogs::MessageDlg(const std::string&, TMsgDlgType, const TMsgDlgButtons& buttons)
{
    // Nobody can answer: the box counts as closed without a choice (Cancel),
    // or as aborted where Abort is the way out. Never a button that says
    // yes: an unanswered overwrite question must not overwrite anything.
    if (!Offers(buttons, TMsgDlgBtn::mbCancel) && Offers(buttons, TMsgDlgBtn::mbAbort)) return mrAbort;
    return mrCancel;
}

bool NonInteractiveDialogs::InputQuery(const std::string&, const std::string&, std::string&)
{
    return false;
}

int ScriptedDialogs::MessageDlg(const std::string& msg, TMsgDlgType type, const TMsgDlgButtons& buttons)
{
    Asked a;
    a.Text = msg;
    a.Type = type;
    a.Buttons = buttons;
    Log.push_back(std::move(a));
    if (MessageAnswers.empty()) return mrCancel;
    const int answer = MessageAnswers.front();
    MessageAnswers.pop_front();
    return answer;
}

bool ScriptedDialogs::InputQuery(const std::string& caption, const std::string& prompt, std::string& value)
{
    Asked a;
    a.Text = caption;
    a.Prompt = prompt;
    a.IsInput = true;
    Log.push_back(std::move(a));
    if (InputAnswers.empty()) return false;
    auto [confirmed, answer] = std::move(InputAnswers.front());
    InputAnswers.pop_front();
    if (!confirmed) return false;
    value = std::move(answer);
    return true;
}

Dialogs& CurrentDialogs()
{
    std::lock_guard<std::mutex> guard(DialogsMutex());
    auto& d = Installed();
    return d ? *d : Fallback();
}

std::shared_ptr<Dialogs> SetDialogs(std::shared_ptr<Dialogs> d)
{
    std::lock_guard<std::mutex> guard(DialogsMutex());
    auto previous = std::move(Installed());
    Installed() = std::move(d);
    return previous;
}
