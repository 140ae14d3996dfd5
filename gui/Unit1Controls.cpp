// Unit1Controls: the handlers of the main window's feature controls. Each writes the control's
// new state into CurrentSettings at once and shows the feature's controls again from the record;
// the three edit fields validate their text when the user leaves them or presses Enter.
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QSlider>
#include <QValidator>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "common/General.h"
#include "common/Messages.h"
#include "gui/Application.h"
#include "gui/DebugFormUnit.h"
#include "gui/Dialogs.h"
#include "gui/SpinButton.h"
#include "gui/TrackBar.h"
#include "gui/Unit1.h"

namespace {
constexpr char KeyBackspace = 8;
constexpr char KeyEnter = 13;
constexpr char KeyEscape = 27;

// Sets TForm1::InExitHandler while an exit handler runs.
class ExitScope {
public:
    explicit ExitScope(bool& inExitHandler) : flag(inExitHandler), outer(inExitHandler) {
        flag = true;
    }
    ~ExitScope() { flag = outer; }
    ExitScope(const ExitScope&) = delete;
    ExitScope& operator=(const ExitScope&) = delete;

private:
    bool& flag;
    bool outer;
};

// Turns letters into capitals as they are typed or pasted, so the range starts read as the
// upper-case hexadecimal the window shows. Any text is acceptable: the exit handler judges it.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

// The character a key event types, as an edit's key handler sees it; 0 for keys that type
// nothing (arrows, Delete, function keys) and for Tab, which moves the focus instead.
char TypedCharacter(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyEnter;
    case Qt::Key_Escape:
        return KeyEscape;
    case Qt::Key_Backspace:
        return KeyBackspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    // Delete edits the field without typing a character, although some platforms hand it over
    // with the DEL character as its text.
    case Qt::Key_Delete:
        return 0;
    default:
        break;
    }
    const QString text = event.text();
    if (text.isEmpty())
        return 0;
    const QByteArray bytes = text.toUtf8();
    // A character outside ASCII stands for itself by its first byte, which is no digit, so
    // the limit field refuses it and the range fields let it through to their validation.
    return bytes.isEmpty() || bytes.at(0) == 0 ? 0 : bytes.at(0);
}

// Reasons for losing the focus that do not mean the user left the field: another window (a
// message box, another program) became active, or a context menu opened over the field.
bool LeavesField(const QFocusEvent& event) {
    switch (event.reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        return false;
    default:
        return true;
    }
}

// Routes the key and focus events of the three edit fields and the clicks on the Write
// Combining box to the window's handlers. The window deletes it before its controls go, so the
// focus changes of a window being destroyed call nothing.
class EditEventFilter : public QObject {
public:
    explicit EditEventFilter(TForm1* form) : QObject(form), form(form) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == form->WCBox)
            return FilterBoxClick(*event);
        switch (event->type()) {
        case QEvent::KeyPress:
            return FilterKey(watched, static_cast<QKeyEvent&>(*event));
        case QEvent::FocusOut:
            // A field that the display disables (a range or write allocation turned off from the
            // record) loses the focus without the user leaving it; its text is stale by then.
            if (LeavesField(static_cast<QFocusEvent&>(*event)) && !form->InExitHandler &&
                static_cast<QWidget*>(watched)->isEnabled())
                RunHandler([&] {
                    if (watched == form->WAEdit)
                        form->WAEditExit(watched);
                    else
                        form->WCEditExit(watched);
                });
            return false;
        default:
            return false;
        }
    }

private:
    bool FilterKey(QObject* watched, const QKeyEvent& event) {
        const char typed = TypedCharacter(event);
        if (typed == 0)
            return false;
        char key = typed;
        RunHandler([&] {
            if (watched == form->WAEdit)
                form->WAEditKeyPress(watched, key);
            else
                form->WCEditKeyPress(watched, key);
        });
        // A handler swallows a key by setting it to 0.
        return key == 0;
    }

    // A click on the box itself, not on one of its controls.
    bool FilterBoxClick(const QEvent& event) {
        if (event.type() != QEvent::MouseButtonRelease)
            return false;
        const auto& mouse = static_cast<const QMouseEvent&>(event);
        const QPoint at = mouse.position().toPoint();
        if (mouse.button() == Qt::LeftButton && form->WCBox->rect().contains(at) &&
            form->WCBox->childAt(at) == nullptr)
            RunHandler([&] { form->EnableWCCheckClick(form->WCBox); });
        return false;
    }

    TForm1* form;
};

