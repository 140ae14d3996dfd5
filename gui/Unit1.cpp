// Unit1: the main window's display methods and the handlers of its buttons, the profile list and
// the auto-apply box. Its layout is in Unit1Layout.cpp, the feature controls' handlers in
// Unit1Controls.cpp.
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <vector>

#include "cmdline/BuildCommandLine.h"
#include "cmdline/commandline.h"
#include "common/General.h"
#include "common/Messages.h"
#include "driver/wintweak.h"
#include "gui/Application.h"
#include "gui/ContextHelp.h"
#include "gui/Dialogs.h"
#include "gui/GuiFont.h"
#include "gui/ProfileNames.h"
#include "gui/QtText.h"
#include "gui/SpinButton.h"
#include "gui/TrackBar.h"
#include "gui/Unit2.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"

namespace {
// The multiplier ratios in the order of their index.
const char* const MultiplierCaptions[MultiplierCount] = {"2.0 x", "3.0 x", "3.5 x", "4.0 x",
                                                         "4.5 x", "5.0 x", "5.5 x", "6.0 x"};

// "400.0", "1,000.0": one decimal and thousands separators.
std::string FormatMegahertz(double megahertz) {
    const long long tenths = std::llround(megahertz * 10.0);
    std::string whole = std::to_string(tenths / 10);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3)
        whole.insert(static_cast<size_t>(i), ",");
    return whole + "." + std::to_string(tenths % 10);
}

// A range's last byte in 32-bit arithmetic, so a 4 GB range at 0 ends at FFFFFFFF.
std::string RangeEnd(const MTRRTp& range) {
    return DWordToHex(range.Start + range.SizeBytes - 1u);
}

// The vendor string up to its first NUL.
std::string VendorText(const std::array<char, 12>& vendor) {
    const auto end = std::find(vendor.begin(), vendor.end(), '\0');
    return std::string(vendor.begin(), end);
}

// Said in a control's hint while the record holds no known state of its feature: either the
// processor did not answer the read, or nothing read it at all (identification stops before
// any read when an AMD processor has no leaf 1 to name its model).
const char* const UnreadNote = "Its current state is unknown: the processor did not answer "
                               "when it was read.";
const char* const NeverReadNote = "Its current state is unknown: the processor could not be "
                                  "identified, so nothing read it.";

// The hint a control was made with, and below it the note while its feature is unread.
void ShowUnreadHint(QWidget* control, bool unread, const char* note = UnreadNote) {
    const char* const madeWith = "qrxHint";
    QVariant hint = control->property(madeWith);
    if (!hint.isValid()) {
        hint = control->toolTip();
        control->setProperty(madeWith, hint);
    }
    control->setToolTip(unread ? hint.toString() + "\n" + Q(note) : hint.toString());
}

// Sets a check box from the record; its change handler runs when the state changes. A feature
// nobody read shows neither checked nor unchecked. That is no state of the feature, so showing
// it raises no handler; the user's click on such a box checks it and raises the handler
// (ConnectEditingHandlers).
void ShowCheck(QCheckBox* box, bool checked, bool unread, const char* note = UnreadNote) {
    ShowUnreadHint(box, unread, note);
    if (unread) {
        const QSignalBlocker quiet(box);
        box->setCheckState(Qt::PartiallyChecked);
        return;
    }
    box->setTristate(false);
    box->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

bool ShowsChecked(const QCheckBox* box) {
    return box->checkState() == Qt::Checked;
}
} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowContextHelpButtonHint) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quorix"));
    setFont(FormFont());
    CreateControls();
    // The layout is fixed; a platform font wider than the original one gets smaller instead.
    FitFontToControls(this);
    SetTabOrder();
    InstallContextHelp(this);
    ConnectEditingHandlers();
    ConnectHandlers();
    CenterOnScreen(this);
    RunHandler([this] { FormCreate(this); });
}

TForm1::~TForm1() {
    FormDestroy(this);
    DisconnectEditingHandlers();
}

