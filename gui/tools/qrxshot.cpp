// qrxshot: takes a PNG screenshot of the main window as the program shows it, for the README.
// Usage: qrxshot features|about|lists|debug|suggest OUTPUT.png
// Under X (for example Xvfb) the real window is captured from the screen; on the offscreen
// platform the window paints itself into the picture. "lists" shows the Features page three
// times side by side, with the size list of each range and the first type list open, so that
// the items of the open lists can be checked for clipped text. "debug" shows a running debug
// window beside the main window (after three ticks between two profiles it stores itself).
// "suggest" shows the Features page after Suggest, on a machine whose memory map is known.
#include <QAbstractItemView>
#include <QComboBox>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/ContextHelp.h"
#include "gui/DebugFormUnit.h"
#include "gui/Dialogs.h"
#include "gui/Unit1.h"
#include "profiles/SaveLoad.h"

namespace {
// A window as the screen shows it; offscreen, as it paints itself.
QPixmap Capture(QWidget* window) {
    QPixmap picture;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        picture = window->screen()->grabWindow(window->winId());
    return picture.isNull() ? window->grab() : picture;
}

// The window with the list open over it; the picture grows to hold a list that reaches beyond
// the window.
QPixmap WithListOpen(TForm1& form, QComboBox* list) {
    list->showPopup();
    QWidget* popup = list->view()->window();
    if (!QTest::qWaitForWindowExposed(popup))
        std::fprintf(stderr, "qrxshot: the list %s did not open\n", qPrintable(list->objectName()));
    QTest::qWait(200);
    const QRect area = form.geometry().united(popup->geometry());
    QPixmap picture(area.size());
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawPixmap(form.geometry().topLeft() - area.topLeft(), Capture(&form));
    painter.drawPixmap(popup->geometry().topLeft() - area.topLeft(), Capture(popup));
    painter.end();
    list->hidePopup();
    QTest::qWait(50);
    return picture;
}

// A debug window switching between two profiles of 100 and 200 MB write allocation, after
// three ticks.
QPixmap WithDebugWindowRunning(TForm1& form) {
    for (const auto& [name, limit] : {std::pair{"Debug0", 100}, std::pair{"Debug1", 200}}) {
        SettingsTp profile = form.CurrentSettings;
        profile.WA.WAEnabled = true;
        profile.WA.WALimit = limit;
        SaveProfile(name, profile);
    }
    form.DebugButton->click();
    auto* debug = form.findChild<TDebugForm*>();
    debug->move(form.geometry().topRight() + QPoint(16, 0));
    if (!QTest::qWaitForWindowExposed(debug))
        std::fprintf(stderr, "qrxshot: the debug window was not shown\n");
    debug->StartStopButton->click();
    debug->DebugTimer->stop();
    for (int tick = 0; tick < 3; ++tick)
        debug->DebugTimerTimer(debug->DebugTimer);
    QTest::qWait(200);
    return Capture(debug);
}

QPixmap SideBySide(const std::vector<QPixmap>& pictures) {
    constexpr int Gap = 8;
    int width = -Gap, height = 0;
    for (const QPixmap& p : pictures) {
        width += p.width() + Gap;
        height = std::max(height, p.height());
    }
    QPixmap all(width, height);
    all.fill(Qt::white);
    QPainter painter(&all);
    int x = 0;
    for (const QPixmap& p : pictures) {
        painter.drawPixmap(x, 0, p);
        x += p.width() + Gap;
    }
    return all;
}
} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc == 3 ? argv[1] : "";
    if (mode != "features" && mode != "about" && mode != "lists" && mode != "debug" &&
        mode != "suggest") {
        std::fprintf(stderr, "usage: qrxshot features|about|lists|debug|suggest OUTPUT.png\n");
        return 2;
    }
    TApplication application(argc, argv);
    SetApplicationTitle("Quorix");
    // A screenshot must never wait for somebody to close a box.
    SetMessageBoxFunction([](const std::string& caption, const std::string& text, BoxIcon) {
        std::fprintf(stderr, "qrxshot: %s: %s\n", caption.c_str(), text.c_str());
    });
    SetMessageBoxOutput(ShowMessageOutputBox);
    if (!LoadDriver()) {
        std::fprintf(stderr, "qrxshot: the driver module qrxvxd.vxd is not beside qrxshot\n");
        return 1;
    }
    SetHelpFile(DefaultHelpFile());
    DebugMode = mode == "debug";
    TForm1 form;
    form.PageControl1->setCurrentIndex(mode == "about" ? 1 : 0);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) {
        std::fprintf(stderr, "qrxshot: the window was not shown\n");
        return 1;
    }
    QTest::qWait(200);
    QPixmap picture;
    if (mode == "lists") {
        picture = SideBySide({WithListOpen(form, form.WC0SizeCombo),
                              WithListOpen(form, form.WC1SizeCombo),
                              WithListOpen(form, form.WC0TypeCombo)});
    } else if (mode == "suggest") {
        form.SuggestButton->click();
        QTest::qWait(100);
        picture = Capture(&form);
    } else if (mode == "debug") {
        const QPixmap debug = WithDebugWindowRunning(form);
        picture = SideBySide({Capture(&form), debug});
    } else {
        picture = Capture(&form);
    }
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "qrxshot: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