// A limit above the processor's maximum becomes the maximum, without a message.
int32_t CapLimit(int32_t limit, int32_t maximum) {
    return limit > maximum ? maximum : limit;
}
} // namespace

void TForm1::ConnectEditingHandlers() {
    EditingFilter = new EditEventFilter(this);
    for (QObject* watched : {static_cast<QObject*>(WAEdit), static_cast<QObject*>(WC0Edit),
                             static_cast<QObject*>(WC1Edit), static_cast<QObject*>(WCBox)})
        watched->installEventFilter(EditingFilter);

    WAEdit->setMaxLength(4);
    for (QLineEdit* edit : {WC0Edit, WC1Edit}) {
        edit->setMaxLength(8);
        edit->setValidator(new UpperCaseValidator(edit));
    }

    // Check boxes and radio buttons raise their handler on every change of their state, from
    // the user or from the display methods; radio buttons only when they become checked. A box
    // that shows an unknown state counts as checked already, so the user's click, which checks
    // it, toggles nothing: the click raises the handler instead.
    const auto onToggle = [this](QCheckBox* box, void (TForm1::*handler)(QObject*)) {
        connect(box, &QAbstractButton::toggled, this,
                [this, box, handler] { RunHandler([&] { (this->*handler)(box); }); });
        connect(box, &QAbstractButton::clicked, this, [this, box, handler] {
            if (box->isTristate())
                RunHandler([&] { (this->*handler)(box); });
        });
    };
    onToggle(EnableWACheck, &TForm1::EnableWACheckClick);
    onToggle(WA1516MBCheck, &TForm1::WA1516MBCheckClick);
    onToggle(EnableWC0Check, &TForm1::EnableWCCheckClick);
    onToggle(EnableWC1Check, &TForm1::EnableWCCheckClick);
    onToggle(L1CacheEnableCheck, &TForm1::L1CacheClick);
    onToggle(L2CacheEnableCheck, &TForm1::L2CacheClick);
    onToggle(DataPrefetchCheck, &TForm1::DataPrefetchCheckClick);
    const auto onChecked = [this](QRadioButton* radio, void (TForm1::*handler)(QObject*)) {
        connect(radio, &QRadioButton::toggled, this, [this, radio, handler](bool checked) {
            if (checked)
                RunHandler([&] { (this->*handler)(radio); });
        });
    };
    onChecked(GEWBEDRadio, &TForm1::GEWBEDRadioClick);
    onChecked(SEWBEDRadio, &TForm1::SEWBEDRadioClick);
    onChecked(EWBEStrongRadio, &TForm1::EWBEStrongRadioClick);

    // The slider raises its handler on every position change; the lists only on the user's
    // choice, so showing the record in them raises nothing.
    connect(MultiplierTrackBar, &QSlider::valueChanged, this,
            [this] { RunHandler([this] { MultiplierTrackBarChange(MultiplierTrackBar); }); });
    for (QComboBox* combo : {WC0SizeCombo, WC1SizeCombo})
        connect(combo, &QComboBox::activated, this,
                [this, combo] { RunHandler([&] { WCSizeComboChange(combo); }); });
    for (QComboBox* combo : {WC0TypeCombo, WC1TypeCombo})
        connect(combo, &QComboBox::activated, this,
                [this, combo] { RunHandler([&] { WCTypeComboChange(combo); }); });

    connect(WASpinButton, &TSpinButton::UpClick, this,
            [this] { RunHandler([this] { WASpinButtonUpClick(WASpinButton); }); });
    connect(WASpinButton, &TSpinButton::DownClick, this,
            [this] { RunHandler([this] { WASpinButtonDownClick(WASpinButton); }); });
}

void TForm1::DisconnectEditingHandlers() {
    delete EditingFilter;
    EditingFilter = nullptr;
}

void TForm1::DebugButtonClick(QObject*) {
    auto* form = new TDebugForm(this);
    form->show();
}

// --- Check boxes, lists, slider and radio buttons ---

void TForm1::EnableWACheckClick(QObject*) {
    MarkModified();
    WATp& wa = CurrentSettings.WA;
    wa.WAEnabled = EnableWACheck->isChecked();
    wa.WAUnread = false;
    if (!wa.WAEnabled) {
        wa.WALimit = 0;
        wa.WA1516MB = false;
    }
    ShowWriteAllocation();
}

