// Tests of the main window's feature controls: what each control writes into the settings record,
// the key rules and validation of the three edit fields, and the spin buttons, driven through
// the real controls on the simulated processor.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include "driver/wintweak.h"
#include "engine/Tweak.h"
#include "gui/DebugFormUnit.h"
#include "gui/SpinButton.h"
#include "gui/Unit1.h"
#include "gui/Unit2.h"
#include "gui/tests/GuiTestSupport.h"

namespace {
const char* const K6 = "k6";           // write-allocation limit up to 508
const char* const K6IIIPlus = "k6-3+"; // up to 4092, both ranges, every feature

class Controls : public testing::Test {
protected:
    void Open(const char* preset) {
        ResetSimulator(preset);
        ASSERT_TRUE(LoadDriver());
        form = std::make_unique<TForm1>();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
        dialogs.Clear();
    }

    // Puts the record in a known state as the window would show it after a read, not edited.
    void Show(const std::function<void(SettingsTp&)>& change) {
        change(form->CurrentSettings);
        form->ShowSettings();
        form->SettingsModified = false;
        form->UpdateApplyButton();
        dialogs.Clear();
    }

    void Focus(QWidget* w) {
        w->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(w->hasFocus()) << w->objectName().toStdString();
    }

    // Replaces the field's text by typing, as a user who selected it all.
    void TypeOver(QLineEdit* edit, const QString& text) {
        Focus(edit);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
    }

    // Replaces the field's text by pasting, the only way round the key rules.
    void PasteOver(QLineEdit* edit, const QString& text) {
        Focus(edit);
        QGuiApplication::clipboard()->setText(text);
        edit->selectAll();
        edit->paste();
        ASSERT_EQ(edit->text(), text);
    }

    // Moves the focus away by Tab, as the user leaves a field.
    void Leave(QLineEdit* edit) {
        QTest::keyClick(edit, Qt::Key_Tab);
        ASSERT_FALSE(edit->hasFocus());
    }

    const WATp& WA() const { return form->CurrentSettings.WA; }
    const MTRRTp& Range0() const { return form->CurrentSettings.WC.MTRR0; }
    const MTRRTp& Range1() const { return form->CurrentSettings.WC.MTRR1; }

    DialogRecorder dialogs;
    std::unique_ptr<TForm1> form;
};

// Clicks a check box or radio button on its indicator, which is always inside its click area.
void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

QString Text(const QLineEdit* edit) {
    return edit->text();
}

std::string S(const QString& text) {
    return text.toStdString();
}

// --- Write-allocation limit ---

struct TypedLimitCase {
    const char* preset;
    const char* typed;
    int32_t stored;
};

std::ostream& operator<<(std::ostream& os, const TypedLimitCase& c) {
    return os << c.preset << " typed " << c.typed;
}

class TypedLimit : public Controls, public testing::WithParamInterface<TypedLimitCase> {};

TEST_P(TypedLimit, EnterRoundsDownToWholeUnitsCapsAtTheMaximumAndMovesToTheSpinButton) {
    const TypedLimitCase& c = GetParam();
    Open(c.preset);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 40;
    });
    TypeOver(form->WAEdit, c.typed);
    QTest::keyClick(form->WAEdit, Qt::Key_Return);

    EXPECT_EQ(WA().WALimit, c.stored);
    EXPECT_EQ(S(Text(form->WAEdit)), std::to_string(c.stored));
    EXPECT_TRUE(form->ApplyButton->isEnabled());
    EXPECT_TRUE(form->WASpinButton->hasFocus());
    EXPECT_EQ(dialogs.beeps, 0) << "the text was changed, so Enter does not beep";
    EXPECT_TRUE(dialogs.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Limits, TypedLimit,
                         testing::Values(TypedLimitCase{K6, "510", 508},
                                         TypedLimitCase{K6, "508", 508}, TypedLimitCase{K6, "6", 4},
                                         TypedLimitCase{K6, "3", 0}, TypedLimitCase{K6, "0", 0},
                                         TypedLimitCase{K6IIIPlus, "9999", 4092},
                                         TypedLimitCase{K6IIIPlus, "4095", 4092},
                                         TypedLimitCase{K6IIIPlus, "510", 508},
                                         TypedLimitCase{K6IIIPlus, "1000", 1000}));

struct LeftLimitCase {
    const char* name;
    bool paste;
    const char* text;
    int32_t stored;
    std::vector<std::string> errors;
};

