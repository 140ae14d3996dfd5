// Unit1: the main window's layout, its display methods and the handlers of its buttons, the
// profile list and the auto-apply box.
#include "gui/Unit1.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
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
#include "gui/ControlBehaviour.h"
#include "gui/Dialogs.h"
#include "gui/GuiFont.h"
#include "gui/SpinButton.h"
#include "gui/Unit2.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"

namespace {
// The range sizes in the order of their size index.
const char* const SizeItems[SizeCount] = {"128 kB", "256 kB", "512 kB", "1 MB",  "2 MB",   "4 MB",
                                          "8 MB",   "16 MB",  "32 MB",  "64 MB", "128 MB", "256 MB",
                                          "512 MB", "1 GB",   "2 GB",   "4 GB"};
// The memory types in the order of their code.
const char* const TypeItems[] = {"Normal", "Uncached", "Write combined"};
// The multiplier ratios in the order of their index.
const char* const MultiplierCaptions[MultiplierCount] = {"2.0 x", "3.0 x", "3.5 x", "4.0 x",
                                                         "4.5 x", "5.0 x", "5.5 x", "6.0 x"};

QString Q(const char* text) {
    return QString::fromUtf8(text);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// Gives a control its name, hint and help context number.
template <class W> W* Named(W* widget, const char* name, const char* hint = nullptr, int help = 0) {
    widget->setObjectName(Q(name));
    if (hint)
        widget->setToolTip(Q(hint));
    if (help)
        widget->setProperty(HelpContextProperty, help);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int x, int y, int w,
                  int h = 16) {
    auto* label = Named(new QLabel(Q(text), parent), name);
    label->setGeometry(x, y, w, h);
    return label;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* text, const char* hint,
                     int help, int x, int y, int w) {
    auto* check = Named(new QCheckBox(Q(text), parent), name, hint, help);
    check->setGeometry(x, y, w, 18);
    return check;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const char* hint,
                        int help, int x, int y, int w) {
    auto* button = Named(new QPushButton(Q(text), parent), name, hint, help);
    button->setGeometry(x, y, w, 25);
    // Enter on a focused button presses it, as Space does.
    button->setAutoDefault(true);
    return button;
}

QComboBox* MakeList(QWidget* parent, const char* name, const char* hint, int help, int x, int y,
                    int w) {
    auto* combo = Named(new QComboBox(parent), name, hint, help);
    combo->setGeometry(x, y, w, 21);
    return combo;
}

QGroupBox* MakeBox(QWidget* parent, const char* name, const char* caption, int x, int y, int w,
                   int h) {
    auto* box = Named(new QGroupBox(Q(caption), parent), name);
    box->setGeometry(x, y, w, h);
    return box;
}

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

// Sets a check box from the record; its change handler runs when the state changes.
void SetChecked(QAbstractButton* button, bool checked) {
    button->setChecked(checked);
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
}

void TForm1::CreateControls() {
    setFixedSize(476, 500);
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->setGeometry(0, 0, 476, 500);
    // Hot-tracking tabs: the tab bar, not the page control around it, receives the hover.
    PageControl1->tabBar()->setAttribute(Qt::WA_Hover);
    PageControl1->tabBar()->setStyle(HotTrackingTabStyle(PageControl1->tabBar()));
    FeaturesPage = Named(new QWidget, "FeaturesPage");
    AboutPage = Named(new QWidget, "AboutPage");
    PageControl1->addTab(FeaturesPage, QStringLiteral("Features"));
    PageControl1->addTab(AboutPage, QStringLiteral("About"));
    CreateFeaturesPage();
    CreateAboutPage();
}

void TForm1::CreateFeaturesPage() {
    QWidget* page = FeaturesPage;

    CPUIDBox = MakeBox(page, "CPUIDBox", "CPU", 0, 0, 457, 81);
    CPUIDPanel1 = Named(new QFrame(CPUIDBox), "CPUIDPanel1");
    CPUIDPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    CPUIDPanel1->setGeometry(8, 16, 209, 57);
    CPUIDPanel2 = Named(new QFrame(CPUIDBox), "CPUIDPanel2");
    CPUIDPanel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    CPUIDPanel2->setGeometry(224, 16, 225, 57);
    VendorIDLabel = MakeLabel(CPUIDPanel1, "VendorIDLabel", "VendorID:", 6, 3, 80);
    CPULabel = MakeLabel(CPUIDPanel1, "CPULabel", "CPU:", 6, 20, 80);
    SpeedLabel = MakeLabel(CPUIDPanel1, "SpeedLabel", "Speed:", 6, 37, 80);
    UIVendorIDString = MakeLabel(CPUIDPanel1, "UIVendorIDString", "xx", 90, 3, 113);
    UICPUString = MakeLabel(CPUIDPanel1, "UICPUString", "xx", 90, 20, 113);
    SpeedString = MakeLabel(CPUIDPanel1, "SpeedString", "xx", 90, 37, 113);
    FamilyLabel = MakeLabel(CPUIDPanel2, "FamilyLabel", "Family:", 6, 3, 80);
    ModelLabel = MakeLabel(CPUIDPanel2, "ModelLabel", "Model:", 6, 20, 80);
    SteppingLabel = MakeLabel(CPUIDPanel2, "SteppingLabel", "Stepping:", 6, 37, 80);
    CPUFamilyString = MakeLabel(CPUIDPanel2, "CPUFamilyString", "xx", 90, 3, 113);
    CPUModelString = MakeLabel(CPUIDPanel2, "CPUModelString", "xx", 90, 20, 113);
    CPUSteppingString = MakeLabel(CPUIDPanel2, "CPUSteppingString", "xx", 90, 37, 113);

    WABox = MakeBox(page, "WABox", "Write Allocation", 0, 84, 249, 81);
    EnableWACheck =
        MakeCheck(WABox, "EnableWACheck", "Enable", "Enable write allocation", 1000, 8, 24, 70);
    WAEdit = Named(new QLineEdit(WABox), "WAEdit", "Write allocation limit", 1001);
    WAEdit->setGeometry(88, 22, 49, 21);
    WAEdit->setMaxLength(4);
    WASpinButton = Named(new TSpinButton(WABox), "WASpinButton", nullptr, 1001);
    WASpinButton->setGeometry(137, 22, 15, 21);
    WA1516MBCheck =
        MakeCheck(WABox, "WA1516MBCheck", "Enable Write Allocation 15-to-16-MB.",
                  "Enable write allocation for the range from 15 to 16MB", 1002, 8, 52, 236);

    CacheBox = MakeBox(page, "CacheBox", "Cache", 256, 84, 201, 81);
    L1CacheEnableCheck = MakeCheck(CacheBox, "L1CacheEnableCheck", "L1 Enable (internal)",
                                   "Enable internal L1 cache", 1003, 8, 18, 185);
    L2CacheEnableCheck = MakeCheck(CacheBox, "L2CacheEnableCheck", "L2 Enable (internal)",
                                   "Enable internal L2 cache", 1004, 8, 37, 185);
    DataPrefetchCheck = MakeCheck(CacheBox, "DataPrefetchCheck", "Data Prefetch",
                                  "Enable data prefetch", 1005, 8, 56, 185);

    WCBox = MakeBox(page, "WCBox", "Write Combining", 0, 168, 457, 97);
    struct RowNames {
        const char *check, *checkText, *checkHint, *edit, *to, *end, *size, *type;
        int help;
    };
    const RowNames rows[2] = {
        {"EnableWC0Check", "Enable MTRR0:", "Enable Memory Type Range Register 0", "WC0Edit",
         "WC0ToLabel", "WC0RangeEnd", "WC0SizeCombo", "WC0TypeCombo", 1006},
        {"EnableWC1Check", "Enable MTRR1:", "Enable Memory Type Range Register 1", "WC1Edit",
         "WC1ToLabel", "WC1RangeEnd", "WC1SizeCombo", "WC1TypeCombo", 1011}};
    QCheckBox* checks[2];
    QLineEdit* edits[2];
    QLabel* tos[2];
    QLineEdit* ends[2];
    QComboBox* sizes[2];
    QComboBox* types[2];
    for (int i = 0; i < 2; ++i) {
        const RowNames& r = rows[i];
        const int y = i == 0 ? 28 : 62;
        checks[i] = MakeCheck(WCBox, r.check, r.checkText, r.checkHint, r.help, 8, y + 1, 104);
        edits[i] = Named(new QLineEdit(WCBox), r.edit, "Start of the memory range", r.help + 1);
        edits[i]->setGeometry(114, y, 69, 21);
        edits[i]->setMaxLength(8);
        tos[i] = MakeLabel(WCBox, r.to, "to", 187, y + 2, 14);
        ends[i] = Named(new QLineEdit(WCBox), r.end, "End of the memory range", r.help + 2);
        ends[i]->setGeometry(203, y, 69, 21);
        ends[i]->setReadOnly(true);
        ends[i]->setFocusPolicy(Qt::NoFocus);
        ends[i]->setBackgroundRole(QPalette::Button);
        QPalette palette = ends[i]->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        ends[i]->setPalette(palette);
        sizes[i] = MakeList(WCBox, r.size, "Size of the memory range", r.help + 3, 278, y, 73);
        for (const char* item : SizeItems)
            sizes[i]->addItem(Q(item));
        sizes[i]->setMaxVisibleItems(12);
        sizes[i]->setStyle(CountedListStyle(sizes[i]));
        types[i] = MakeList(WCBox, r.type, "Type of memory", r.help + 4, 356, y, 94);
        for (const char* item : TypeItems)
            types[i]->addItem(Q(item));
    }
    EnableWC0Check = checks[0];
    WC0Edit = edits[0];
    WC0ToLabel = tos[0];
    WC0RangeEnd = ends[0];
    WC0SizeCombo = sizes[0];
    WC0TypeCombo = types[0];
    EnableWC1Check = checks[1];
    WC1Edit = edits[1];
    WC1ToLabel = tos[1];
    WC1RangeEnd = ends[1];
    WC1SizeCombo = sizes[1];
    WC1TypeCombo = types[1];

    MultiplierBox = MakeBox(page, "MultiplierBox", "Multiplier", 0, 268, 197, 81);
    MultiplierText = MakeLabel(MultiplierBox, "MultiplierText", "Unknown", 8, 30, 70);
    MultiplierTrackBar = Named(new QSlider(Qt::Horizontal, MultiplierBox), "MultiplierTrackBar",
                               "Use the slider to set the multiplier", 1019);
    MultiplierTrackBar->setGeometry(80, 22, 109, 40);
    MultiplierTrackBar->setRange(0, MultiplierCount - 1);
    MultiplierTrackBar->setSingleStep(1);
    MultiplierTrackBar->setPageStep(1);
    MultiplierTrackBar->setTickInterval(1);
    MultiplierTrackBar->setTickPosition(QSlider::TicksBelow);

    EWBEBox = MakeBox(page, "EWBEBox", "Write Ordering", 204, 268, 253, 81);
    GEWBEDRadio = Named(new QRadioButton(QStringLiteral("No Write Ordering"), EWBEBox),
                        "GEWBEDRadio", "Set the type of write ordering", 1020);
    GEWBEDRadio->setGeometry(8, 18, 160, 18);
    SEWBEDRadio = Named(new QRadioButton(QStringLiteral("All except UC/WC"), EWBEBox),
                        "SEWBEDRadio", "Set the type of write ordering", 1021);
    SEWBEDRadio->setGeometry(8, 37, 160, 18);
    EWBEStrongRadio = Named(new QRadioButton(QStringLiteral("All"), EWBEBox), "EWBEStrongRadio",
                            "Set the type of write ordering", 1022);
    EWBEStrongRadio->setGeometry(8, 56, 160, 18);
    MakeRadioGroup({GEWBEDRadio, SEWBEDRadio, EWBEStrongRadio});
    WriteOrderingLabel1 = MakeLabel(EWBEBox, "WriteOrderingLabel1", "(fastest)", 172, 19, 76);
    WriteOrderingLabel2 = MakeLabel(EWBEBox, "WriteOrderingLabel2", "(fast)", 172, 38, 76);
    WriteOrderingLabel3 = MakeLabel(EWBEBox, "WriteOrderingLabel3", "(slowest)", 172, 57, 76);

    ProfilesBox = MakeBox(page, "ProfilesBox", "Profiles", 204, 352, 253, 89);
    LoadLabel = MakeLabel(ProfilesBox, "LoadLabel", "Load:", 8, 26, 36);
    LoadProfileCombo =
        MakeList(ProfilesBox, "LoadProfileCombo", "List of profiles", 1024, 48, 24, 197);
    Button1 = MakeButton(ProfilesBox, "Button1", "Save", "Save these settings", 1025, 8, 56, 75);
    DeleteProfileButton = MakeButton(ProfilesBox, "DeleteProfileButton", "Delete profile",
                                     "Delete the selected profile", 1026, 128, 56, 117);

    CLineButton = MakeButton(page, "CLineButton", "CLine parameters",
                             "Copies the settings as command line parameters to the clipboard.",
                             1029, 4, 356, 113);
    AutoApplyAtBootCheck =
        MakeCheck(page, "AutoApplyAtBootCheck", "Auto apply at windows startup",
                  "Auto load the settings at system startup", 1023, 20, 388, 183);
    ApplyButton = MakeButton(page, "ApplyButton", "Apply", "Apply the settings", 1027, 4, 416, 75);
    Refresh = MakeButton(page, "Refresh", "&Refresh", "Refresh the screen", 1028, 92, 416, 75);
    DebugButton = MakeButton(page, "DebugButton", "DebugButton", nullptr, 0, 124, 352, 75);
    DebugButton->setVisible(false);
}

void TForm1::CreateAboutPage() {
    Memo2 = Named(new QPlainTextEdit(AboutPage), "Memo2");
    Memo2->setGeometry(56, 20, 325, 289);
    Memo2->setReadOnly(true);
    Memo2->setPlainText(Q(AboutText()));
}

std::string TForm1::AboutText() {
    return "Quorix 0.81\n"
           "Feature tuning for AMD K6-family CPUs\n"
           "Driver module: qrxvxd.vxd\n"
           "\n"
           "Supported AMD CPUs: (all: family 5)\n"
           "model 6 : AMD-K6(tm)\n"
           "model 7 : AMD-K6(tm)\n"
           "model 8/stepping 0..7 : AMD-K6(tm)-2\n"
           "model 8/stepping 8..F : AMD-K6(tm)-2 (with CXT core)\n"
           "model 9 : AMD-K6(tm)-III\n"
           "model D/stepping 0..3 : AMD-K6(tm)-III+ \n"
           "model D/stepping 4..7 : AMD-K6(tm)-2+ \n"
           "\n"
           "DISCLAIMER\n"
           "This software is provided \"as is\", without warranty of any kind, express or "
           "implied, including but not limited to the warranties of merchantability, fitness "
           "for a particular purpose and noninfringement. Changing processor settings can make "
           "a computer unstable, slow it down or lose data. You use this software entirely at "
           "your own risk: the whole risk as to its quality, its results and its performance "
           "is with you.";
}

void TForm1::SetTabOrder() {
    QWidget* order[] = {EnableWACheck,       WAEdit,
                        WA1516MBCheck,       L1CacheEnableCheck,
                        L2CacheEnableCheck,  DataPrefetchCheck,
                        EnableWC0Check,      WC0Edit,
                        WC0SizeCombo,        WC0TypeCombo,
                        EnableWC1Check,      WC1Edit,
                        WC1SizeCombo,        WC1TypeCombo,
                        MultiplierTrackBar,  GEWBEDRadio,
                        SEWBEDRadio,         EWBEStrongRadio,
                        CLineButton,         AutoApplyAtBootCheck,
                        ApplyButton,         Refresh,
                        LoadProfileCombo,    Button1,
                        DeleteProfileButton, DebugButton};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
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
}

// --- Display ---

void TForm1::ShowSettings() {
    ShowWriteAllocation();
    ShowCPUInfo();
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

void TForm1::ShowWriteAllocation() {
    SetChecked(EnableWACheck, CurrentSettings.WA.WAEnabled);
    // The check box's handler may have changed the record; show what it holds now.
    WAEdit->setText(Q(IntToText(CurrentSettings.WA.WALimit)));
    WAEdit->setEnabled(EnableWACheck->isChecked());
    SetChecked(WA1516MBCheck, CurrentSettings.WA.WA1516MB);
    WA1516MBCheck->setEnabled(EnableWACheck->isChecked());
    EnableWACheck->setEnabled(CurrentSettings.WA.WASupported);
}

void TForm1::ShowWriteCombining() {
    const bool supported = CurrentSettings.WC.WCSupported;
    EnableWC0Check->setEnabled(supported);
    EnableWC1Check->setEnabled(supported);
    SetChecked(EnableWC0Check, CurrentSettings.WC.MTRR0.Enabled);
    SetChecked(EnableWC1Check, CurrentSettings.WC.MTRR1.Enabled);
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
        const bool on = row.check->isChecked();
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
    if (cpu.MultiplierKnown) {
        if (cpu.Multiplier < MultiplierCount) {
            MultiplierText->setText(Q(MultiplierCaptions[cpu.Multiplier]));
            MultiplierTrackBar->setValue(cpu.Multiplier);
        } else {
            MultiplierText->setText(QStringLiteral("error"));
        }
    } else {
        MultiplierText->setText(QStringLiteral("Unavailable."));
    }
    if (!CurrentSettings.CPU.MultiplierSupported)
        MultiplierTrackBar->setEnabled(false);
}

void TForm1::ShowL1Cache() {
    SetChecked(L1CacheEnableCheck, CurrentSettings.L1CacheEnabled);
}

void TForm1::ShowL2Cache() {
    L2CacheEnableCheck->setEnabled(CurrentSettings.L2Supported);
    SetChecked(L2CacheEnableCheck, CurrentSettings.L2Supported && CurrentSettings.L2CacheEnabled);
}

void TForm1::ShowWriteOrdering() {
    const bool supported = CurrentSettings.WriteOrderingSupported;
    for (QWidget* w :
         {static_cast<QWidget*>(GEWBEDRadio), static_cast<QWidget*>(SEWBEDRadio),
          static_cast<QWidget*>(EWBEStrongRadio), static_cast<QWidget*>(WriteOrderingLabel1),
          static_cast<QWidget*>(WriteOrderingLabel2), static_cast<QWidget*>(WriteOrderingLabel3)})
        w->setEnabled(supported);
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
    SetChecked(DataPrefetchCheck, CurrentSettings.DataPrefetchEnabled);
}

void TForm1::RefreshProfileList() {
    const int index = LoadProfileCombo->currentIndex();
    const int count = LoadProfileCombo->count();
    // The names of an unreadable file are unknown; the box stays greyed until Refresh.
    ProfilesBox->setEnabled(!RegistryUnusable);
    std::vector<std::string> names;
    if (!RegistryUnusable)
        GetProfileNames(names);
    // The list is sorted as the user reads it, without regard to case.
    QStringList items;
    for (const std::string& name : names)
        items << Q(name);
    std::stable_sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    LoadProfileCombo->clear();
    LoadProfileCombo->addItems(items);
    LoadProfileCombo->setCurrentIndex(LoadProfileCombo->count() == count ? index : -1);
    DeleteProfileButton->setEnabled(LoadProfileCombo->currentIndex() >= 0);
}

void TForm1::ShowAutoApply() {
    SetChecked(AutoApplyAtBootCheck, AutoApplyRegistered());
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

bool TForm1::ProbeRegistry() {
    RegistryUnusable = false;
    try {
        StoredVersionMissing();
    } catch (const RegistryError& error) {
        if (error.Kind() != RegistryErrorKind::FileUnusable)
            throw;
        RegistryUnusable = true;
        ShowException(error);
    }
    return !RegistryUnusable;
}

// --- Handlers ---

void TForm1::FormCreate(QObject*) {
    if (DebugMode)
        DebugButton->setVisible(true);
    // Identification and the processor's settings do not need the registry: a file that cannot
    // be read is reported once, and the window still shows and tunes the processor.
    if (ProbeRegistry() && !StoredVersionMissing()) {
        // A byte-by-byte comparison of the two texts, as the stored marker was always compared.
        if (ReadStoredVersion() > std::string(StoredVersionText)) {
            ShowError("Found registry information of newer version of QRX. Exiting.");
            Terminated = true;
            return;
        }
    }
    IdentifyCPU(CurrentSettings);
    ShowSettings();
    if (!RegistryUnusable)
        WriteStoredVersion();
    SettingsModified = false;
    UpdateApplyButton();
}

void TForm1::FormDestroy(QObject*) {
    UnloadDriver();
}

void TForm1::ApplyButtonClick(QObject*) {
    const bool wanted = AutoApplyAtBootCheck->isChecked();
    if (wanted != AutoApplyRegistered()) {
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
    ShowSettings();
    SettingsModified = false;
    UpdateApplyButton();
}

void TForm1::RefreshClick(QObject*) {
    GetAllSettings(CurrentSettings);
    // A registry file repaired meanwhile gives the profile controls back.
    ProbeRegistry();
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
            if (!LoadProfile(LoadProfileCombo->currentText().toStdString(), CurrentSettings))
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
    const std::string name = LoadProfileCombo->currentText().toStdString();
    if (name == StartupProfileName) {
        if (ConfirmBox(
                "This will disable the 'auto apply at windows startup' feature. Are you sure?")) {
            SetAutoApply(false, CurrentSettings);
            DeleteProfile(name);
            RefreshProfileList();
            ShowAutoApply();
        }
    } else if (ConfirmBox("Delete profile: " + name + ". Are you sure?")) {
        DeleteProfile(name);
        RefreshProfileList();
    }
}

void TForm1::AutoApplyAtBootCheckClick(QObject*) {
    MarkModified();
}

void TForm1::CLineButtonClick(QObject*) {
    QGuiApplication::clipboard()->setText(Q(BuildCommandLine(CurrentSettings)));
    // Nothing else shows that the click did something: a short note at the button says so,
    // without a box to close.
    QToolTip::showText(CLineButton->mapToGlobal(QPoint(0, CLineButton->height())),
                       QStringLiteral("The settings are on the clipboard as command line "
                                      "parameters."),
                       CLineButton, QRect(), 3000);
}