void TForm1::ConnectHandlers() {
    connect(ApplyButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { ApplyButtonClick(ApplyButton); }); });
    connect(Refresh, &QPushButton::clicked, this,
            [this] { RunHandler([this] { RefreshClick(Refresh); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(Button1); }); });
    connect(LoadProfileCombo, &QComboBox::activated, this,
            [this] { RunHandler([this] { LoadProfileComboChange(LoadProfileCombo); }); });
    connect(DeleteProfileButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { DeleteProfileButtonClick(DeleteProfileButton); }); });
    // A check box raises its handler whenever its state changes, from the user or from code.
    connect(AutoApplyAtBootCheck, &QCheckBox::toggled, this,
            [this] { RunHandler([this] { AutoApplyAtBootCheckClick(AutoApplyAtBootCheck); }); });
    connect(CLineButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { CLineButtonClick(CLineButton); }); });
    connect(DebugButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { DebugButtonClick(DebugButton); }); });
    connect(SuggestButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { SuggestButtonClick(SuggestButton); }); });
}

// --- Display ---

void TForm1::ShowSettings() {
    ShowWriteAllocation();
    ShowCPUInfo();
    ShowMachine();
    ShowWriteCombining();
    ShowMultiplier();
    ShowL1Cache();
    ShowL2Cache();
    ShowWriteOrdering();
    ShowDataPrefetch();
    RefreshProfileList();
    ShowAutoApply();
    UpdateApplyButton();
}

void TForm1::ShowCPUInfo() {
    const CPUTp& cpu = CurrentSettings.CPU;
    if (cpu.HasTSC) {
        uint32_t elapsed = 0, cycles = 0;
        MeasureClock(50, elapsed, cycles);
        if (elapsed == 0)
            SpeedString->setText(QStringLiteral("-"));
        else
            SpeedString->setText(Q(FormatMegahertz(static_cast<double>(cycles) /
                                                   static_cast<double>(elapsed) * 0.001)));
    }
    UICPUString->setText(Q(cpu.Name));
    UIVendorIDString->setText(Q(VendorText(cpu.VendorID)));
    if (cpu.IDValid) {
        CPUFamilyString->setText(Q(StripLeadingZeros(WordToHex(cpu.Family))));
        CPUModelString->setText(Q(StripLeadingZeros(WordToHex(cpu.Model))));
        CPUSteppingString->setText(Q(StripLeadingZeros(WordToHex(cpu.Stepping))));
    } else {
        CPUFamilyString->setText(QStringLiteral("-"));
        CPUModelString->setText(QStringLiteral("-"));
        CPUSteppingString->setText(QStringLiteral("-"));
    }
}

void TForm1::ShowMachine() {
    MachineKnown = ReadMachine(Machine);
    std::string text;
    if (MachineKnown) {
        text = "Memory: " + IntToText(static_cast<int32_t>(Machine.RamTopMB)) + " MB";
        if (!(Machine.Flags & MachineHoleIsRam))
            text += " (15-16 MB not memory)";
        const uint32_t count = Machine.WindowCount < 4 ? Machine.WindowCount : 4;
        text += count ? "; display window " : "; no display window";
        for (uint32_t i = 0; i < count; ++i) {
            // A window below a megabyte (or not a whole number of them) is shown in kB.
            const uint32_t size = Machine.Windows[i].Size;
            const bool wholeMB = size >= (1u << 20) && size % (1u << 20) == 0;
            text += (i ? ", " : "") + DWordToHex(Machine.Windows[i].Base) + " " +
                    IntToText(static_cast<int32_t>(wholeMB ? size >> 20 : size >> 10)) +
                    (wholeMB ? " MB" : " kB");
        }
    }
    MachineString->setText(Q(text));
    MachineString->setToolTip(Q(text));
    MachineString->setVisible(MachineKnown);
    SuggestButton->setVisible(MachineKnown);
}

void TForm1::SuggestButtonClick(QObject*) {
    if (!ReadMachine(Machine))
        return;
    SuggestSettings(Machine, CurrentSettings);
    ShowSettings();
    MarkModified();
}

void TForm1::ShowWriteAllocation() {
    const WATp& wa = CurrentSettings.WA;
    ShowCheck(EnableWACheck, wa.WAEnabled, wa.WAUnread);
    // The check box's handler may have changed the record; show what it holds now. The limit
    // and the 15-16 MB box take edits only once write allocation is known to be on.
    WAEdit->setText(Q(IntToText(wa.WALimit)));
    WAEdit->setEnabled(ShowsChecked(EnableWACheck));
    ShowCheck(WA1516MBCheck, wa.WA1516MB, wa.WAUnread);
    WA1516MBCheck->setEnabled(ShowsChecked(EnableWACheck));
    EnableWACheck->setEnabled(wa.WASupported);
}