std::ostream& operator<<(std::ostream& os, const LeftLimitCase& c) {
    return os << c.name;
}

class LeftLimit : public Controls, public testing::WithParamInterface<LeftLimitCase> {};

// Leaving the field takes the value over without marking the settings as edited.
TEST_P(LeftLimit, LeavingTheFieldTakesTheTextOver) {
    const LeftLimitCase& c = GetParam();
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 100;
    });
    if (c.paste)
        PasteOver(form->WAEdit, c.text);
    else
        TypeOver(form->WAEdit, c.text);
    Leave(form->WAEdit);

    EXPECT_EQ(WA().WALimit, c.stored);
    EXPECT_EQ(S(Text(form->WAEdit)), std::to_string(c.stored));
    EXPECT_EQ(dialogs.ErrorMessages(), c.errors);
    EXPECT_FALSE(form->ApplyButton->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LeftLimit,
    testing::Values(
        LeftLimitCase{"TypedNumber", false, "250", 248, {}},
        LeftLimitCase{"AboveTheMaximum", false, "9999", 508, {}},
        LeftLimitCase{"EmptyKeepsTheOldLimit", false, "", 100, {}},
        LeftLimitCase{"PastedNonNumber", true, "12x", 0, {"Error while converting WALimit."}},
        LeftLimitCase{"PastedBlankNumber", true, " 12", 0, {"Error while converting WALimit."}},
        // A negative limit would reach the register as a huge field; it stops at 0.
        LeftLimitCase{"PastedNegativeNumber", true, "-8", 0, {}},
        LeftLimitCase{"PastedNumber", true, "+20", 20, {}}),
    [](const testing::TestParamInfo<LeftLimitCase>& info) { return info.param.name; });

TEST_F(Controls, LimitFieldTakesOnlyDigitsAndAtMostFourOfThem) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 0;
    });
    TypeOver(form->WAEdit, "1a2-3.");
    EXPECT_EQ(S(Text(form->WAEdit)), "123");
    EXPECT_EQ(dialogs.beeps, 3);

    dialogs.Clear();
    TypeOver(form->WAEdit, "123456");
    EXPECT_EQ(S(Text(form->WAEdit)), "1234");
    QTest::keyClick(form->WAEdit, Qt::Key_Backspace);
    EXPECT_EQ(S(Text(form->WAEdit)), "123");
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_EQ(WA().WALimit, 0) << "nothing is taken over while typing";

    // Keys that type no character edit the field without a beep.
    dialogs.Clear();
    TypeOver(form->WAEdit, "1234");
    QTest::keyClick(form->WAEdit, Qt::Key_Home);
    // The X11 platform hands Delete over with the DEL character as its text.
    const auto pressDelete = [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
        QCoreApplication::sendEvent(form->WAEdit, &press);
    };
    pressDelete();
    QTest::keyClick(form->WAEdit, Qt::Key_Right);
    pressDelete();
    EXPECT_EQ(S(Text(form->WAEdit)), "24");
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(Controls, EscapeInTheLimitFieldShowsTheRecordAgain) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 64;
    });
    TypeOver(form->WAEdit, "300");
    QTest::keyClick(form->WAEdit, Qt::Key_Escape);
    EXPECT_EQ(S(Text(form->WAEdit)), "64");
    EXPECT_EQ(WA().WALimit, 64);
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_TRUE(form->WAEdit->hasFocus());
    EXPECT_FALSE(form->ApplyButton->isEnabled());
}

TEST_F(Controls, EnterInAnUnchangedFieldBeepsAndStillTakesTheValueAndEnablesApply) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 100;
    });
    Focus(form->WAEdit);
    QTest::keyClick(form->WAEdit, Qt::Key_Return);
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(WA().WALimit, 100);
    EXPECT_TRUE(form->ApplyButton->isEnabled());

    // The same for a range start (the K6 has no ranges, so use a processor that has them).
    form.reset();
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    });
    Focus(form->WC0Edit);
    QTest::keyClick(form->WC0Edit, Qt::Key_Enter);
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(Range0().Start, 0xA0000u);
    EXPECT_TRUE(form->ApplyButton->isEnabled());
}