void TForm1::WA1516MBCheckClick(QObject*) {
    MarkModified();
    CurrentSettings.WA.WA1516MB = WA1516MBCheck->isChecked();
    CurrentSettings.WA.WAUnread = false;
    ShowWriteAllocation();
}

void TForm1::EnableWCCheckClick(QObject* sender) {
    MarkModified();
    // A click on the box itself only marks the settings as edited.
    MTRRTp* range = nullptr;
    QCheckBox* check = nullptr;
    if (sender == EnableWC0Check) {
        range = &CurrentSettings.WC.MTRR0;
        check = EnableWC0Check;
    } else if (sender == EnableWC1Check) {
        range = &CurrentSettings.WC.MTRR1;
        check = EnableWC1Check;
    }
    if (range) {
        // Unchecking a range in use starts it afresh. A box that the display turns off shows a
        // record that already holds the range as unused, as it was read from the processor;
        // that stays, so one state of the processor looks the same after Apply and Refresh.
        const bool wasInUse = range->Enabled;
        range->Enabled = check->isChecked();
        range->Unread = false;
        if (!range->Enabled && wasInUse) {
            range->Start = 0;
            range->SizeBytes = SizeToBytes(SizeTp::_128kB);
            range->Size = SizeTp::_128kB;
            range->MemoryType = MemoryTypeTp::NoEffect;
        }
    }
    ShowWriteCombining();
}

void TForm1::WCSizeComboChange(QObject* sender) {
    MarkModified();
    MTRRTp* range = sender == WC0SizeCombo   ? &CurrentSettings.WC.MTRR0
                    : sender == WC1SizeCombo ? &CurrentSettings.WC.MTRR1
                                             : nullptr;
    const int index = range ? static_cast<QComboBox*>(sender)->currentIndex() : -1;
    if (index >= 0 && index < SizeCount) {
        range->Size = static_cast<SizeTp>(index);
        range->SizeBytes = SizeToBytes(range->Size);
        range->Unread = false;
    }
    ShowWriteCombining();
}

void TForm1::WCTypeComboChange(QObject* sender) {
    MarkModified();
    MTRRTp* range = sender == WC0TypeCombo   ? &CurrentSettings.WC.MTRR0
                    : sender == WC1TypeCombo ? &CurrentSettings.WC.MTRR1
                                             : nullptr;
    const int index = range ? static_cast<QComboBox*>(sender)->currentIndex() : -1;
    if (index >= 0 && index <= static_cast<int>(MemoryTypeTp::WriteCombined)) {
        range->MemoryType = static_cast<MemoryTypeTp>(index);
        range->Unread = false;
    }
    ShowWriteCombining();
}

void TForm1::MultiplierTrackBarChange(QObject*) {
    MarkModified();
    CurrentSettings.CPU.Multiplier = static_cast<uint8_t>(MultiplierTrackBar->value());
    CurrentSettings.CPU.MultiplierUnread = false;
    ShowMultiplier();
}

void TForm1::L1CacheClick(QObject*) {
    MarkModified();
    CurrentSettings.L1CacheEnabled = L1CacheEnableCheck->isChecked();
    CurrentSettings.L1Unread = false;
    ShowL1Cache();
}

void TForm1::L2CacheClick(QObject*) {
    MarkModified();
    CurrentSettings.L2CacheEnabled = L2CacheEnableCheck->isChecked();
    CurrentSettings.L2Unread = false;
    ShowL2Cache();
}

void TForm1::GEWBEDRadioClick(QObject*) {
    MarkModified();
    CurrentSettings.WriteOrderingType = WriteOrderingTp::GEWBED;
    CurrentSettings.WriteOrderingUnread = false;
    ShowWriteOrdering();
}

void TForm1::SEWBEDRadioClick(QObject*) {
    MarkModified();
    CurrentSettings.WriteOrderingType = WriteOrderingTp::SEWBED;
    CurrentSettings.WriteOrderingUnread = false;
    ShowWriteOrdering();
}

void TForm1::EWBEStrongRadioClick(QObject*) {
    MarkModified();
    CurrentSettings.WriteOrderingType = WriteOrderingTp::EWBEStrong;
    CurrentSettings.WriteOrderingUnread = false;
    ShowWriteOrdering();
}

