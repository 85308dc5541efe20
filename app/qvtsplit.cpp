// qvtsplit: the window that splits a file into volumes and merges them back.
#include <QtCore/QtGlobal>
#include <QtWidgets/QApplication>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/Unit1.h"

namespace {

bool HaveDisplay()
{
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

constexpr const char* kNoDisplay = "qvtsplit: no display found (set DISPLAY, or run under xvfb-run)\n";
constexpr const char* kDisplayFailed = "qvtsplit: cannot open the display (check DISPLAY, or run under xvfb-run)\n";

QtMessageHandler previousHandler = nullptr;

// While the application object connects to the display, a display that is
// named but cannot be reached ends in a fatal message, which would abort.
// Say what is missing and end with an error instead.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::fputs(kDisplayFailed, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (previousHandler) previousHandler(type, context, message);
    else std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // Without a display Qt would abort; say what is missing instead.
    if (!HaveDisplay()) {
        std::fputs(kNoDisplay, stderr);
        return 1;
    }
    previousHandler = qInstallMessageHandler(StartupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    const int result = app.exec();
    Form1 = nullptr;
    return result;
}