TEST_F(Controls, UncheckingWriteAllocationClearsLimitAndHoleAndCheckingShowsZero) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 100;
        s.WA.WA1516MB = true;
    });
    Click(form->EnableWACheck);
    EXPECT_FALSE(WA().WAEnabled);
    EXPECT_EQ(WA().WALimit, 0);
    EXPECT_FALSE(WA().WA1516MB);
    EXPECT_FALSE(form->WAEdit->isEnabled());
    EXPECT_FALSE(form->WA1516MBCheck->isEnabled());
    EXPECT_FALSE(form->WA1516MBCheck->isChecked());
    EXPECT_TRUE(form->ApplyButton->isEnabled());

    Click(form->EnableWACheck);
    EXPECT_TRUE(WA().WAEnabled);
    EXPECT_EQ(WA().WALimit, 0);
    EXPECT_EQ(S(Text(form->WAEdit)), "0");
    EXPECT_TRUE(form->WAEdit->isEnabled());
    EXPECT_TRUE(form->WA1516MBCheck->isEnabled());
}

// --- Spin buttons ---

struct SpinCase {
    const char* preset;
    int32_t from;
    bool up;
    int32_t to;
};

std::ostream& operator<<(std::ostream& os, const SpinCase& c) {
    return os << c.preset << " " << c.from << (c.up ? " up" : " down");
}

class Spin : public Controls, public testing::WithParamInterface<SpinCase> {};

TEST_P(Spin, StepsByFourWithinZeroAndTheMaximumWithoutTakingTheFocusOrMarkingEdited) {
    const SpinCase& c = GetParam();
    Open(c.preset);
    Show([&](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = c.from;
    });
    Focus(form->WAEdit);
    QToolButton* button = c.up ? form->WASpinButton->UpButton() : form->WASpinButton->DownButton();
    QTest::mouseClick(button, Qt::LeftButton);

    EXPECT_EQ(WA().WALimit, c.to);
    EXPECT_EQ(S(Text(form->WAEdit)), std::to_string(c.to));
    EXPECT_TRUE(form->WAEdit->hasFocus());
    EXPECT_FALSE(form->ApplyButton->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Steps, Spin,
                         testing::Values(SpinCase{K6, 508, true, 508}, SpinCase{K6, 504, true, 508},
                                         SpinCase{K6, 0, true, 4}, SpinCase{K6, 4, false, 0},
                                         SpinCase{K6, 8, false, 4}, SpinCase{K6, 0, false, 0},
                                         SpinCase{K6, 2, true, 4}, SpinCase{K6, 6, false, 0},
                                         SpinCase{K6IIIPlus, 4092, true, 4092},
                                         SpinCase{K6IIIPlus, 508, true, 512}));

TEST_F(Controls, SpinStartsFromTheRecordAndReplacesTextNotYetTakenOver) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 100;
    });
    TypeOver(form->WAEdit, "200");
    QTest::mouseClick(form->WASpinButton->UpButton(), Qt::LeftButton);
    EXPECT_EQ(WA().WALimit, 104);
    EXPECT_EQ(S(Text(form->WAEdit)), "104");
}

TEST_F(Controls, SpinWorksWhileWriteAllocationIsDisabled) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = false;
        s.WA.WALimit = 0;
    });
    ASSERT_FALSE(form->WAEdit->isEnabled());
    QTest::mouseClick(form->WASpinButton->UpButton(), Qt::LeftButton);
    QTest::mouseClick(form->WASpinButton->UpButton(), Qt::LeftButton);
    EXPECT_EQ(WA().WALimit, 8);
    EXPECT_FALSE(WA().WAEnabled);
}

TEST_F(Controls, ArrowKeysStepTheLimitOnceEnterGaveTheSpinButtonTheFocus) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 100;
    });
    TypeOver(form->WAEdit, "20");
    QTest::keyClick(form->WAEdit, Qt::Key_Return);
    ASSERT_TRUE(form->WASpinButton->hasFocus());
    QTest::keyClick(form->WASpinButton, Qt::Key_Up);
    QTest::keyClick(form->WASpinButton, Qt::Key_Up);
    EXPECT_EQ(WA().WALimit, 28);
    QTest::keyClick(form->WASpinButton, Qt::Key_Down);
    EXPECT_EQ(WA().WALimit, 24);
    EXPECT_EQ(S(Text(form->WAEdit)), "24");
}

TEST_F(Controls, HoldingASpinButtonRepeatsItsStep) {
    Open(K6);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 0;
    });
    QToolButton* up = form->WASpinButton->UpButton();
    QTest::mousePress(up, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return WA().WALimit >= 12; }, 5000));
    QTest::mouseRelease(up, Qt::LeftButton);
    const int32_t released = WA().WALimit;
    QCoreApplication::processEvents();
    EXPECT_EQ(WA().WALimit, released) << "the repetition ends with the release";
}