void TForm1::DataPrefetchCheckClick(QObject*) {
    MarkModified();
    CurrentSettings.DataPrefetchEnabled = DataPrefetchCheck->isChecked();
    CurrentSettings.DataPrefetchUnread = false;
    ShowDataPrefetch();
}

// --- Write-allocation limit ---

int32_t TForm1::WALimitFromText(const std::string& text) {
    // Only an optional sign and decimal digits, nothing around them, within 32 bits.
    size_t digits = text.size();
    size_t first = 0;
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        first = 1;
    bool wellFormed = first < digits;
    for (size_t i = first; i < digits && wellFormed; ++i)
        wellFormed = text[i] >= '0' && text[i] <= '9';
    if (wellFormed) {
        errno = 0;
        const long long value = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == 0 && value >= INT32_MIN && value <= INT32_MAX)
            return static_cast<int32_t>(value);
    }
    ShowError("Error while converting WALimit.");
    return 0;
}

void TForm1::WAEditKeyPress(QObject*, char& key) {
    if (key == KeyEnter) {
        key = 0;
        if (!WAEdit->isModified())
            Beep();
        WAEditExit(WAEdit);
        WASpinButton->setFocus(Qt::OtherFocusReason);
        MarkModified();
    } else if (key == KeyEscape) {
        key = 0;
        ShowWriteAllocation();
    } else if (!(key >= '0' && key <= '9') && key != KeyBackspace) {
        key = 0;
        Beep();
    }
}

void TForm1::WAEditExit(QObject*) {
    ExitScope scope(InExitHandler);
    WATp& wa = CurrentSettings.WA;
    const std::string text = WAEdit->text().toStdString();
    if (!text.empty()) {
        // Clearing the two low bits rounds down to whole 4-MB units (and a negative pasted
        // number further down, which the floor below then turns into 0).
        const int32_t limit = WALimitFromText(text);
        wa.WALimit = static_cast<int32_t>(static_cast<uint32_t>(limit) & ~3u);
    }
    // A negative limit would be written into the register as a huge field; no limit is below 0.
    if (wa.WALimit < 0)
        wa.WALimit = 0;
    wa.WALimit = CapLimit(wa.WALimit, wa.WAMaxLimit);
    ShowWriteAllocation();
}

void TForm1::WASpinButtonUpClick(QObject*) {
    WATp& wa = CurrentSettings.WA;
    const int64_t up = static_cast<int64_t>(wa.WALimit) + 4;
    const int32_t stepped = up > INT32_MAX ? INT32_MAX : static_cast<int32_t>(up);
    wa.WALimit =
        CapLimit(static_cast<int32_t>(static_cast<uint32_t>(stepped) & ~3u), wa.WAMaxLimit);
    ShowWriteAllocation();
}

void TForm1::WASpinButtonDownClick(QObject*) {
    WATp& wa = CurrentSettings.WA;
    if (wa.WALimit > 4)
        wa.WALimit = static_cast<int32_t>(static_cast<uint32_t>(wa.WALimit - 4) & ~3u);
    else
        wa.WALimit = 0;
    ShowWriteAllocation();
}

// --- Range starts ---

void TForm1::WCEditKeyPress(QObject* sender, char& key) {
    if (key == KeyEnter) {
        key = 0;
        auto* edit = qobject_cast<QLineEdit*>(sender);
        if (edit && !edit->isModified())
            Beep();
        WCEditExit(sender);
        MarkModified();
    } else if (key == KeyEscape) {
        key = 0;
        ShowWriteCombining();
    }
}

void TForm1::WCEditExit(QObject* sender) {
    QLineEdit* edit = sender == WC0Edit ? WC0Edit : sender == WC1Edit ? WC1Edit : nullptr;
    if (!edit)
        return;
    ExitScope scope(InExitHandler);
    const std::string text = edit->text().toStdString();
    int32_t error = 0;
    const uint32_t start = HexToInt(text, error);
    if (error != 0) {
        ShowError(VisibleText(text) + " is not a valid hexadecimal number.");
        edit->setFocus(Qt::OtherFocusReason);
        return;
    }
    MTRRTp& range = edit == WC0Edit ? CurrentSettings.WC.MTRR0 : CurrentSettings.WC.MTRR1;
    range.Start = start;
    range.Unread = false;
    ShowWriteCombining();
}
