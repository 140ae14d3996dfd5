// The main window on the simulated processor: its layout, what it shows per processor, and the
// handlers of its buttons, profile list and auto-apply box.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QToolTip>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>

#include "GuiTestSupport.h"
#include "cmdline/BuildCommandLine.h"
#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/GuiFont.h"
#include "gui/QtText.h"
#include "gui/SpinButton.h"
#include "gui/Unit1.h"
#include "gui/Unit2.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"
#include "testing/TestSupport.h"

namespace {
const std::string InfoHeading = "Quorix:\r\n";

class MainWindow : public testing::Test {
protected:
    DialogRecorder dialogs;

    std::unique_ptr<TForm1> Open(const std::string& preset) {
        ResetSimulator(preset);
        EXPECT_TRUE(LoadDriver());
        return std::make_unique<TForm1>();
    }

    static bool Enabled(TForm1& form, const char* name) {
        QWidget* w = FindControl<QWidget>(&form, name);
        EXPECT_NE(w, nullptr) << name;
        return w && w->isEnabled();
    }

    static std::string Text(QLabel* label) { return label->text().toStdString(); }
};

// ---------------------------------------------------------------------------------------------
// Layout

TEST_F(MainWindow, FormIsTheFixedSizeWindowWithTheTwoPages) {
    auto form = Open("k6-3+");
    EXPECT_EQ(form->windowTitle(), "Quorix");
    EXPECT_EQ(form->size(), QSize(476, 500));
    ASSERT_EQ(form->PageControl1->count(), 2);
    EXPECT_EQ(form->PageControl1->tabText(0), "Features");
    EXPECT_EQ(form->PageControl1->tabText(1), "About");
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowContextHelpButtonHint);
}

// The desktop matches the window to the launcher by the id and shows the launcher's icon, also
// where no icon theme holds it: every size of the installed icon is compiled in.
TEST_F(MainWindow, CarriesTheLaunchersIdAndIcon) {
    auto form = Open("k6-3+");
    EXPECT_EQ(QGuiApplication::desktopFileName(), ApplicationId);
    EXPECT_FALSE(form->windowIcon().isNull());
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage image(QString(":/icons/%1x%1/apps/%2.png").arg(size).arg(ApplicationId));
        EXPECT_EQ(image.size(), QSize(size, size)) << size;
    }
}

TEST_F(MainWindow, GroupBoxesStandInTheirRectanglesWithTheirCaptions) {
    auto form = Open("k6-3+");
    struct Box {
        const char* name;
        const char* caption;
        QRect rect;
    };
    const Box boxes[] = {{"CPUIDBox", "CPU", QRect(0, 0, 457, 81)},
                         {"WABox", "Write Allocation", QRect(0, 84, 249, 81)},
                         {"CacheBox", "Cache", QRect(256, 84, 201, 81)},
                         {"WCBox", "Write Combining", QRect(0, 168, 457, 97)},
                         {"MultiplierBox", "Multiplier", QRect(0, 268, 197, 81)},
                         {"EWBEBox", "Write Ordering", QRect(204, 268, 253, 81)},
                         {"ProfilesBox", "Profiles", QRect(204, 352, 253, 89)}};
    for (const Box& b : boxes) {
        auto* box = FindControl<QGroupBox>(form.get(), b.name);
        ASSERT_NE(box, nullptr) << b.name;
        EXPECT_EQ(box->title(), b.caption) << b.name;
        EXPECT_EQ(box->geometry(), b.rect) << b.name;
        EXPECT_EQ(box->parentWidget(), form->FeaturesPage) << b.name;
    }
    struct At {
        const char* name;
        QPoint pos;
    };
    for (const At& a :
         {At{"CLineButton", {4, 356}}, At{"AutoApplyAtBootCheck", {20, 388}},
          At{"ApplyButton", {4, 416}}, At{"Refresh", {92, 416}}, At{"DebugButton", {124, 352}}}) {
        QWidget* w = FindControl<QWidget>(form.get(), a.name);
        ASSERT_NE(w, nullptr) << a.name;
        EXPECT_EQ(w->pos(), a.pos) << a.name;
        EXPECT_EQ(w->parentWidget(), form->FeaturesPage) << a.name;
    }
    EXPECT_EQ(form->Memo2->geometry(), QRect(56, 20, 325, 289));
    // The page fills the window and holds the lowest box whole.
    EXPECT_GE(form->FeaturesPage->height(), 441);
}