void TForm1::ShowWriteCombining() {
    const bool supported = CurrentSettings.WC.WCSupported;
    EnableWC0Check->setEnabled(supported);
    EnableWC1Check->setEnabled(supported);
    ShowCheck(EnableWC0Check, CurrentSettings.WC.MTRR0.Enabled, CurrentSettings.WC.MTRR0.Unread);
    ShowCheck(EnableWC1Check, CurrentSettings.WC.MTRR1.Enabled, CurrentSettings.WC.MTRR1.Unread);
    const MTRRTp& r0 = CurrentSettings.WC.MTRR0;
    const MTRRTp& r1 = CurrentSettings.WC.MTRR1;
    WC0RangeEnd->setText(Q(RangeEnd(r0)));
    WC1RangeEnd->setText(Q(RangeEnd(r1)));
    struct Row {
        QCheckBox* check;
        QLineEdit* edit;
        QLineEdit* end;
        QComboBox* size;
        QComboBox* type;
        const MTRRTp& range;
    };
    const Row rows[2] = {{EnableWC0Check, WC0Edit, WC0RangeEnd, WC0SizeCombo, WC0TypeCombo, r0},
                         {EnableWC1Check, WC1Edit, WC1RangeEnd, WC1SizeCombo, WC1TypeCombo, r1}};
    for (const Row& row : rows) {
        const bool on = ShowsChecked(row.check);
        row.edit->setEnabled(on);
        row.size->setEnabled(on);
        row.end->setEnabled(on);
        row.type->setEnabled(on);
    }
    for (const Row& row : rows) {
        row.edit->setText(Q(DWordToHex(row.range.Start)));
        const int size = static_cast<int>(row.range.Size);
        row.size->setCurrentIndex(size < SizeCount ? size : -1);
        const int type = static_cast<int>(row.range.MemoryType);
        row.type->setCurrentIndex(type < 3 ? type : -1);
    }
}

void TForm1::ShowMultiplier() {
    const CPUTp& cpu = CurrentSettings.CPU;
    // A ratio that could not be read is as unavailable as one that cannot be read at all; the
    // slider then shows no position, so none is taken for the processor's, until the user
    // picks one.
    ShowUnreadHint(MultiplierTrackBar, cpu.MultiplierUnread);
    if (cpu.MultiplierKnown && !cpu.MultiplierUnread) {
        if (cpu.Multiplier < MultiplierCount) {
            MultiplierText->setText(Q(MultiplierCaptions[cpu.Multiplier]));
            MultiplierTrackBar->setValue(cpu.Multiplier);
            MultiplierTrackBar->SetPositionShown(true);
        } else {
            MultiplierText->setText(QStringLiteral("error"));
        }
    } else {
        MultiplierText->setText(QStringLiteral("Unavailable."));
        MultiplierTrackBar->SetPositionShown(false);
    }
    if (!CurrentSettings.CPU.MultiplierSupported)
        MultiplierTrackBar->setEnabled(false);
}

void TForm1::ShowL1Cache() {
    ShowCheck(L1CacheEnableCheck, CurrentSettings.L1CacheEnabled, CurrentSettings.L1Unread,
              NothingReadYet ? NeverReadNote : UnreadNote);
}

void TForm1::ShowL2Cache() {
    L2CacheEnableCheck->setEnabled(CurrentSettings.L2Supported);
    ShowCheck(L2CacheEnableCheck, CurrentSettings.L2Supported && CurrentSettings.L2CacheEnabled,
              CurrentSettings.L2Unread);
}

void TForm1::ShowWriteOrdering() {
    const bool supported = CurrentSettings.WriteOrderingSupported;
    for (QWidget* w :
         {static_cast<QWidget*>(GEWBEDRadio), static_cast<QWidget*>(SEWBEDRadio),
          static_cast<QWidget*>(EWBEStrongRadio), static_cast<QWidget*>(WriteOrderingLabel1),
          static_cast<QWidget*>(WriteOrderingLabel2), static_cast<QWidget*>(WriteOrderingLabel3)})
        w->setEnabled(supported);
    const bool unread = CurrentSettings.WriteOrderingUnread;
    for (QRadioButton* radio : {GEWBEDRadio, SEWBEDRadio, EWBEStrongRadio}) {
        ShowUnreadHint(radio, unread);
        // None is checked while the mode is unknown; unchecking raises no handler.
        if (unread) {
            radio->setAutoExclusive(false);
            radio->setChecked(false);
            radio->setAutoExclusive(true);
        }
    }
    if (unread)
        return;
    switch (CurrentSettings.WriteOrderingType) {
    case WriteOrderingTp::GEWBED:
        GEWBEDRadio->setChecked(true);
        break;
    case WriteOrderingTp::SEWBED:
        SEWBEDRadio->setChecked(true);
        break;
    case WriteOrderingTp::EWBEStrong:
        EWBEStrongRadio->setChecked(true);
        break;
    }
}

