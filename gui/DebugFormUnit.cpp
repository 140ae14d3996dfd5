// DebugFormUnit: the debug window. Each tick of its timer copies one of the two debug profiles
// over the main window's settings, applies them, reads them back and shows them.
#include "gui/DebugFormUnit.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <limits>

#include "common/General.h"
#include "common/Messages.h"
#include "gui/Application.h"
#include "gui/Dialogs.h"
#include "gui/GuiFont.h"
#include "gui/Unit1.h"
#include "profiles/SaveLoad.h"

SettingsTp DebugProfile0;
SettingsTp DebugProfile1;
int32_t DebugTickCount = 0;
bool DebugToggle = false;

namespace {
constexpr int TimerSpinMinimum = 1;
constexpr int TimerSpinMaximum = 10000000;

// Set while a box that a tick opened is open.
bool TickBoxOpen = false;

// While a tick runs, its boxes block the main window only, so the debug window's Stop stays in
// reach, and the timer goes on ticking while one is open. A tick that arrives meanwhile opens
// no box of its own: at a short interval boxes would pile up on each other without end. Its
// messages go to standard error instead, one line each.
class TickBoxes {
public:
    TickBoxes() : outer(SetMessageBoxFunction(nullptr)) {
        SetMessageBoxFunction([this](const std::string& caption, const std::string& text,
                                     BoxIcon icon) { Show(caption, text, icon); });
    }
    ~TickBoxes() { SetMessageBoxFunction(std::move(outer)); }
    TickBoxes(const TickBoxes&) = delete;
    TickBoxes& operator=(const TickBoxes&) = delete;

private:
    void Show(const std::string& caption, const std::string& text, BoxIcon icon) {
        if (TickBoxOpen) {
            QString line = QString::fromStdString(text);
            line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.toLocal8Bit().constData());
            return;
        }
        TickBoxOpen = true;
        const ParentModalBoxes parentOnly;
        try {
            if (outer)
                outer(caption, text, icon);
            else
                ShowQtMessageBox(caption, text, icon);
        } catch (...) {
            TickBoxOpen = false;
            throw;
        }
        TickBoxOpen = false;
    }

    MessageBoxFunction outer;
};

// Fills one debug record from the processor, then lays the stored profile over it; a profile
// that does not load leaves the processor's current settings in the record.
void LoadDebugProfile(const char* name, SettingsTp& profile) {
    IdentifyCPU(profile);
    if (!LoadProfile(name, profile))
        ShowError("An error occurred while loading profile from registry.");
}
} // namespace

class TDebugForm::BusyScope {
public:
    explicit BusyScope(TDebugForm* form) : form(form) { ++form->Busy; }
    ~BusyScope() {
        --form->Busy;
        form->ReleaseWhenIdle();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TDebugForm* form;
};

TDebugForm::TDebugForm(TForm1* mainForm) : QWidget(mainForm, Qt::Window), MainForm(mainForm) {
    setObjectName(QStringLiteral("DebugForm"));
    setWindowTitle(QStringLiteral("DebugForm"));
    setFont(FormFont());
    resize(468, 540);
    move(102, 136);

    Countstring = new QLabel(QStringLiteral("Count: 0"), this);
    Countstring->setObjectName(QStringLiteral("Countstring"));
    Countstring->move(116, 32);
    Countstring->setMinimumSize(40, 13);
    Countstring->adjustSize();

    TimerSpin = new QSpinBox(this);
    TimerSpin->setObjectName(QStringLiteral("TimerSpin"));
    TimerSpin->setGeometry(16, 28, 73, 22);
    TimerSpin->setRange(TimerSpinMinimum, TimerSpinMaximum);
    TimerSpin->setSingleStep(100);
    TimerSpin->setValue(1000);
    // Leaving the field with a number outside the range brings it back to the nearest bound.
    TimerSpin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);

    Apply = new QPushButton(QStringLiteral("Apply"), this);
    Apply->setObjectName(QStringLiteral("Apply"));
    Apply->setGeometry(16, 60, 75, 25);