TEST_F(MainWindow, EveryControlHasItsCaptionHintAndHelpNumber) {
    auto form = Open("k6-3+");
    struct Control {
        const char* name;
        const char* caption; // nullptr: the control has no caption
        const char* hint;
        int help;
    };
    const Control controls[] = {
        {"EnableWACheck", "Enable", "Enable write allocation", 1000},
        {"WAEdit", nullptr, "Write allocation limit", 1001},
        {"WASpinButton", nullptr, "", 1001},
        {"WA1516MBCheck", "Enable Write Allocation 15-to-16-MB.",
         "Enable write allocation for the range from 15 to 16MB", 1002},
        {"L1CacheEnableCheck", "L1 Enable (internal)", "Enable internal L1 cache", 1003},
        {"L2CacheEnableCheck", "L2 Enable (internal)", "Enable internal L2 cache", 1004},
        {"DataPrefetchCheck", "Data Prefetch", "Enable data prefetch", 1005},
        {"EnableWC0Check", "Enable MTRR0:", "Enable Memory Type Range Register 0", 1006},
        {"WC0Edit", nullptr, "Start of the memory range", 1007},
        {"WC0RangeEnd", nullptr, "End of the memory range", 1008},
        {"WC0SizeCombo", nullptr, "Size of the memory range", 1009},
        {"WC0TypeCombo", nullptr, "Type of memory", 1010},
        {"EnableWC1Check", "Enable MTRR1:", "Enable Memory Type Range Register 1", 1011},
        {"WC1Edit", nullptr, "Start of the memory range", 1012},
        {"WC1RangeEnd", nullptr, "End of the memory range", 1013},
        {"WC1SizeCombo", nullptr, "Size of the memory range", 1014},
        {"WC1TypeCombo", nullptr, "Type of memory", 1015},
        {"MultiplierTrackBar", nullptr, "Use the slider to set the multiplier", 1019},
        {"GEWBEDRadio", "No Write Ordering", "Set the type of write ordering", 1020},
        {"SEWBEDRadio", "All except UC/WC", "Set the type of write ordering", 1021},
        {"EWBEStrongRadio", "All", "Set the type of write ordering", 1022},
        {"AutoApplyAtBootCheck", "Auto apply at windows startup",
         "Auto load the settings at system startup", 1023},
        {"LoadProfileCombo", nullptr, "List of profiles", 1024},
        {"Button1", "Save", "Save these settings", 1025},
        {"DeleteProfileButton", "Delete profile", "Delete the selected profile", 1026},
        {"ApplyButton", "Apply", "Apply the settings", 1027},
        {"Refresh", "&Refresh", "Refresh the screen", 1028},
        {"CLineButton", "CLine parameters",
         "Copies the settings as command line parameters to the clipboard.", 1029},
        {"DebugButton", "DebugButton", "", 0},
        {"SuggestButton", "Suggest", "Fills the fields with the settings suited to this machine",
         1030},
    };
    for (const Control& c : controls) {
        QWidget* w = FindControl<QWidget>(form.get(), c.name);
        ASSERT_NE(w, nullptr) << c.name;
        if (c.caption) {
            auto* button = qobject_cast<QAbstractButton*>(w);
            ASSERT_NE(button, nullptr) << c.name;
            EXPECT_EQ(button->text().toStdString(), c.caption) << c.name;
        }
        EXPECT_EQ(w->toolTip().toStdString(), c.hint) << c.name;
        EXPECT_EQ(HelpContextOf(w), c.help) << c.name;
    }
    for (auto [name, text] :
         {std::pair{"WriteOrderingLabel1", "(fastest)"}, std::pair{"WriteOrderingLabel2", "(fast)"},
          std::pair{"WriteOrderingLabel3", "(slowest)"}, std::pair{"LoadLabel", "Load:"}}) {
        auto* label = FindControl<QLabel>(form.get(), name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(Text(label), text);
    }
}

TEST_F(MainWindow, ListsSliderAndFieldsHaveTheirItemsAndLimits) {
    auto form = Open("k6-3+");
    const QStringList sizes = {"128 kB", "256 kB", "512 kB", "1 MB",  "2 MB",   "4 MB",
                               "8 MB",   "16 MB",  "32 MB",  "64 MB", "128 MB", "256 MB",
                               "512 MB", "1 GB",   "2 GB",   "4 GB"};
    const QStringList types = {"Normal", "Uncached", "Write combined"};
    for (QComboBox* combo : {form->WC0SizeCombo, form->WC1SizeCombo}) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        EXPECT_EQ(items, sizes);
        EXPECT_EQ(combo->maxVisibleItems(), 12);
        EXPECT_FALSE(combo->isEditable());
    }
    for (QComboBox* combo : {form->WC0TypeCombo, form->WC1TypeCombo}) {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        EXPECT_EQ(items, types);
    }
    EXPECT_EQ(form->WAEdit->maxLength(), 4);
    for (QLineEdit* edit : {form->WC0Edit, form->WC1Edit})
        EXPECT_EQ(edit->maxLength(), 8);
    for (QLineEdit* end : {form->WC0RangeEnd, form->WC1RangeEnd}) {
        EXPECT_TRUE(end->isReadOnly());
        EXPECT_EQ(end->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(form->WASpinButton->focusPolicy(), Qt::NoFocus);
    const QSlider* slider = form->MultiplierTrackBar;
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 7);
    EXPECT_EQ(slider->singleStep(), 1);
    EXPECT_EQ(slider->tickInterval(), 1);
    EXPECT_EQ(slider->tickPosition(), QSlider::TicksBelow);
    EXPECT_LT(form->MultiplierText->x(), slider->x());
    EXPECT_FALSE(form->DebugButton->isVisibleTo(form.get()));
}

TEST_F(MainWindow, TabOrderFollowsTheBoxesAndSkipsTheRangeEnds) {
    auto form = Open("k6-3+");
    const std::vector<std::string> expected = {"EnableWACheck",       "WAEdit",
                                               "WA1516MBCheck",       "L1CacheEnableCheck",
                                               "L2CacheEnableCheck",  "DataPrefetchCheck",
                                               "EnableWC0Check",      "WC0Edit",
                                               "WC0SizeCombo",        "WC0TypeCombo",
                                               "EnableWC1Check",      "WC1Edit",
                                               "WC1SizeCombo",        "WC1TypeCombo",
                                               "MultiplierTrackBar",  "GEWBEDRadio",
                                               "SEWBEDRadio",         "EWBEStrongRadio",
                                               "CLineButton",         "AutoApplyAtBootCheck",
                                               "ApplyButton",         "Refresh",
                                               "LoadProfileCombo",    "Button1",
                                               "DeleteProfileButton", "DebugButton"};
    // Walk the focus chain from the first control and keep the named tab stops of the page; of
    // the radio group, whose tab stop is its checked button, every button keeps its place.
    std::vector<std::string> chain;
    QWidget* w = form->EnableWACheck;
    for (int guard = 0; guard < 500 && chain.size() < expected.size(); ++guard) {
        if (((w->focusPolicy() & Qt::TabFocus) || qobject_cast<QRadioButton*>(w)) &&
            !w->objectName().isEmpty() && form->FeaturesPage->isAncestorOf(w))
            chain.push_back(w->objectName().toStdString());
        w = w->nextInFocusChain();
    }
    EXPECT_EQ(chain, expected);
}

TEST_F(MainWindow, AboutPageNamesTheDrivenProcessorAndHoldsTheProcessorListAndTheDisclaimer) {
    auto form = Open("k6-3+");
    EXPECT_TRUE(form->Memo2->isReadOnly());
    const QStringList lines = form->Memo2->toPlainText().split('\n');
    ASSERT_GE(lines.size(), 15);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(lines[i].isEmpty()) << i;
    // Which processor the window drives (the tests choose the simulated one).
    EXPECT_EQ(lines[2], "Driver module: qrxvxd.vxd, simulated processor");
    EXPECT_EQ(lines[3], "");
    const QStringList processors = {"Supported AMD CPUs: (all: family 5)",
                                    "model 6 : AMD-K6(tm)",
                                    "model 7 : AMD-K6(tm)",
                                    "model 8/stepping 0..7 : AMD-K6(tm)-2",
                                    "model 8/stepping 8..F : AMD-K6(tm)-2 (with CXT core)",
                                    "model 9 : AMD-K6(tm)-III",
                                    "model D/stepping 0..3 : AMD-K6(tm)-III+ ",
                                    "model D/stepping 4..7 : AMD-K6(tm)-2+ "};
    EXPECT_EQ(lines.mid(4, 8), processors);
    EXPECT_EQ(lines[12], "");
    EXPECT_EQ(lines[13], "DISCLAIMER");
    const QString disclaimer = lines.mid(14).join(' ');
    EXPECT_TRUE(disclaimer.contains("without warranty")) << disclaimer.toStdString();
    EXPECT_TRUE(disclaimer.contains("risk")) << disclaimer.toStdString();
}

// Every caption fits its control with the font the window chose, also after the display filled
// in the longest texts of the presets.
TEST_F(MainWindow, NoCaptionIsClippedOnAnyPreset) {
    for (const char* preset : {"k6-3+", "k6-2+", "intel", "k6", "k6-2-cxt"}) {
        auto form = Open(preset);
        EXPECT_EQ(ClippedControls(form.get()), QStringList()) << preset;
        EXPECT_GE(form->font().pixelSize(), 8) << preset;
    }
}

// ---------------------------------------------------------------------------------------------
// What the window shows per processor

struct PresetView {
    const char* preset;
    const char* vendor;
    const char* name;
    const char* family;
    const char* model;
    const char* stepping;
    const char* speed;
    const char* multiplier;
    bool wa, wc, multiplierSlider, l2, writeOrdering, prefetch;
};

void PrintTo(const PresetView& v, std::ostream* os) {
    *os << v.preset;
}

class MainWindowPresets : public MainWindow, public testing::WithParamInterface<PresetView> {};

TEST_P(MainWindowPresets, ShowsIdentityAndEnablesExactlyTheSupportedFeatures) {
    const PresetView& v = GetParam();
    auto form = Open(v.preset);
    EXPECT_EQ(Text(form->UIVendorIDString), v.vendor);
    EXPECT_EQ(Text(form->UICPUString), v.name);
    EXPECT_EQ(Text(form->CPUFamilyString), v.family);
    EXPECT_EQ(Text(form->CPUModelString), v.model);
    EXPECT_EQ(Text(form->CPUSteppingString), v.stepping);
    EXPECT_EQ(Text(form->SpeedString), v.speed);
    EXPECT_EQ(Text(form->MultiplierText), v.multiplier);

    EXPECT_EQ(Enabled(*form, "EnableWACheck"), v.wa);
    for (const char* name : {"EnableWC0Check", "EnableWC1Check"})
        EXPECT_EQ(Enabled(*form, name), v.wc) << name;
    EXPECT_EQ(Enabled(*form, "MultiplierTrackBar"), v.multiplierSlider);
    EXPECT_EQ(Enabled(*form, "L2CacheEnableCheck"), v.l2);
    for (const char* name : {"GEWBEDRadio", "SEWBEDRadio", "EWBEStrongRadio", "WriteOrderingLabel1",
                             "WriteOrderingLabel2", "WriteOrderingLabel3"})
        EXPECT_EQ(Enabled(*form, name), v.writeOrdering) << name;
    EXPECT_EQ(Enabled(*form, "DataPrefetchCheck"), v.prefetch);
    // Always available.
    EXPECT_TRUE(Enabled(*form, "L1CacheEnableCheck"));
    EXPECT_TRUE(Enabled(*form, "WASpinButton"));
    EXPECT_TRUE(form->L1CacheEnableCheck->isChecked());
    // Nothing was edited yet.
    EXPECT_FALSE(form->SettingsModified);
    EXPECT_FALSE(form->ApplyButton->isEnabled());
    EXPECT_EQ(dialogs.boxes, std::vector<RecordedBox>());
}

INSTANTIATE_TEST_SUITE_P(
    Presets, MainWindowPresets,
    testing::Values(PresetView{"intel", "GenuineIntel", "Unknown CPU", "-", "-", "-", "1,000.0",
                               "Unavailable.", false, false, false, false, false, false},
                    PresetView{"k6", "AuthenticAMD", "AMD-K6(tm)", "5", "6", "2", "233.0",
                               "Unavailable.", true, false, false, false, false, false},
                    PresetView{"k6-2", "AuthenticAMD", "AMD-K6(tm)-2", "5", "8", "0", "350.0",
                               "Unavailable.", true, false, false, false, false, false},
                    PresetView{"k6-2-cxt", "AuthenticAMD", "AMD-K6(tm)-2", "5", "8", "C", "450.0",
                               "Unavailable.", true, true, false, false, true, true},
                    PresetView{"k6-3", "AuthenticAMD", "AMD-K6(tm)-III", "5", "9", "1", "450.0",
                               "Unavailable.", true, true, false, true, true, true},
                    PresetView{"k6-3+", "AuthenticAMD", "AMD-K6(tm)-III+", "5", "D", "0", "500.0",
                               "5.0 x", true, true, true, true, true, true},
                    PresetView{"k6-2+", "AuthenticAMD", "AMD-K6(tm)-2+", "5", "D", "4", "550.0",
                               "5.5 x", true, true, true, true, true, true},
                    PresetView{"k6-d9", "AuthenticAMD", "Unknown CPU", "5", "D", "9", "500.0",
                               "5.0 x", true, true, true, true, true, true},
                    PresetView{"athlon", "AuthenticAMD", "Unknown CPU", "6", "4", "2", "1,000.0",
                               "Unavailable.", false, false, false, false, false, false}),
    [](const testing::TestParamInfo<PresetView>& info) {
        std::string name = info.param.preset;
        for (char& c : name)
            if (c == '-' || c == '+')
                c = c == '+' ? 'P' : '_';
        return name;
    });

TEST_F(MainWindow, UnidentifiedProcessorDisablesEveryFeatureControlButL1AndTheSpinButton) {
    auto form = Open("intel");
    const char* disabled[] = {
        "EnableWACheck",     "WAEdit",         "WA1516MBCheck",  "L2CacheEnableCheck",
        "DataPrefetchCheck", "EnableWC0Check", "WC0Edit",        "WC0RangeEnd",
        "WC0SizeCombo",      "WC0TypeCombo",   "EnableWC1Check", "WC1Edit",
        "WC1RangeEnd",       "WC1SizeCombo",   "WC1TypeCombo",   "MultiplierTrackBar",
        "GEWBEDRadio",       "SEWBEDRadio",    "EWBEStrongRadio"};
    for (const char* name : disabled)
        EXPECT_FALSE(Enabled(*form, name)) << name;
    EXPECT_TRUE(Enabled(*form, "L1CacheEnableCheck"));
    EXPECT_TRUE(Enabled(*form, "WASpinButton"));
}

TEST_F(MainWindow, WithoutTimeStampCounterTheSpeedKeepsItsText) {
    ResetSimulator("k6-3+");
    const ProcessResult custom =
        RunProgram("qrxsim", {"reset", "custom", "AuthenticAMD", "5", "9", "1", "1", "0"});
    ASSERT_EQ(custom.exitStatus, 0) << custom.err;
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    EXPECT_EQ(Text(form.SpeedString), "xx");
    EXPECT_EQ(Text(form.UICPUString), "AMD-K6(tm)-III");
}

TEST_F(MainWindow, ShowsTheRangesOfTheProcessorWithTheirEnds) {
    ResetSimulator("k6-3+");
    // Range 0: E0000000, 4 MB, write combined; range 1: 4 GB at 0 is not encodable, so use the
    // record: the display of a 4 GB range at 0 ends at FFFFFFFF.
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    form.CurrentSettings.WC.MTRR0 =
        MTRRTp{true, 0xE0000000u, 0x400000u, SizeTp::_4MB, MemoryTypeTp::WriteCombined};
    form.CurrentSettings.WC.MTRR1 = MTRRTp{true, 0, 0, SizeTp::_4GB, MemoryTypeTp::Uncached};
    form.ShowWriteCombining();
    EXPECT_TRUE(form.EnableWC0Check->isChecked());
    EXPECT_EQ(form.WC0Edit->text(), "E0000000");
    EXPECT_EQ(form.WC0RangeEnd->text(), "E03FFFFF");
    EXPECT_EQ(form.WC0SizeCombo->currentIndex(), 5);
    EXPECT_EQ(form.WC0TypeCombo->currentIndex(), 2);
    EXPECT_TRUE(form.WC0Edit->isEnabled());
    EXPECT_EQ(form.WC1RangeEnd->text(), "FFFFFFFF");
    EXPECT_EQ(form.WC1SizeCombo->currentText(), "4 GB");
    EXPECT_EQ(form.WC1TypeCombo->currentText(), "Uncached");
}

TEST_F(MainWindow, MultiplierOutsideTheTableShowsErrorAndLeavesTheSlider) {
    auto form = Open("k6-3+");
    const int before = form->MultiplierTrackBar->value();
    form->CurrentSettings.CPU.Multiplier = 9;
    form->ShowMultiplier();
    EXPECT_EQ(Text(form->MultiplierText), "error");
    EXPECT_EQ(form->MultiplierTrackBar->value(), before);
}

// ---------------------------------------------------------------------------------------------
// Version check

TEST_F(MainWindow, FirstStartWritesTheVersionMarker) {
    ASSERT_TRUE(StoredVersionMissing());
    auto form = Open("k6-3+");
    EXPECT_FALSE(form->Terminated);
    EXPECT_EQ(ReadStoredVersion(), "0.81");
}

TEST_F(MainWindow, StoredVersionIsComparedByteByByte) {
    struct Case {
        const char* stored;
        bool ends;
    };
    for (const Case& c : {Case{"0.9", true}, Case{"0.10", false}, Case{"0.81", false},
                          Case{"0.82", true}, Case{"", false}, Case{"1", true}}) {
        WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX]\n\"Version\"=\"" +
                          std::string(c.stored) + "\"\n");
        dialogs.Clear();
        auto form = Open("k6-3+");
        EXPECT_EQ(form->Terminated, c.ends) << c.stored;
        if (c.ends) {
            EXPECT_EQ(dialogs.ErrorMessages(),
                      std::vector<std::string>{
                          "Found registry information of newer version of QRX. Exiting."})
                << c.stored;
            EXPECT_EQ(ReadStoredVersion(), c.stored) << "nothing is written";
            EXPECT_EQ(Text(form->UICPUString), "xx") << "the processor is not identified";
        } else {
            EXPECT_EQ(dialogs.boxes, std::vector<RecordedBox>()) << c.stored;
            EXPECT_EQ(ReadStoredVersion(), "0.81") << c.stored;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// A registry file that cannot be read

// What the Features page shows outside the profile controls: each named control's enabled
// state and its text or checked state.
std::map<std::string, std::string> ProcessorSide(TForm1& form) {
    std::map<std::string, std::string> shown;
    for (QWidget* w : form.FeaturesPage->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->window() != &form ||
            form.ProfilesBox->isAncestorOf(w) || w == form.ProfilesBox ||
            w == form.AutoApplyAtBootCheck)
            continue;
        std::string state = w->isEnabled() ? "enabled" : "disabled";
        if (auto* label = qobject_cast<QLabel*>(w))
            state += " " + label->text().toStdString();
        else if (auto* edit = qobject_cast<QLineEdit*>(w))
            state += " " + edit->text().toStdString();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            state += button->isChecked() ? " checked" : " unchecked";
        else if (auto* combo = qobject_cast<QComboBox*>(w))
            state += " " + combo->currentText().toStdString();
        else if (auto* slider = qobject_cast<QSlider*>(w))
            state += " " + std::to_string(slider->value());
        shown[w->objectName().toStdString()] = state;
    }
    return shown;
}

TEST_F(MainWindow, DamagedRegistryFileIsReportedOnceAndOnlyTheProfileSideWaitsForIt) {
    const auto healthy = ProcessorSide(*Open("k6-2+"));
    WriteRegistryFile("not a line of a registry file\n");
    const std::string damaged = ReadFile(RegistryFilePath());
    dialogs.Clear();
    // As the program starts: the window, then the hidden save dialog.
    auto form = Open("k6-2+");
    TSaveProfileDialog hiddenDialog;
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, "Quorix");
    EXPECT_NE(dialogs.boxes[0].text.find(RegistryFilePath()), std::string::npos);
    SettingsTp processor;
    IdentifyCPU(processor);
    EXPECT_EQ(form->CurrentSettings, processor);
    auto shown = ProcessorSide(*form);
    for (const auto& [name, state] : healthy)
        EXPECT_EQ(shown[name], state) << name;
    const char* profileSide[] = {"LoadProfileCombo", "Button1", "DeleteProfileButton",
                                 "AutoApplyAtBootCheck"};
    for (const char* name : profileSide)
        EXPECT_FALSE(Enabled(*form, name)) << name;

    // The processor side works; Refresh tries the file again and reports it still damaged.
    form->L2CacheEnableCheck->click();
    form->ApplyButton->click();
    IdentifyCPU(processor);
    EXPECT_FALSE(processor.L2CacheEnabled);
    form->Refresh->click();
    EXPECT_EQ(dialogs.boxes.size(), 2u);
    EXPECT_FALSE(Enabled(*form, "LoadProfileCombo"));
    EXPECT_EQ(ReadFile(RegistryFilePath()), damaged);

    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Fast]\n");
    form->Refresh->click();
    EXPECT_EQ(dialogs.boxes.size(), 2u);
    for (const char* name : {"LoadProfileCombo", "Button1", "AutoApplyAtBootCheck"})
        EXPECT_TRUE(Enabled(*form, name)) << name;
    EXPECT_EQ(form->LoadProfileCombo->itemText(0), "Fast");
}

