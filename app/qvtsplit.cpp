// qvtsplit: the window that splits a file into volumes and merges them back.
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

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    // Without a display Qt would abort; say what is missing instead.
    if (!HaveDisplay()) {
        std::fputs("qvtsplit: no display found (set DISPLAY, or run under xvfb-run)\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    auto form = std::make_unique<TForm1>();
    Form1 = form.get();
    form->show();
    const int result = app.exec();
    Form1 = nullptr;
    return result;
}
