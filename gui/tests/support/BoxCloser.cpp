// A Qt plugin for the program tests: loaded into the real qrx (QT_QPA_GENERIC_PLUGINS), it
// closes every message box as a user would, by pressing its button once the box runs its own
// event loop, and writes one line per box to standard output. The program under test keeps its
// real boxes; nothing in it knows about the plugin.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QGenericPlugin>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {
const char* IconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Critical:
        return "error";
    case QMessageBox::Information:
        return "information";
    case QMessageBox::Question:
        return "question";
    default:
        return "none";
    }
}

QString Escaped(QString text) {
    return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

// Presses the button that Escape would press (the OK of a one-button box, the Cancel of a
// confirmation).
void Answer(QMessageBox* box) {
    QAbstractButton* button = box->escapeButton();
    if (!button)
        button = box->defaultButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().constFirst();
    const QByteArray line = ("Box\t" + box->windowTitle() + "\t" + IconName(box->icon()) + "\t" +
                             Escaped(box->text()) + "\n")
                                .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
    if (button)
        button->click();
    else
        box->reject();
}

class BoxCloser : public QObject {
public:
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                // Shown from exec(): the timer fires inside the box's own event loop.
                QPointer<QMessageBox> shown(box);
                QTimer::singleShot(0, box, [shown] {
                    if (shown && shown->isVisible())
                        Answer(shown);
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

class BoxCloserPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "BoxCloser.json")
public:
    QObject* create(const QString&, const QString&) override {
        // The application deletes what its plugins created when it ends.
        auto* closer = new BoxCloser;
        QCoreApplication::instance()->installEventFilter(closer);
        return closer;
    }
};

#include "BoxCloser.moc"