void TForm1::ShowDataPrefetch() {
    DataPrefetchCheck->setEnabled(CurrentSettings.DataPrefetchSupported);
    ShowCheck(DataPrefetchCheck, CurrentSettings.DataPrefetchEnabled,
              CurrentSettings.DataPrefetchUnread);
}

void TForm1::RefreshProfileList() {
    const int index = LoadProfileCombo->currentIndex();
    const int count = LoadProfileCombo->count();
    std::vector<std::string> names;
    // The names of an unusable registry are unknown; the box stays greyed until Refresh. Whoever
    // shows the list goes on showing the rest of the window.
    if (!RegistryUnusable) {
        try {
            GetProfileNames(names);
        } catch (const RegistryError& error) {
            RegistryFailed(error);
        }
    }
    ProfilesBox->setEnabled(!RegistryUnusable);
    ShowProfileNames(*LoadProfileCombo, names);
    LoadProfileCombo->setCurrentIndex(LoadProfileCombo->count() == count ? index : -1);
    DeleteProfileButton->setEnabled(LoadProfileCombo->currentIndex() >= 0);
}

void TForm1::ShowAutoApply() {
    AutoApplyAtBootCheck->setChecked(AutoApplyRegistered());
    // Registering saves the profile "Startup_Settings", which an unreadable file cannot take.
    AutoApplyAtBootCheck->setEnabled(!RegistryUnusable);
}

void TForm1::UpdateApplyButton() {
    ApplyButton->setEnabled(SettingsModified);
}

void TForm1::MarkModified() {
    SettingsModified = true;
    UpdateApplyButton();
}

bool TForm1::ProbeRegistry(bool startup) {
    RegistryUnusable = false;
    try {
        // A byte-by-byte comparison of the two texts, as the stored marker was always compared.
        const bool newer =
            !StoredVersionMissing() && ReadStoredVersion() > std::string(StoredVersionText);
        if (newer && startup) {
            ShowError("Found registry information of newer version of QRX. Exiting.");
            Terminated = true;
            return false;
        }
        // Writing the marker takes the file's lock, so a file that can be read but not written
        // is found here and not at the user's first save; a newer program's marker stays.
        if (!newer)
            WriteStoredVersion();
        std::vector<std::string> names;
        GetProfileNames(names);
    } catch (const RegistryError& error) {
        RegistryFailed(error);
    }
    return !RegistryUnusable;
}

void TForm1::RegistryFailed(const std::exception& error) {
    RegistryUnusable = true;
    std::string text = error.what();
    // The value errors name only the value; the user needs the file and what is wrong with it.
    const auto* failure = dynamic_cast<const RegistryError*>(&error);
    if (failure && failure->Kind() != RegistryErrorKind::FileUnusable) {
        const std::string& cause = failure->Cause();
        if (failure->Kind() == RegistryErrorKind::SetDataFailed && !cause.empty())
            text = "The registry file " + RegistryFilePath() + " cannot be written: " + cause;
        else
            text = "The registry file " + RegistryFilePath() + " cannot be used: " + text +
                   (cause.empty() ? "" : " (" + cause + ")");
    } else if (text.find(RegistryFilePath()) == std::string::npos) {
        text = "The registry file " + RegistryFilePath() + " cannot be used. " + text;
    }
    if (text.empty() || text.back() != '.')
        text += '.';
    ShowMessageBox(ApplicationTitle(),
                   text + " The profiles stay unavailable until Refresh finds the registry usable.",
                   BoxIcon::Error);
    ProfilesBox->setEnabled(false);
    AutoApplyAtBootCheck->setEnabled(false);
}

// --- Handlers ---

void TForm1::FormCreate(QObject*) {
    if (DebugMode)
        DebugButton->setVisible(true);
    // Identification and the processor's settings do not need the registry: a registry that
    // cannot be used is reported once, and the window still shows and tunes the processor.
    ProbeRegistry(true);
    if (Terminated)
        return;
    IdentifyCPU(CurrentSettings);
    NothingReadYet = !CurrentSettings.CPU.IDValid && !CurrentSettings.CPU.VendorUnknown;
    ShowSettings();
    SettingsModified = false;
    UpdateApplyButton();
}