// Each way the registry can fail leaves the window as a damaged file does: one message naming
// the file and the cause, the profile side greyed, Apply off; Refresh finds the fault again,
// and once it is mended gives the profiles back.
TEST_F(MainWindow, EveryRegistryFaultAtStartupAndRefreshGreysTheProfileSideWithOneMessage) {
    const std::string file = RegistryFilePath();
    const std::string env = "F='" + file + "' D='" + file.substr(0, file.rfind('/')) + "'; ";
    for (const std::vector<std::string>& row : ReadTable("registry-errors.txt")) {
        ASSERT_EQ(std::system((env + "rm -rf \"$D\"; " + row.at(1)).c_str()), 0) << row[0];
        dialogs.Clear();
        auto form = Open("k6-3+");
        for (size_t boxes = 1; boxes <= 2; ++boxes) { // at start-up, then on Refresh
            ASSERT_EQ(dialogs.boxes.size(), boxes) << row[0];
            for (const std::string& piece : {file, row.at(2), row.back()})
                EXPECT_NE(dialogs.boxes.back().text.find(piece), std::string::npos)
                    << row[0] << ": " << dialogs.boxes.back();
            for (const char* control : {"LoadProfileCombo", "Button1", "DeleteProfileButton",
                                        "AutoApplyAtBootCheck", "ApplyButton"})
                EXPECT_FALSE(Enabled(*form, control)) << row[0] << " " << control;
            form->Refresh->click();
        }
        ASSERT_EQ(std::system((env + "rm -rf \"$D\"").c_str()), 0);
        form->Refresh->click();
        EXPECT_EQ(dialogs.boxes.size(), 3u) << row[0] << ": mended, no message";
        EXPECT_TRUE(Enabled(*form, "Button1")) << row[0];
    }
}