// --- Range starts ---

struct StartCase {
    const char* name;
    const char* typed;
    Qt::Key leaveBy; // Enter, or Tab to another control
    uint32_t start;  // the record's start afterwards (the old one was 00100000)
    const char* shown;
    std::vector<std::string> errors;
};

std::ostream& operator<<(std::ostream& os, const StartCase& c) {
    return os << c.name;
}

class RangeStart : public Controls, public testing::WithParamInterface<StartCase> {};

TEST_P(RangeStart, FieldIsValidatedAsHexadecimalWhenLeftOrOnEnter) {
    const StartCase& c = GetParam();
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached};
    });
    TypeOver(form->WC0Edit, c.typed);
    QTest::keyClick(form->WC0Edit, c.leaveBy);

    EXPECT_EQ(Range0().Start, c.start);
    EXPECT_EQ(S(Text(form->WC0Edit)), c.shown);
    EXPECT_EQ(dialogs.ErrorMessages(), c.errors);
    if (!c.errors.empty()) {
        EXPECT_TRUE(form->WC0Edit->hasFocus()) << "the focus returns to the field";
    }
    EXPECT_EQ(form->ApplyButton->isEnabled(), c.leaveBy == Qt::Key_Return);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RangeStart,
    testing::Values(StartCase{"EmptyIsZero", "", Qt::Key_Tab, 0, "00000000", {}},
                    StartCase{"LowerCaseOnEnter", "a0000", Qt::Key_Return, 0xA0000, "000A0000", {}},
                    StartCase{"HighAddress", "fffe0000", Qt::Key_Tab, 0xFFFE0000, "FFFE0000", {}},
                    // Alignment is the apply's business; the field takes any hexadecimal start.
                    StartCase{"Unaligned", "12345", Qt::Key_Tab, 0x12345, "00012345", {}},
                    StartCase{"NotHexOnTab",
                              "xyz",
                              Qt::Key_Tab,
                              0x100000,
                              "XYZ",
                              {"XYZ is not a valid hexadecimal number."}},
                    StartCase{"BlankInsideOnEnter",
                              "12 4",
                              Qt::Key_Return,
                              0x100000,
                              "12 4",
                              {"12 4 is not a valid hexadecimal number."}}),
    [](const testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(Controls, RangeStartTurnsLettersIntoCapitalsAndTakesAtMostEight) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) { s.WC.MTRR1.Enabled = true; });
    TypeOver(form->WC1Edit, "abcdef012");
    EXPECT_EQ(S(Text(form->WC1Edit)), "ABCDEF01");
    EXPECT_TRUE(form->WC1Edit->isModified());
    EXPECT_EQ(dialogs.beeps, 0);
    QTest::keyClick(form->WC1Edit, Qt::Key_Return);
    EXPECT_EQ(Range1().Start, 0xABCDEF01u);
    EXPECT_EQ(Range0().Start, 0u) << "the other range is left alone";
}

TEST_F(Controls, EscapeAfterARefusedStartRestoresBothRows) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached};
        s.WC.MTRR1 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    });
    form->WC1Edit->setText("GG");
    TypeOver(form->WC0Edit, "Q");
    QTest::keyClick(form->WC0Edit, Qt::Key_Return);
    ASSERT_EQ(dialogs.ErrorMessages(),
              std::vector<std::string>{"Q is not a valid hexadecimal number."});
    QTest::keyClick(form->WC0Edit, Qt::Key_Escape);
    EXPECT_EQ(S(Text(form->WC0Edit)), "00100000");
    EXPECT_EQ(S(Text(form->WC1Edit)), "000A0000");
    EXPECT_EQ(Range0().Start, 0x100000u);
}

// While the error box is open the user (or the window system) moves the focus; neither that nor
// the handler putting the focus back may start another validation. With both fields invalid the
// two would otherwise hand the focus and the message back and forth forever.
class ErrorBoxFocus : public Controls, public testing::WithParamInterface<bool> {};

