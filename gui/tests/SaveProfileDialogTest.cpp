// The save-profile dialog: its controls, its keys, the overwrite question and the start-up
// registration for "Startup_Settings"; and the main window's Save button around it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "GuiTestSupport.h"
#include "driver/wintweak.h"
#include "gui/Unit1.h"
#include "gui/Unit2.h"
#include "profiles/SaveLoad.h"

namespace {
class SaveProfileDialog : public testing::Test {
protected:
    DialogRecorder dialogs;
    SettingsTp settings;

    void SetUp() override {
        ResetSimulator("k6-3+");
        ASSERT_TRUE(LoadDriver());
        IdentifyCPU(settings);
    }
    void TearDown() override { UnloadDriver(); }

    std::unique_ptr<TSaveProfileDialog> Make() {
        auto dialog = std::make_unique<TSaveProfileDialog>();
        dialog->ProfileSettings = settings;
        return dialog;
    }

    static void Type(TSaveProfileDialog& dialog, const QString& text) {
        QTest::keyClicks(dialog.SaveEdit->lineEdit(), text);
    }

    SettingsTp Stored(const std::string& name) {
        SettingsTp loaded = settings;
        EXPECT_TRUE(LoadProfile(name, loaded)) << name;
        return loaded;
    }
};

TEST_F(SaveProfileDialog, HasItsCaptionSizeAndControls) {
    ASSERT_TRUE(SaveProfile("Existing", settings));
    auto dialog = Make();
    EXPECT_EQ(dialog->windowTitle(), "Vantrel - Save Profile");
    EXPECT_EQ(dialog->size(), QSize(210, 107));
    EXPECT_EQ(dialog->Label1->text(), "Please enter a name for this profile");
    EXPECT_EQ(dialog->Label1->pos(), QPoint(24, 8));
    EXPECT_EQ(dialog->SaveEdit->geometry().topLeft(), QPoint(24, 36));
    EXPECT_EQ(dialog->SaveEdit->width(), 161);
    EXPECT_TRUE(dialog->SaveEdit->isEditable());
    EXPECT_EQ(dialog->SaveEdit->count(), 1);
    EXPECT_EQ(dialog->SaveEdit->itemText(0), "Existing");
    EXPECT_EQ(dialog->SaveEdit->currentText(), "");
    EXPECT_EQ(dialog->OK->text(), "OK");
    EXPECT_EQ(dialog->OK->geometry(), QRect(16, 76, 75, 25));
    EXPECT_EQ(dialog->Cancel->text(), "Cancel");
    EXPECT_EQ(dialog->Cancel->geometry(), QRect(108, 76, 75, 25));
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowContextHelpButtonHint);
}

TEST_F(SaveProfileDialog, ANameChosenFromTheListOverwritesThatProfileWhateverItsEncoding) {
    ASSERT_TRUE(SaveProfile("B\xFCro", settings)); // Windows-1252, as a REGEDIT4 file gives it
    auto dialog = Make();
    dialog->show();
    settings.L2CacheEnabled = false;
    dialog->ProfileSettings = settings;
    dialog->SaveEdit->setCurrentIndex(0);
    EXPECT_EQ(dialog->SaveEdit->currentText(), QString::fromUtf8("B\xC3\xBCro"));
    dialog->OK->click();
    EXPECT_EQ(dialogs.confirmations,
              std::vector<std::string>{"Profile B\xFCro already exists. Overwrite?"});
    EXPECT_FALSE(Stored("B\xFCro").L2CacheEnabled);
    EXPECT_FALSE(ProfileExists("B\xC3\xBCro")) << "the shown name was encoded again";
}