// ---------------------------------------------------------------------------------------------
// Apply and Refresh

TEST_F(MainWindow, ApplyWritesTheRecordToTheProcessorAndShowsWhatItHolds) {
    auto form = Open("k6-3+");
    form->CurrentSettings.WA.WAEnabled = true;
    form->CurrentSettings.WA.WALimit = 66; // the processor keeps 4 MB steps
    form->CurrentSettings.L2CacheEnabled = false;
    form->CurrentSettings.CPU.Multiplier = 4;
    form->MarkModified();
    ASSERT_TRUE(form->ApplyButton->isEnabled());
    ClearSimulatorLog();
    form->ApplyButton->click();
    EXPECT_EQ(form->CurrentSettings.WA.WALimit, 64);
    EXPECT_EQ(form->WAEdit->text(), "64");
    EXPECT_FALSE(form->L2CacheEnableCheck->isChecked());
    EXPECT_EQ(Text(form->MultiplierText), "4.5 x");
    EXPECT_EQ(Text(form->SpeedString), "450.0");
    EXPECT_FALSE(form->SettingsModified);
    EXPECT_FALSE(form->ApplyButton->isEnabled());
    const std::vector<std::string> log = SimulatorLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "Out FFF8 00096200"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "SetL2Cache 0"), log.end());
    EXPECT_FALSE(AutoApplyRegistered()) << "an unchanged box leaves the entry alone";
}

