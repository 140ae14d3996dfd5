// A Qt plugin for checks of a real qrx, built or installed: loaded into it
// (QT_QPA_GENERIC_PLUGINS), it waits for the main window, does what QRX_PROBE lists as a user
// would, and writes one line per step to standard output. Steps, separated by ';':
//   click NAME   clicks the control named NAME
//   help NAME    puts the focus on NAME and presses F1: "Help\tNAME\t" and the first line of the
//                pop-up's text, or "Help\tNAME\tno pop-up"
//   close        closes the main window, which ends the program
// A step that cannot be done (an unknown step or control, a window that never becomes active) is
// written as "Probe\tcannot: STEP" and closes the main window.
#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QPointer>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <cstdio>

namespace {
void Say(const QString& line) {
    const QByteArray bytes = (line + "\n").toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool PopupShown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && QString(w->metaObject()->className()) == "QWhatsThat")
            return true;
    return false;
}

// The main window's controls have What's This texts from the help file, the same text F1 shows.
QString FirstLine(const QString& html) {
    return QTextDocumentFragment::fromHtml(html).toPlainText().section(QChar('\n'), 0, 0);
}

bool Step(QWidget* window, const QString& step) {
    const QString verb = step.section(' ', 0, 0);
    const QString name = step.section(' ', 1);
    if (verb == "close" && name.isEmpty()) {
        window->close();
        return true;
    }
    QWidget* control = window->findChild<QWidget*>(name);
    if (verb == "click" && qobject_cast<QAbstractButton*>(control)) {
        qobject_cast<QAbstractButton*>(control)->click();
        return true;
    }
    if (verb == "help" && control) {
        // F1 is the window's shortcut: it works in the active window, as under a user's hands.
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window))
            return false;
        control->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(control, Qt::Key_F1);
        Say("Help\t" + name + "\t" +
            (PopupShown() ? FirstLine(control->whatsThis()) : QString("no pop-up")));
        return true;
    }
    return false;
}

class Probe : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(watched);
        if (!started && event->type() == QEvent::Show && window && window->isWindow() &&
            window->objectName() == "Form1") {
            started = true;
            QPointer<QWidget> shown(window);
            QTimer::singleShot(0, window, [shown] {
                const QStringList steps =
                    qEnvironmentVariable("QRX_PROBE").split(';', Qt::SkipEmptyParts);
                for (const QString& step : steps) {
                    if (!shown)
                        return;
                    if (!Step(shown, step.trimmed())) {
                        Say("Probe\tcannot: " + step.trimmed());
                        shown->close();
                        return;
                    }
                }
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool started = false;
};
} // namespace

class ProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "Probe.json")
public:
    QObject* create(const QString&, const QString&) override {
        auto* probe = new Probe;
        QCoreApplication::instance()->installEventFilter(probe);
        return probe;
    }
};

#include "Probe.moc"