TEST_P(ErrorBoxFocus, FocusChangesWhileTheErrorBoxIsOpenDoNotValidateAgain) {
    const bool boxTakesActivation = GetParam();
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached};
        s.WC.MTRR1 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::WriteCombined};
    });
    int boxesShown = 0;
    MessageBoxFunction record = SetMessageBoxFunction(nullptr);
    SetMessageBoxFunction([&](const std::string& caption, const std::string& text, BoxIcon icon) {
        record(caption, text, icon);
        if (++boxesShown > 1)
            return;
        // Inside the box's own message loop: a click into the other invalid field, or a real
        // modal window taking the activation and giving it back.
        form->WC1Edit->setFocus(Qt::MouseFocusReason);
        if (boxTakesActivation) {
            QDialog box(form.get());
            QTimer::singleShot(0, &box, &QDialog::accept);
            box.exec();
        }
    });
    form->WC1Edit->setText("GG");
    TypeOver(form->WC0Edit, "XYZ");
    QTest::mouseClick(form->WC1Edit, Qt::LeftButton);
    if (!form->isActiveWindow()) {
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    SetMessageBoxFunction(record);

    EXPECT_EQ(dialogs.ErrorMessages(),
              std::vector<std::string>{"XYZ is not a valid hexadecimal number."});
    EXPECT_TRUE(form->WC0Edit->hasFocus()) << "the focus is back in the refused field";
    EXPECT_EQ(Range0().Start, 0x100000u);
    EXPECT_EQ(Range1().Start, 0xA0000u);
}

INSTANTIATE_TEST_SUITE_P(Boxes, ErrorBoxFocus, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "BoxTakesTheActivation" : "ClickInsideTheWindow";
                         });

TEST_F(Controls, UncheckingARangeResetsItAndDisablesItsRow) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::WriteCombined};
        s.WC.MTRR1 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
    });
    const MTRRTp range1 = Range1();
    Click(form->EnableWC0Check);

    const MTRRTp reset{false, 0, 0x20000, SizeTp::_128kB, MemoryTypeTp::NoEffect};
    EXPECT_EQ(Range0(), reset);
    EXPECT_EQ(Range1(), range1);
    EXPECT_EQ(S(Text(form->WC0Edit)), "00000000");
    EXPECT_EQ(S(form->WC0SizeCombo->currentText()), "128 kB");
    EXPECT_EQ(S(form->WC0TypeCombo->currentText()), "Normal");
    for (QWidget* w :
         {static_cast<QWidget*>(form->WC0Edit), static_cast<QWidget*>(form->WC0SizeCombo),
          static_cast<QWidget*>(form->WC0TypeCombo), static_cast<QWidget*>(form->WC0RangeEnd)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_TRUE(form->WC1Edit->isEnabled());
    EXPECT_TRUE(form->ApplyButton->isEnabled());
}

// A debug tick, a profile load or a refresh may turn a range off while the focus is in its start
// field. The field is disabled, which takes the focus from it, but the user did not leave it: its
// old text must not be taken over into the range the record now holds, nor be judged.
class RangeTurnedOffFromTheRecord : public Controls,
                                    public testing::WithParamInterface<const char*> {};

TEST_P(RangeTurnedOffFromTheRecord, WhileItsStartFieldHasTheFocusKeepsTheRecord) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::WriteCombined};
    });
    Focus(form->WC0Edit);
    const QString typed = QString::fromUtf8(GetParam());
    if (!typed.isEmpty())
        TypeOver(form->WC0Edit, typed);
    const MTRRTp unused{false, 0, 0, SizeTp::_4GB, MemoryTypeTp::NoEffect};
    form->CurrentSettings.WC.MTRR0 = unused;
    form->ShowSettings();

    EXPECT_EQ(Range0(), unused);
    EXPECT_EQ(S(Text(form->WC0Edit)), "00000000");
    EXPECT_FALSE(form->WC0Edit->isEnabled());
    EXPECT_TRUE(dialogs.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, RangeTurnedOffFromTheRecord, testing::Values("", "200000", "XYZ"));

TEST_F(Controls, FourGigabytesAtZeroEndsAtFFFFFFFF) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR1 = {true, 0, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
    });
    Focus(form->WC1SizeCombo);
    QTest::keyClick(form->WC1SizeCombo, Qt::Key_End);
    EXPECT_EQ(S(form->WC1SizeCombo->currentText()), "4 GB");
    EXPECT_EQ(Range1().Size, SizeTp::_4GB);
    EXPECT_EQ(Range1().SizeBytes, 0u);
    EXPECT_EQ(S(Text(form->WC1RangeEnd)), "FFFFFFFF");
    EXPECT_TRUE(form->ApplyButton->isEnabled());

    QTest::keyClick(form->WC1SizeCombo, Qt::Key_Up);
    EXPECT_EQ(Range1().Size, SizeTp::_2GB);
    EXPECT_EQ(Range1().SizeBytes, 0x80000000u);
    EXPECT_EQ(S(Text(form->WC1RangeEnd)), "7FFFFFFF");
}