// A feature whose read failed shows neither on nor off and says so in its hint, and Apply leaves
// it as the processor holds it, until the user gives it a value.
TEST_F(MainWindow, AFeatureThatCouldNotBeReadShowsUnknownAndApplyWritesOnlyWhatTheUserGives) {
    ResetSimulator("k6-3+");
    Sim({"set", "C0000085", "0041FF81000BFFFE"}); // both ranges in use
    Sim({"set", "C0000080", "12"});               // L2 cache off
    Sim({"fail", "1"});                           // no register can be read; CR0 can
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    for (QCheckBox* box : {form.EnableWACheck, form.WA1516MBCheck, form.EnableWC0Check,
                           form.EnableWC1Check, form.L2CacheEnableCheck, form.DataPrefetchCheck}) {
        EXPECT_EQ(box->checkState(), Qt::PartiallyChecked) << box->objectName().toStdString();
        EXPECT_TRUE(box->toolTip().contains("unknown")) << box->objectName().toStdString();
    }
    EXPECT_EQ(form.L1CacheEnableCheck->checkState(), Qt::Checked);
    EXPECT_FALSE(form.L1CacheEnableCheck->toolTip().contains("unknown"));
    for (QRadioButton* radio : {form.GEWBEDRadio, form.SEWBEDRadio, form.EWBEStrongRadio})
        EXPECT_FALSE(radio->isChecked()) << radio->objectName().toStdString();
    EXPECT_EQ(Text(form.MultiplierText), "Unavailable.");
    EXPECT_FALSE(form.WAEdit->isEnabled());
    EXPECT_FALSE(form.WC0Edit->isEnabled());
    EXPECT_FALSE(form.SettingsModified) << "showing an unknown state is no edit";

    form.MarkModified();
    ClearSimulatorLog();
    form.ApplyButton->click();
    EXPECT_EQ(MachineWrites(SimLog()), std::vector<std::string>{"SetL1Cache 1"});
    EXPECT_EQ(form.L2CacheEnableCheck->checkState(), Qt::PartiallyChecked) << "read again";

    form.L2CacheEnableCheck->click(); // as a mouse click or Space does
    EXPECT_EQ(form.L2CacheEnableCheck->checkState(), Qt::Checked);
    EXPECT_FALSE(form.L2CacheEnableCheck->toolTip().contains("unknown"));
    EXPECT_TRUE(form.ApplyButton->isEnabled());
    ClearSimulatorLog();
    form.ApplyButton->click();
    EXPECT_EQ(MachineWrites(SimLog()), (std::vector<std::string>{"SetL1Cache 1", "SetL2Cache 1"}));
    EXPECT_EQ(SimGet("C0000085"), "0041FF81000BFFFE");
}

TEST_F(MainWindow, RefreshReadsTheProcessorAgainAndDropsEdits) {
    auto form = Open("k6-3+");
    form->CurrentSettings.DataPrefetchEnabled = !form->CurrentSettings.DataPrefetchEnabled;
    form->MarkModified();
    // Another program turns write ordering to its fastest mode behind the window's back.
    const ProcessResult set = RunProgram("qrxsim", {"set", "C0000080", "000000000000000E"});
    ASSERT_EQ(set.exitStatus, 0) << set.err;
    form->Refresh->click();
    EXPECT_TRUE(form->GEWBEDRadio->isChecked());
    EXPECT_EQ(form->CurrentSettings.WriteOrderingType, WriteOrderingTp::GEWBED);
    EXPECT_FALSE(form->SettingsModified);
    EXPECT_FALSE(form->ApplyButton->isEnabled());
}