    StartStopButton = new QPushButton(QStringLiteral("&Start"), this);
    StartStopButton->setObjectName(QStringLiteral("StartStopButton"));
    StartStopButton->setGeometry(112, 64, 75, 25);
    // Enter on a focused button presses it, as Space does.
    for (QPushButton* button : {Apply, StartStopButton})
        button->setAutoDefault(true);

    DebugTimer = new QTimer(this);
    DebugTimer->setObjectName(QStringLiteral("DebugTimer"));
    DebugTimer->setInterval(1000);

    connect(StartStopButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { StartStopButtonClick(StartStopButton); }); });
    connect(Apply, &QPushButton::clicked, this,
            [this] { RunHandler([this] { ApplyClick(Apply); }); });
    // The tick runs after the timer's own event has ended: a timer does not fire again while
    // its event is still handled, and a box the tick opens would hold that event open.
    connect(DebugTimer, &QTimer::timeout, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (DebugTimer->isActive())
                    RunHandler([this] { DebugTimerTimer(DebugTimer); });
            },
            Qt::QueuedConnection);
    });
}

int TDebugForm::TimerSpinValue() const {
    bool isNumber = false;
    const qlonglong value = TimerSpin->cleanText().toLongLong(&isNumber);
    if (!isNumber)
        return TimerSpin->minimum();
    if (value < TimerSpin->minimum())
        return TimerSpin->minimum();
    if (value > TimerSpin->maximum())
        return TimerSpin->maximum();
    return static_cast<int>(value);
}

void TDebugForm::StartStopButtonClick(QObject*) {
    BusyScope busy(this);
    if (!ProfileExists(DebugProfile0Name)) {
        ShowError("Profile Debug0 does not exist");
        return;
    }
    if (!ProfileExists(DebugProfile1Name)) {
        ShowError("Profile Debug1 does not exist");
        return;
    }
    LoadDebugProfile(DebugProfile0Name, DebugProfile0);
    LoadDebugProfile(DebugProfile1Name, DebugProfile1);
    // The window may have been closed while a message was open; a closed window keeps its timer
    // stopped.
    if (Closed)
        return;
    DebugTimer->setInterval(TimerSpinValue());
    if (DebugTimer->isActive())
        DebugTimer->stop();
    else
        DebugTimer->start();
    StartStopButton->setText(DebugTimer->isActive() ? QStringLiteral("&Stop")
                                                    : QStringLiteral("&Start"));
}

void TDebugForm::DebugTimerTimer(QObject*) {
    BusyScope busy(this);
    // Counted modulo 2^32 like the register-sized counter it is, never overflowing.
    DebugTickCount = static_cast<int32_t>(static_cast<uint32_t>(DebugTickCount) + 1u);
    Countstring->setText(QStringLiteral("Count: ") +
                         QString::fromStdString(IntToText(DebugTickCount)));
    Countstring->adjustSize();

    DebugToggle = !DebugToggle;
    if (!MainForm)
        return;
    TForm1& main = *MainForm;
    const TickBoxes boxes;
    main.CurrentSettings = DebugToggle ? DebugProfile0 : DebugProfile1;
    SetAllSettings(main.CurrentSettings);
    GetAllSettings(main.CurrentSettings);
    main.NothingReadYet = false;
    main.ShowSettings();
}

void TDebugForm::ApplyClick(QObject*) {
    DebugTimer->setInterval(TimerSpinValue());
}

void TDebugForm::FormClose(QObject*) {
    DebugTimer->stop();
    Closed = true;
}

void TDebugForm::closeEvent(QCloseEvent* event) {
    FormClose(this);
    event->accept();
    ReleaseWhenIdle();
}

void TDebugForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window that stays with the main window is blocked by every box modal to it; this one
    // must stay usable while a box of its tick is open (TickBoxes). It stays owned all the same.
    if (QWindow* handle = windowHandle())
        handle->setTransientParent(nullptr);
}

void TDebugForm::ReleaseWhenIdle() {
    if (Closed && Busy == 0)
        deleteLater();
}