TEST_F(Controls, ClickOnTheEmptyAreaOfTheWriteCombiningBoxOnlyMarksEdited) {
    Open(K6IIIPlus);
    Show([](SettingsTp&) {});
    const SettingsTp before = form->CurrentSettings;
    const QPoint onLabel = form->WC0ToLabel->geometry().center();
    QTest::mouseClick(form->WCBox, Qt::LeftButton, {}, onLabel);
    EXPECT_FALSE(form->ApplyButton->isEnabled()) << "a click on a label in the box is no box click";

    const QPoint empty(form->WCBox->width() - 6, form->WCBox->height() - 5);
    ASSERT_EQ(form->WCBox->childAt(empty), nullptr);
    QTest::mouseClick(form->WCBox, Qt::LeftButton, {}, empty);
    EXPECT_TRUE(form->ApplyButton->isEnabled());
    EXPECT_EQ(form->CurrentSettings, before);
}

// --- Every other control writes its own field and nothing else ---

struct ControlCase {
    const char* name;
    std::function<void(TForm1&)> act;
    std::function<void(SettingsTp&)> expect;
};

std::ostream& operator<<(std::ostream& os, const ControlCase& c) {
    return os << c.name;
}

class Control : public Controls, public testing::WithParamInterface<ControlCase> {};

TEST_P(Control, WritesItsFieldMarksEditedAndShowsTheRecord) {
    const ControlCase& c = GetParam();
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 64;
        s.WA.WA1516MB = false;
        s.WC.MTRR0 = {true, 0x100000, 0x100000, SizeTp::_1MB, MemoryTypeTp::Uncached};
        s.WC.MTRR1 = {true, 0xA0000, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
        s.L1CacheEnabled = true;
        s.L2CacheEnabled = true;
        s.DataPrefetchEnabled = false;
        s.WriteOrderingType = WriteOrderingTp::EWBEStrong;
        s.CPU.Multiplier = 3;
    });
    SettingsTp expected = form->CurrentSettings;
    c.expect(expected);
    c.act(*form);
    EXPECT_EQ(form->CurrentSettings, expected);
    EXPECT_TRUE(form->ApplyButton->isEnabled());

    // The window shows exactly what the record holds.
    SettingsTp shown = form->CurrentSettings;
    form->ShowSettings();
    EXPECT_EQ(form->CurrentSettings, shown);
}

void Key(QWidget* w, Qt::Key key) {
    w->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w, key);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, Control,
    testing::Values(
        ControlCase{"WA1516MB", [](TForm1& f) { Click(f.WA1516MBCheck); },
                    [](SettingsTp& s) { s.WA.WA1516MB = true; }},
        ControlCase{"L1Cache", [](TForm1& f) { Click(f.L1CacheEnableCheck); },
                    [](SettingsTp& s) { s.L1CacheEnabled = false; }},
        ControlCase{"L2Cache", [](TForm1& f) { Click(f.L2CacheEnableCheck); },
                    [](SettingsTp& s) { s.L2CacheEnabled = false; }},
        ControlCase{"DataPrefetch", [](TForm1& f) { Click(f.DataPrefetchCheck); },
                    [](SettingsTp& s) { s.DataPrefetchEnabled = true; }},
        ControlCase{"GEWBED", [](TForm1& f) { Click(f.GEWBEDRadio); },
                    [](SettingsTp& s) { s.WriteOrderingType = WriteOrderingTp::GEWBED; }},
        ControlCase{"SEWBED", [](TForm1& f) { Click(f.SEWBEDRadio); },
                    [](SettingsTp& s) { s.WriteOrderingType = WriteOrderingTp::SEWBED; }},
        ControlCase{"MultiplierUp", [](TForm1& f) { Key(f.MultiplierTrackBar, Qt::Key_Right); },
                    [](SettingsTp& s) { s.CPU.Multiplier = 4; }},
        ControlCase{"MultiplierHome", [](TForm1& f) { Key(f.MultiplierTrackBar, Qt::Key_Home); },
                    [](SettingsTp& s) { s.CPU.Multiplier = 0; }},
        ControlCase{"Range0Size", [](TForm1& f) { Key(f.WC0SizeCombo, Qt::Key_Down); },
                    [](SettingsTp& s) {
                        s.WC.MTRR0.Size = SizeTp::_2MB;
                        s.WC.MTRR0.SizeBytes = 0x200000;
                    }},
        ControlCase{"Range1Type", [](TForm1& f) { Key(f.WC1TypeCombo, Qt::Key_Down); },
                    [](SettingsTp& s) { s.WC.MTRR1.MemoryType = MemoryTypeTp::WriteCombined; }},
        ControlCase{"Range0TypeNormal", [](TForm1& f) { Key(f.WC0TypeCombo, Qt::Key_Home); },
                    [](SettingsTp& s) { s.WC.MTRR0.MemoryType = MemoryTypeTp::NoEffect; }},
        ControlCase{"Range1Enable",
                    [](TForm1& f) {
                        Click(f.EnableWC1Check);
                        Click(f.EnableWC1Check);
                    },
                    [](SettingsTp& s) {
                        s.WC.MTRR1 = {true, 0, 0x20000, SizeTp::_128kB, MemoryTypeTp::NoEffect};
                    }}),
    [](const testing::TestParamInfo<ControlCase>& info) { return info.param.name; });