// An unused range reads back as 4 GB at 0, type Normal, however the window came to show it.
TEST_F(MainWindow, AnUnusedRangeShowsAsTheProcessorHoldsItAfterApplyAndRefresh) {
    struct Case {
        const char* name;
        const char* register0; // UWCCR when the window opens
        std::function<void(TForm1&)> act;
    };
    const auto setRanges = [](const char* value) {
        ASSERT_EQ(RunProgram("qrxsim", {"set", "C0000085", value}).exitStatus, 0);
    };
    const Case cases[] = {
        {"ApplyOfARangeThatEncodesAsUnused", "0000000000000000",
         [](TForm1& f) {
             f.EnableWC0Check->click();
             f.ApplyButton->click();
         }},
        {"RefreshAfterAnotherProgramTurnedItOff", "00000000000BFFFE",
         [&](TForm1& f) {
             setRanges("0000000000000000");
             f.Refresh->click();
         }},
        {"ApplyOfARangeTheUserTurnedOff", "00000000000BFFFE",
         [](TForm1& f) {
             f.EnableWC0Check->click();
             f.ApplyButton->click();
         }},
    };
    for (const Case& c : cases) {
        ResetSimulator("k6-3+");
        setRanges(c.register0);
        ASSERT_TRUE(LoadDriver());
        TForm1 form;
        c.act(form);
        SettingsTp processor;
        IdentifyCPU(processor);
        EXPECT_EQ(form.CurrentSettings.WC.MTRR0, processor.WC.MTRR0) << c.name;
        EXPECT_FALSE(form.EnableWC0Check->isChecked()) << c.name;
        EXPECT_EQ(form.WC0Edit->text(), "00000000") << c.name;
        EXPECT_EQ(form.WC0RangeEnd->text(), "FFFFFFFF") << c.name;
        EXPECT_EQ(form.WC0SizeCombo->currentText(), "4 GB") << c.name;
        EXPECT_EQ(form.WC0TypeCombo->currentText(), "Normal") << c.name;
        EXPECT_FALSE(form.ApplyButton->isEnabled()) << c.name;
    }
}

TEST_F(MainWindow, ApplyWithTheAutoApplyBoxTurnedOnRegistersAndSavesTheStartupProfile) {
    auto form = Open("k6-3+");
    form->AutoApplyAtBootCheck->setChecked(true);
    EXPECT_TRUE(form->ApplyButton->isEnabled()) << "the box marks the settings edited";
    EXPECT_FALSE(AutoApplyRegistered()) << "nothing changes before Apply";
    form->CurrentSettings.L1CacheEnabled = false;
    form->ApplyButton->click();
    EXPECT_TRUE(AutoApplyRegistered());
    ASSERT_TRUE(ProfileExists("Startup_Settings"));
    SettingsTp stored = form->CurrentSettings;
    stored.L1CacheEnabled = true;
    ASSERT_TRUE(LoadProfile("Startup_Settings", stored));
    EXPECT_FALSE(stored.L1CacheEnabled) << "the profile holds the settings as edited";
    EXPECT_EQ(dialogs.boxes,
              (std::vector<RecordedBox>{
                  {"Information",
                   InfoHeading + "Current settings have been saved in profile Startup_Settings.\r\n"
                                 "This profile will be applied at windows startup.\r\n"
                                 "If you want to change the startup settings just change the "
                                 "Startup_Settings profile.",
                   BoxIcon::Information}}));
    EXPECT_TRUE(form->AutoApplyAtBootCheck->isChecked());
    EXPECT_FALSE(form->ApplyButton->isEnabled());
    // The new profile shows in the list.
    EXPECT_EQ(form->LoadProfileCombo->findText("Startup_Settings"), 0);
}

TEST_F(MainWindow, ApplyWithTheBoxTurnedOffRemovesEntryAndProfileAndAnUnchangedBoxTouchesNeither) {
    auto form = Open("k6-3+");
    form->AutoApplyAtBootCheck->setChecked(true);
    form->ApplyButton->click();
    ASSERT_TRUE(AutoApplyRegistered());

    form->AutoApplyAtBootCheck->setChecked(false);
    form->ApplyButton->click();
    EXPECT_FALSE(AutoApplyRegistered());
    EXPECT_FALSE(ProfileExists("Startup_Settings"));
    EXPECT_EQ(dialogs.boxes.size(), 1u) << "only the information of the registration";

    // With the box and the registry in agreement, Apply leaves both alone.
    ASSERT_TRUE(SaveProfile("Startup_Settings", form->CurrentSettings));
    form->MarkModified();
    form->ApplyButton->click();
    EXPECT_TRUE(ProfileExists("Startup_Settings"));
    EXPECT_FALSE(AutoApplyRegistered());
}

TEST_F(MainWindow, ApplyWithBoxAndEntryInAgreementKeepsTheOldCommand) {
    auto form = Open("k6-3+");
    form->AutoApplyAtBootCheck->setChecked(true);
    form->ApplyButton->click();
    const std::string entry = ReadFile(TestDir() + "/config/autostart/Quorix.desktop");
    ASSERT_FALSE(entry.empty());
    form->CurrentSettings.L1CacheEnabled = false;
    form->MarkModified();
    form->ApplyButton->click();
    EXPECT_EQ(ReadFile(TestDir() + "/config/autostart/Quorix.desktop"), entry);
}

// ---------------------------------------------------------------------------------------------
// Profiles

