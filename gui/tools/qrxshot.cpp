// qrxshot: takes a PNG screenshot of the main window as the program shows it, for the README.
// Usage: qrxshot features|about OUTPUT.png
// Under X (for example Xvfb) the real window is captured from the screen; on the offscreen
// platform the window paints itself into the picture.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <cstdio>
#include <string>

#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/ContextHelp.h"
#include "gui/Dialogs.h"
#include "gui/Unit1.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::string(argv[1]) != "features" && std::string(argv[1]) != "about")) {
        std::fprintf(stderr, "usage: qrxshot features|about OUTPUT.png\n");
        return 2;
    }
    TApplication application(argc, argv);
    SetApplicationTitle("Quorix");
    // A screenshot must never wait for somebody to close a box.
    SetMessageBoxFunction([](const std::string& caption, const std::string& text, BoxIcon) {
        std::fprintf(stderr, "qrxshot: %s: %s\n", caption.c_str(), text.c_str());
    });
    if (!LoadDriver()) {
        std::fprintf(stderr, "qrxshot: the driver module qrxvxd.vxd is not beside qrxshot\n");
        return 1;
    }
    SetHelpFile(DefaultHelpFile());
    TForm1 form;
    form.PageControl1->setCurrentIndex(std::string(argv[1]) == "about" ? 1 : 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "qrxshot: the window was not shown\n");
        return 1;
    }
    QTest::qWait(200);
    QPixmap picture;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        picture = form.screen()->grabWindow(form.winId());
    if (picture.isNull())
        picture = form.grab();
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "qrxshot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