TEST_F(SaveProfileDialog, EnterSavesTheTypedNameAndCloses) {
    auto dialog = Make();
    dialog->show();
    settings.L2CacheEnabled = false;
    dialog->ProfileSettings = settings;
    Type(*dialog, "Fast");
    QTest::keyClick(dialog->SaveEdit->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(Stored("Fast").L2CacheEnabled);
    EXPECT_TRUE(dialogs.confirmations.empty());
}

TEST_F(SaveProfileDialog, BlankAndBackslashAreRefusedWithABeep) {
    auto dialog = Make();
    dialog->show();
    Type(*dialog, "a b\\c");
    EXPECT_EQ(dialog->SaveEdit->currentText(), "abc");
    EXPECT_EQ(dialogs.beeps, 2);
    // Pasted text does not pass the key handler and is saved as it reads.
    dialog->SaveEdit->setEditText("my profile");
    dialog->OK->click();
    EXPECT_TRUE(ProfileExists("my profile"));
}

// A user's keys go to the widget that holds the focus when the dialog opens, not straight to
// the combo box's inner edit: the key rules must hold there too.
TEST_F(SaveProfileDialog, KeysTypedWhereTheFocusIsFollowTheKeyRules) {
    auto dialog = Make();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus == dialog->SaveEdit || focus == dialog->SaveEdit->lineEdit())
        << focus->objectName().toStdString();
    QTest::keyClicks(focus, "a b\\c");
    EXPECT_EQ(dialog->SaveEdit->currentText(), "abc");
    EXPECT_EQ(dialogs.beeps, 2);
    QTest::keyClick(focus, Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(ProfileExists("abc"));
}

TEST_F(SaveProfileDialog, AnEmptyNameBeepsAndKeepsTheDialogOpen) {
    auto dialog = Make();
    dialog->show();
    dialog->OK->click();
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_TRUE(dialog->isVisible());
    std::vector<std::string> names;
    GetProfileNames(names);
    EXPECT_TRUE(names.empty());
}

TEST_F(SaveProfileDialog, EscapeCancelsFromTheFieldAndFromTheButtons) {
    for (int target = 0; target < 3; ++target) {
        auto dialog = Make();
        dialog->show();
        Type(*dialog, "Never");
        QWidget* widgets[] = {dialog->SaveEdit->lineEdit(), dialog->OK, dialog->Cancel};
        QTest::keyClick(widgets[target], Qt::Key_Escape);
        EXPECT_EQ(dialog->result(), QDialog::Rejected) << target;
        EXPECT_FALSE(dialog->isVisible()) << target;
        EXPECT_FALSE(ProfileExists("Never")) << target;
    }
}

TEST_F(SaveProfileDialog, OverwriteIsAskedAndCancelKeepsProfileAndDialog) {
    settings.DataPrefetchEnabled = true;
    ASSERT_TRUE(SaveProfile("Existing", settings));
    settings.DataPrefetchEnabled = false;
    auto dialog = Make();
    dialog->show();
    dialog->SaveEdit->setCurrentIndex(0);

    dialogs.answers = {false};
    dialog->OK->click();
    EXPECT_EQ(dialogs.confirmations,
              std::vector<std::string>{"Profile Existing already exists. Overwrite?"});
    EXPECT_EQ(dialogs.confirmCaptions, std::vector<std::string>{"Confirm"});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(Stored("Existing").DataPrefetchEnabled);

    dialogs.answers = {true};
    dialog->OK->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(Stored("Existing").DataPrefetchEnabled);
}

TEST_F(SaveProfileDialog, TypedExistingNameInOtherCaseIsAlsoAsked) {
    ASSERT_TRUE(SaveProfile("Existing", settings));
    auto dialog = Make();
    dialog->show();
    Type(*dialog, "EXISTING");
    dialogs.answers = {false};
    QTest::keyClick(dialog->SaveEdit->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(dialogs.confirmations,
              std::vector<std::string>{"Profile EXISTING already exists. Overwrite?"});
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(SaveProfileDialog, SavingStartupSettingsRegistersTheStartupEntryOnlyForTheExactName) {
    {
        auto dialog = Make();
        dialog->show();
        Type(*dialog, "startup_settings");
        dialog->OK->click();
        EXPECT_TRUE(ProfileExists("Startup_Settings"));
        EXPECT_FALSE(AutoApplyRegistered()) << "another letter case does not register";
    }
    {
        auto dialog = Make();
        dialog->show();
        Type(*dialog, "Startup_Settings");
        dialogs.answers = {true};
        dialog->OK->click();
        EXPECT_TRUE(AutoApplyRegistered());
        EXPECT_FALSE(dialog->isVisible());
    }
}

TEST_F(SaveProfileDialog, MainWindowSaveButtonHandsACopyToTheDialogAndRefreshesTheList) {
    TForm1 form;
    form.CurrentSettings.L1CacheEnabled = false;
    // The dialog is modal: answer it from inside its own message loop.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TSaveProfileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(dialog->ProfileSettings.L1CacheEnabled);
        QTest::keyClicks(dialog->SaveEdit->lineEdit(), "FromWindow");
        QTest::keyClick(dialog->SaveEdit->lineEdit(), Qt::Key_Return);
    });
    form.Button1->click();
    EXPECT_FALSE(Stored("FromWindow").L1CacheEnabled);
    EXPECT_EQ(form.LoadProfileCombo->findText("FromWindow"), 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// Saving "Startup_Settings" from the window registers the start-up entry; the box shows it, so
// the next Apply keeps the entry and the profile instead of taking the box as an order to
// remove them.
TEST_F(SaveProfileDialog, SavingStartupSettingsFromTheWindowChecksTheBoxAndApplyKeepsIt) {
    TForm1 form;
    ASSERT_FALSE(form.AutoApplyAtBootCheck->isChecked());
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TSaveProfileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTest::keyClicks(dialog->SaveEdit->lineEdit(), "Startup_Settings");
        QTest::keyClick(dialog->SaveEdit->lineEdit(), Qt::Key_Return);
    });
    form.Button1->click();
    ASSERT_TRUE(AutoApplyRegistered());
    EXPECT_TRUE(form.AutoApplyAtBootCheck->isChecked());
    EXPECT_FALSE(form.ApplyButton->isEnabled()) << "the settings were not edited";

    form.CurrentSettings.DataPrefetchEnabled = !form.CurrentSettings.DataPrefetchEnabled;
    form.MarkModified();
    form.ApplyButton->click();
    EXPECT_TRUE(AutoApplyRegistered());
    EXPECT_TRUE(ProfileExists("Startup_Settings"));
    EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front();
}
} // namespace