void TForm1::FormDestroy(QObject*) {
    UnloadDriver();
}

void TForm1::ApplyButtonClick(QObject*) {
    // What the machine would refuse is named in one box before anything, the log-on entry
    // included, is written; the edits stay for the user to correct.
    if (!CheckSettingsForMachine(CurrentSettings, true))
        return;
    const bool wanted = AutoApplyAtBootCheck->isChecked();
    // An entry without parameters would apply nothing at log-on; the box unchecks itself when
    // the window shows the registration again below.
    if (wanted && !AutoApplyRegistered() && BuildCommandLine(CurrentSettings).empty()) {
        ShowError("No setting of the processor is known, so there is nothing to apply at "
                  "windows startup. The startup entry was not written.");
    } else if (wanted != AutoApplyRegistered()) {
        SetAutoApply(wanted, CurrentSettings);
        if (wanted)
            ShowInfo("Current settings have been saved in profile Startup_Settings.\r\n"
                     "This profile will be applied at windows startup.\r\n"
                     "If you want to change the startup settings just change the "
                     "Startup_Settings profile.");
        else
            DeleteProfile(StartupProfileName);
    }
    SetAllSettings(CurrentSettings);
    GetAllSettings(CurrentSettings);
    NothingReadYet = false;
    ShowSettings();
    SettingsModified = false;
    UpdateApplyButton();
}

void TForm1::RefreshClick(QObject*) {
    GetAllSettings(CurrentSettings);
    NothingReadYet = false;
    // A registry repaired meanwhile gives the profile controls back.
    ProbeRegistry(false);
    ShowSettings();
    SettingsModified = false;
    UpdateApplyButton();
}

void TForm1::Button1Click(QObject*) {
    const bool registeredBefore = AutoApplyRegistered();
    TSaveProfileDialog dialog(this);
    dialog.ProfileSettings = CurrentSettings;
    dialog.exec();
    RefreshProfileList();
    // Saving "Startup_Settings" registers the start-up entry. A box left unchecked would make
    // the next Apply remove that entry again and delete the profile just saved, so the box
    // follows the registry; this is no edit of the settings.
    if (AutoApplyRegistered() != registeredBefore) {
        const bool modified = SettingsModified;
        ShowAutoApply();
        SettingsModified = modified;
        UpdateApplyButton();
    }
}

void TForm1::LoadProfileComboChange(QObject*) {
    const auto showChoice = [this] {
        RefreshProfileList();
        ShowSettings();
        MarkModified();
    };
    try {
        if (LoadProfileCombo->currentIndex() >= 0) {
            if (!LoadProfile(ChosenProfileName(*LoadProfileCombo), CurrentSettings))
                ShowError("An error occurred while loading profile from registry.");
        }
    } catch (const RegistryError&) {
        // A profile whose values the registry refuses stays chosen, as one that fails to load
        // does, so that it can be deleted; the error goes on to the general error display.
        showChoice();
        throw;
    }
    showChoice();
}

void TForm1::DeleteProfileButtonClick(QObject*) {
    const std::string name = ChosenProfileName(*LoadProfileCombo);
    if (name == StartupProfileName) {
        if (ConfirmBox(
                "This will disable the 'auto apply at windows startup' feature. Are you sure?")) {
            SetAutoApply(false, CurrentSettings);
            DeleteProfile(name);
            RefreshProfileList();
            ShowAutoApply();
        }
    } else if (ConfirmBox("Delete profile: " + VisibleText(name) + ". Are you sure?")) {
        DeleteProfile(name);
        RefreshProfileList();
    }
}

void TForm1::AutoApplyAtBootCheckClick(QObject*) {
    MarkModified();
}

void TForm1::CLineButtonClick(QObject*) {
    const std::string parameters = BuildCommandLine(CurrentSettings);
    // An empty text would only wipe the clipboard: it keeps what it holds, and the note says why.
    if (!parameters.empty())
        QGuiApplication::clipboard()->setText(Q(parameters));
    // Nothing else shows that the click did something: a short note at the button says so,
    // without a box to close.
    QToolTip::showText(CLineButton->mapToGlobal(QPoint(0, CLineButton->height())),
                       parameters.empty()
                           ? QStringLiteral("No setting of the processor is known, so there are "
                                            "no command line parameters; the clipboard is "
                                            "unchanged.")
                           : QStringLiteral("The settings are on the clipboard as command line "
                                            "parameters."),
                       CLineButton, QRect(), 3000);
}