TEST_F(MainWindow, ProfileListIsSortedAndKeepsOrLosesItsSelection) {
    ResetSimulator("k6-3+");
    ASSERT_TRUE(LoadDriver());
    SettingsTp s;
    IdentifyCPU(s);
    for (const char* name : {"beta", "Alpha", "gamma"})
        ASSERT_TRUE(SaveProfile(name, s));
    TForm1 form;
    QStringList items;
    for (int i = 0; i < form.LoadProfileCombo->count(); ++i)
        items << form.LoadProfileCombo->itemText(i);
    EXPECT_EQ(items, (QStringList{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(form.LoadProfileCombo->currentIndex(), -1);
    EXPECT_FALSE(form.DeleteProfileButton->isEnabled());

    form.LoadProfileCombo->setCurrentIndex(1);
    form.RefreshProfileList();
    EXPECT_EQ(form.LoadProfileCombo->currentIndex(), 1) << "same count keeps the position";
    EXPECT_TRUE(form.DeleteProfileButton->isEnabled());

    dialogs.answers = {true};
    form.DeleteProfileButton->click();
    EXPECT_EQ(dialogs.confirmations,
              std::vector<std::string>{"Delete profile: beta. Are you sure?"});
    EXPECT_EQ(dialogs.confirmCaptions, std::vector<std::string>{"Confirm"});
    EXPECT_FALSE(ProfileExists("beta"));
    EXPECT_EQ(form.LoadProfileCombo->count(), 2);
    EXPECT_EQ(form.LoadProfileCombo->currentIndex(), -1) << "the count changed";
    EXPECT_FALSE(form.DeleteProfileButton->isEnabled());
}

TEST(ProfileNames, BytesThatAreNotUtf8ReadAsWindows1252) {
    const struct {
        std::string bytes;
        QString shown;
    } cases[] = {
        {"Fast", "Fast"},
        {"B\xC3\xBCro \xE2\x82\xAC", QString::fromUtf8("B\xC3\xBCro \xE2\x82\xAC")},
        {"B\xFCro \x80", QString::fromUtf8("B\xC3\xBCro \xE2\x82\xAC")},
        // Each byte of a sequence that is not well-formed UTF-8 on its own: an overlong form,
        // a surrogate, a cut sequence, a byte Windows-1252 leaves undefined.
        {"\xC0\xAF|\xED\xA0\x80|\xE2\x82|\x81",
         QString::fromUtf8("\xC3\x80\xC2\xAF|\xC3\xAD\xC2\xA0\xE2\x82\xAC|\xC3\xA2\xE2\x80\x9A|"
                           "\xC2\x81")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadableText(c.bytes), c.shown) << c.bytes;
}

TEST_F(MainWindow, AWindows1252ProfileNameShowsReadablyLoadsAndDeletesAsStored) {
    ResetSimulator("k6-3+");
    // "B\xFCro" as a REGEDIT4 file from Windows holds it, and "B\xC3\xBCro" as Linux writes it:
    // two profiles that read the same.
    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\B\xFCro]\n"
                      "\"L1CacheEnabled\"=dword:00000000\n\n"
                      "[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\B\xC3\xBCro]\n"
                      "\"L2CacheEnabled\"=dword:00000000\n");
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    ASSERT_EQ(form.LoadProfileCombo->count(), 2);
    const int windows = form.LoadProfileCombo->findData(QByteArray("B\xFCro"));
    ASSERT_GE(windows, 0);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(form.LoadProfileCombo->itemText(i), QString::fromUtf8("B\xC3\xBCro"));

    form.LoadProfileCombo->setCurrentIndex(windows);
    emit form.LoadProfileCombo->activated(windows);
    EXPECT_EQ(dialogs.boxes, std::vector<RecordedBox>());
    EXPECT_FALSE(form.CurrentSettings.L1CacheEnabled) << "the Windows-1252 profile was loaded";
    EXPECT_TRUE(form.CurrentSettings.L2CacheEnabled) << "not the UTF-8 one";

    form.LoadProfileCombo->setCurrentIndex(form.LoadProfileCombo->findData(QByteArray("B\xFCro")));
    dialogs.answers = {true};
    form.DeleteProfileButton->click();
    EXPECT_EQ(dialogs.confirmations,
              std::vector<std::string>{"Delete profile: B\xFCro. Are you sure?"});
    EXPECT_FALSE(ProfileExists("B\xFCro"));
    EXPECT_TRUE(ProfileExists("B\xC3\xBCro"));
    EXPECT_EQ(form.LoadProfileCombo->count(), 1);
}

TEST_F(MainWindow, CancelledDeletionChangesNothing) {
    ResetSimulator("k6-3+");
    ASSERT_TRUE(LoadDriver());
    SettingsTp s;
    IdentifyCPU(s);
    ASSERT_TRUE(SaveProfile("Keep", s));
    TForm1 form;
    form.LoadProfileCombo->setCurrentIndex(0);
    form.RefreshProfileList();
    dialogs.answers = {false};
    form.DeleteProfileButton->click();
    EXPECT_EQ(dialogs.confirmations.size(), 1u);
    EXPECT_TRUE(ProfileExists("Keep"));
    EXPECT_EQ(form.LoadProfileCombo->currentIndex(), 0);
}

TEST_F(MainWindow, DeletingStartupSettingsAlsoRemovesTheEntryAndUnchecksTheBox) {
    auto form = Open("k6-3+");
    form->AutoApplyAtBootCheck->setChecked(true);
    form->ApplyButton->click();
    ASSERT_TRUE(AutoApplyRegistered());
    form->LoadProfileCombo->setCurrentIndex(form->LoadProfileCombo->findText("Startup_Settings"));
    form->RefreshProfileList();

    dialogs.answers = {false};
    form->DeleteProfileButton->click();
    EXPECT_TRUE(AutoApplyRegistered()) << "Cancel changes nothing";
    EXPECT_TRUE(ProfileExists("Startup_Settings"));

    dialogs.answers = {true};
    form->DeleteProfileButton->click();
    EXPECT_EQ(dialogs.confirmations,
              (std::vector<std::string>(
                  2, "This will disable the 'auto apply at windows startup' feature. Are you "
                     "sure?")));
    EXPECT_FALSE(AutoApplyRegistered());
    EXPECT_FALSE(ProfileExists("Startup_Settings"));
    EXPECT_FALSE(form->AutoApplyAtBootCheck->isChecked());
}

TEST_F(MainWindow, LoadingAProfileShowsItAndEnablesApplyWithoutTouchingTheProcessor) {
    ResetSimulator("k6-3+");
    ASSERT_TRUE(LoadDriver());
    SettingsTp s;
    IdentifyCPU(s);
    s.L2CacheEnabled = false;
    s.CPU.Multiplier = 7;
    ASSERT_TRUE(SaveProfile("Slow", s));
    TForm1 form;
    ClearSimulatorLog();
    form.LoadProfileCombo->setCurrentIndex(0);
    form.LoadProfileComboChange(form.LoadProfileCombo);
    EXPECT_FALSE(form.CurrentSettings.L2CacheEnabled);
    EXPECT_EQ(Text(form.MultiplierText), "6.0 x");
    EXPECT_TRUE(form.ApplyButton->isEnabled());
    EXPECT_EQ(form.LoadProfileCombo->currentIndex(), 0) << "the list kept its selection";
    for (const std::string& line : SimulatorLog())
        EXPECT_EQ(line.rfind("WriteMsr", 0), std::string::npos) << line;
    EXPECT_EQ(dialogs.boxes, std::vector<RecordedBox>());
}

TEST_F(MainWindow, AFailedLoadShowsItsMessageKeepsTheRecordAndEnablesApply) {
    ResetSimulator("k6-3+");
    // Range 0 is enabled but its size is missing: the profile does not load.
    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Broken]\n"
                      "\"MTRR0Enabled\"=dword:00000001\n\"MTRR0Start\"=dword:00000000\n"
                      "\"MTRR0MemoryType\"=\"Uncached\"\n\"L1CacheEnabled\"=dword:00000000\n");
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    const SettingsTp before = form.CurrentSettings;
    form.LoadProfileCombo->setCurrentIndex(0);
    form.LoadProfileComboChange(form.LoadProfileCombo);
    EXPECT_EQ(dialogs.ErrorMessages(),
              std::vector<std::string>{"An error occurred while loading profile from registry."});
    EXPECT_EQ(form.CurrentSettings, before);
    EXPECT_TRUE(form.ApplyButton->isEnabled());
}