TEST_F(Controls, EditedLimitReachesTheProcessorOnApply) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WA.WAEnabled = true;
        s.WA.WALimit = 0;
    });
    TypeOver(form->WAEdit, "102");
    QTest::keyClick(form->WAEdit, Qt::Key_Return);
    QTest::mouseClick(form->ApplyButton, Qt::LeftButton);
    // 100 MB in bits 31..22 of WHCR: 25 units of 4 MB.
    EXPECT_EQ(SimulatorGet("C0000082"), "0000000006400000");
    EXPECT_EQ(WA().WALimit, 100);
    EXPECT_FALSE(form->ApplyButton->isEnabled());
}
} // namespace

// --- What a new user expects of the lists, the radio group, the tabs and the buttons ---

namespace {
// Every list drops down below or above itself, never over it, with as many rows as it shows.
TEST_F(Controls, ListsDropDownBesideThemselvesWithTheirRowsVisible) {
    Open(K6IIIPlus);
    Show([](SettingsTp& s) {
        s.WC.MTRR0 = {true, 0, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
        s.WC.MTRR1 = {true, 0, 0x20000, SizeTp::_128kB, MemoryTypeTp::Uncached};
    });
    for (QComboBox* list :
         {form->WC0SizeCombo, form->WC1SizeCombo, form->WC0TypeCombo, form->WC1TypeCombo}) {
        list->showPopup();
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
        int visible = 0;
        for (int row = 0; row < list->count(); ++row)
            visible +=
                view->viewport()->rect().contains(view->visualRect(list->model()->index(row, 0)));
        EXPECT_EQ(visible, std::min(list->count(), 12)) << S(list->objectName());
        const QRect control(list->mapToGlobal(QPoint(0, 0)), list->size());
        const QRect popup = view->window()->frameGeometry();
        EXPECT_TRUE(popup.top() >= control.bottom() || popup.bottom() <= control.top())
            << S(list->objectName());
        list->hidePopup();
    }
}

// An unread ratio shows no thumb; the first pick takes the ratio the user points at or keys,
// even where the hidden thumb stood.
TEST_F(Controls, AnUnreadMultiplierShowsNoPositionUntilTheUserPicksOne) {
    for (const std::vector<std::string>& row : ReadTable("multiplier-picks.txt")) {
        form.reset(); // closes the driver the last row's window opened
        Open(K6IIIPlus);
        TTrackBar* slider = form->MultiplierTrackBar;
        slider->setValue(std::stoi(row.at(1)));
        Show([](SettingsTp& s) { s.CPU.MultiplierUnread = true; });
        EXPECT_FALSE(slider->PositionShown());
        if (row.at(0) == "click") {
            // The positions lie evenly between the thumb's half widths at either end.
            const int x = 7 + std::stoi(row.at(2)) * (slider->width() - 14) / 7;
            QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(x, slider->height() / 2));
        } else {
            Focus(slider);
            QTest::keyClick(slider, row.at(0) == "End" ? Qt::Key_End : Qt::Key_Right);
        }
        EXPECT_TRUE(slider->PositionShown()) << row.at(0);
        EXPECT_EQ(S(form->MultiplierText->text()), row.at(3)) << row.at(0) << " " << row.at(2);
    }
}

class WriteOrderingGroup : public Controls, public testing::WithParamInterface<int> {};

TEST_P(WriteOrderingGroup, TabLandsOnTheCheckedButtonAndArrowsMoveWithinTheGroup) {
    Open(K6IIIPlus);
    const int checked = GetParam();
    Show([checked](SettingsTp& s) { s.WriteOrderingType = static_cast<WriteOrderingTp>(checked); });
    QRadioButton* const radios[] = {form->GEWBEDRadio, form->SEWBEDRadio, form->EWBEStrongRadio};
    Focus(form->MultiplierTrackBar);
    QTest::keyClick(form->MultiplierTrackBar, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), radios[checked]);
    QTest::keyClick(radios[checked], Qt::Key_Space);
    EXPECT_FALSE(form->ApplyButton->isEnabled()) << "Space on the checked button changes nothing";

