// DebugFormUnit: the debug window TDebugForm, a test bench that switches the processor back and
// forth between the stored profiles "Debug0" and "Debug1" on a timer.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>

#include "engine/Tweak.h"

class QCloseEvent;
class QShowEvent;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class TForm1;

// Shared by every debug window for the life of the program: the two profile records, the tick
// count (nothing resets it) and the toggle that picks the profile of the next tick.
extern SettingsTp DebugProfile0;
extern SettingsTp DebugProfile1;
extern int32_t DebugTickCount;
extern bool DebugToggle;

class TDebugForm : public QWidget {
    Q_OBJECT
public:
    // mainForm owns the window and is the window whose settings each tick replaces and shows.
    explicit TDebugForm(TForm1* mainForm);

    QLabel* Countstring;
    QSpinBox* TimerSpin;
    QPushButton* Apply;
    QPushButton* StartStopButton;
    QTimer* DebugTimer;

    // The timer interval TimerSpin stands for: a text that is not a whole number counts as the
    // minimum, and a number outside the range is brought back into it.
    int TimerSpinValue() const;

public slots:
    void StartStopButtonClick(QObject* sender = nullptr);
    void DebugTimerTimer(QObject* sender = nullptr);
    void ApplyClick(QObject* sender = nullptr);
    // Stops the timer; the window is destroyed after it closes.
    void FormClose(QObject* sender = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // A handler that can open a message box runs a nested message loop, in which the user may
    // close this window. The window is destroyed only when no such handler is still running.
    class BusyScope;
    void ReleaseWhenIdle();

    QPointer<TForm1> MainForm;
    int Busy = 0;
    bool Closed = false;
};