TEST_F(MainWindow, ARegistryErrorInAHandlerReachesTheGeneralErrorDisplay) {
    ResetSimulator("k6-3+");
    WriteRegistryFile("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\Typed]\n"
                      "\"WAEnabled\"=\"yes\"\n");
    ASSERT_TRUE(LoadDriver());
    TForm1 form;
    form.LoadProfileCombo->setCurrentIndex(0);
    // As the user's choice does: through the signal, so the handler runs guarded.
    emit form.LoadProfileCombo->activated(0);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, "Quorix");
    EXPECT_EQ(dialogs.boxes[0].icon, BoxIcon::Error);
    EXPECT_NE(dialogs.boxes[0].text.find("WAEnabled"), std::string::npos) << dialogs.boxes[0];
    EXPECT_EQ(dialogs.boxes[0].text, "Invalid data type for 'WAEnabled'");
}

TEST_F(MainWindow, AProfileThatFailedToLoadCanStillBeDeleted) {
    struct Case {
        const char* why;
        const char* values;
    };
    const Case cases[] = {
        {"its range has no size",
         "\"MTRR0Enabled\"=dword:00000001\n\"MTRR0Start\"=dword:00000000\n"},
        {"the registry refuses a value's type", "\"WAEnabled\"=\"yes\"\n"},
    };
    for (const Case& c : cases) {
        ResetSimulator("k6-3+");
        WriteRegistryFile(std::string("[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\"
                                      "Bad]\n") +
                          c.values);
        ASSERT_TRUE(LoadDriver());
        TForm1 form;
        form.LoadProfileCombo->setCurrentIndex(0);
        emit form.LoadProfileCombo->activated(0);
        EXPECT_EQ(dialogs.boxes.size(), 1u) << c.why;
        ASSERT_TRUE(form.DeleteProfileButton->isEnabled()) << c.why;
        dialogs.answers = {true};
        form.DeleteProfileButton->click();
        EXPECT_FALSE(ProfileExists("Bad")) << c.why;
        dialogs.Clear();
    }
}

// With nothing read there is nothing to copy or register, and the window says so instead of
// claiming it did.
TEST_F(MainWindow, WhenNothingCouldBeReadTheWindowSaysWhatItDid) {
    for (const std::vector<std::string>& row : ReadTable("nothing-read.txt")) {
        const std::string& name = row.at(0);
        ResetSimulator(row.at(1));
        Sim(SplitWords("fail " + row.at(2)));
        ASSERT_TRUE(LoadDriver());
        TForm1 form;
        dialogs.Clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("old contents"));
        std::string said;
        if (name == "clipboard-note") {
            form.CLineButton->click();
            said = QToolTip::text().toStdString();
            EXPECT_EQ(QGuiApplication::clipboard()->text(), "old contents");
        } else if (name == "startup-entry-box") {
            form.AutoApplyAtBootCheck->setChecked(true);
            form.ApplyButton->click();
            said = dialogs.ErrorMessages().at(0);
            EXPECT_FALSE(AutoApplyRegistered() || form.AutoApplyAtBootCheck->isChecked());
        } else {
            if (name == "l1-hint-after-refresh")
                form.Refresh->click();
            said = form.L1CacheEnableCheck->toolTip().section('\n', -1).toStdString();
        }
        EXPECT_EQ(said, row.at(3)) << name;
        EXPECT_EQ(dialogs.boxes.size(), name == "startup-entry-box" ? 1u : 0u) << name;
        QToolTip::hideText();
    }
}

TEST_F(MainWindow, CLineButtonPutsExactlyTheParameterTextOnTheClipboard) {
    for (const char* preset : {"k6-3+", "k6", "intel"}) {
        auto form = Open(preset);
        QGuiApplication::clipboard()->setText(QStringLiteral("old contents"));
        form->CurrentSettings.WA.WAEnabled = true;
        form->CurrentSettings.WA.WALimit = 128;
        form->CLineButton->click();
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
                  BuildCommandLine(form->CurrentSettings))
            << preset;
        // A note at the button, no box, says it was copied.
        EXPECT_TRUE(QToolTip::isVisible()) << preset;
        EXPECT_TRUE(QToolTip::text().contains("clipboard")) << preset;
        EXPECT_EQ(dialogs.boxes, std::vector<RecordedBox>()) << preset;
        QToolTip::hideText();
    }
}

TEST_F(MainWindow, DebugModeShowsTheDebugButton) {
    DebugMode = true;
    auto form = Open("k6-3+");
    DebugMode = false;
    EXPECT_TRUE(form->DebugButton->isVisibleTo(form.get()));
}
} // namespace

// With a memory map the window shows the machine, its suggestion fills the fields, and Apply
// names every refused setting in one box and writes nothing; without one nothing of it shows.
TEST_F(MainWindow, ShowsTheMachineSuggestsAndRefusesBeforeWriting) {
    auto form = Open("k6-3+");
    EXPECT_FALSE(form->SuggestButton->isVisibleTo(form.get()));
    Sim({"memory", "64", "window", "E0000000", "4MB"});
    form->RefreshClick();
    EXPECT_EQ(Text(form->MachineString), "Memory: 64 MB; display window E0000000 4 MB");
    form->SuggestButton->click();
    EXPECT_EQ(form->WAEdit->text(), "64");
    EXPECT_EQ(form->WC0Edit->text(), "E0000000");
    EXPECT_EQ(form->WC0SizeCombo->currentText(), "4 MB");
    EXPECT_EQ(form->WC0TypeCombo->currentText(), "Write combined");
    form->CurrentSettings.WA.WALimit = 128;
    form->CurrentSettings.WC.MTRR1 = {true, 0, 0x100000, SizeTp::_1MB, MemoryTypeTp::WriteCombined};
    ClearSimulatorLog();
    form->ApplyButton->click();
    EXPECT_EQ(dialogs.ErrorMessages(),
              std::vector<std::string>{
                  "Nothing was applied. The driver refuses these settings on this machine:\r\n"
                  "WA limit 128 MB is more than the installed memory (64 MB).\r\n"
                  "MTRR1: write combining from 00000000 to 000FFFFF (1 MB) would cover memory "
                  "(64 MB installed)."});
    EXPECT_EQ(MachineWrites(SimLog()), std::vector<std::string>{});
}