    // Down and Right move to the next button, round from the last, and check it; Up and Left
    // move back.
    for (const auto& [forward, back] :
         {std::pair{Qt::Key_Down, Qt::Key_Up}, std::pair{Qt::Key_Right, Qt::Key_Left}}) {
        const int next = (checked + 1) % 3;
        QTest::keyClick(radios[checked], forward);
        EXPECT_EQ(QApplication::focusWidget(), radios[next]);
        EXPECT_EQ(static_cast<int>(form->CurrentSettings.WriteOrderingType), next);
        QTest::keyClick(radios[next], back);
        EXPECT_EQ(QApplication::focusWidget(), radios[checked]);
        EXPECT_TRUE(radios[checked]->isChecked());
    }

    // Tab leaves the group; Shift+Tab comes back to its checked button.
    QTest::keyClick(radios[checked], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form->CLineButton);
    QTest::keyClick(form->CLineButton, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), radios[checked]);
}

INSTANTIATE_TEST_SUITE_P(Checked, WriteOrderingGroup, testing::Values(0, 1, 2));

TEST_F(Controls, HoveringOverAPageTabHighlightsIt) {
    Open(K6IIIPlus);
    QTabBar* tabs = form->PageControl1->tabBar();
    const QRect about = tabs->tabRect(1);
    QTest::mouseMove(form->FeaturesPage, form->FeaturesPage->rect().center());
    const QImage plain = tabs->grab(about).toImage();
    QTest::mouseMove(tabs, about.center());
    const QImage hovered = tabs->grab(about).toImage();
    EXPECT_NE(plain, hovered);
}

struct EnterCase {
    const char* name;
    std::function<QPushButton*(TForm1&)> button;
};

std::ostream& operator<<(std::ostream& os, const EnterCase& c) {
    return os << c.name;
}

class EnterOnButton : public Controls, public testing::WithParamInterface<EnterCase> {};

TEST_P(EnterOnButton, PressesIt) {
    Open(K6IIIPlus);
    form->MarkModified();
    dialogs.answers = {false, false};
    QPushButton* button = GetParam().button(*form);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        button->setFocus(Qt::TabFocusReason);
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::keyClick(button, key);
        EXPECT_EQ(clicked.count(), 1) << (key == Qt::Key_Return ? "Return" : "Enter");
        form->MarkModified();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, EnterOnButton,
    testing::Values(EnterCase{"Apply", [](TForm1& f) { return f.ApplyButton; }},
                    EnterCase{"Refresh", [](TForm1& f) { return f.Refresh; }},
                    EnterCase{"CLineParameters", [](TForm1& f) { return f.CLineButton; }},
                    EnterCase{"DeleteProfile",
                              [](TForm1& f) {
                                  f.DeleteProfileButton->setEnabled(true);
                                  return f.DeleteProfileButton;
                              }},
                    EnterCase{"DebugWindowStart",
                              [](TForm1& f) { return (new TDebugForm(&f))->StartStopButton; }},
                    EnterCase{"SaveDialogCancel",
                              [](TForm1& f) {
                                  auto* dialog = new TSaveProfileDialog(&f);
                                  dialog->setAttribute(Qt::WA_DeleteOnClose);
                                  return dialog->Cancel;
                              }}),
    [](const testing::TestParamInfo<EnterCase>& info) { return info.param.name; });
} // namespace
