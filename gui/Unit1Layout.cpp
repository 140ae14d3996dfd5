// Unit1, layout: the main window's controls with their names, captions, hints, help context
// numbers and fixed places, the About page's text, and the tab order.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <iterator>

#include "driver/wintweak.h"
#include "gui/ContextHelp.h"
#include "gui/ControlBehaviour.h"
#include "gui/QtText.h"
#include "gui/SpinButton.h"
#include "gui/TrackBar.h"
#include "gui/Unit1.h"

namespace {
// The range sizes in the order of their size index.
const char* const SizeItems[SizeCount] = {"128 kB", "256 kB", "512 kB", "1 MB",  "2 MB",   "4 MB",
                                          "8 MB",   "16 MB",  "32 MB",  "64 MB", "128 MB", "256 MB",
                                          "512 MB", "1 GB",   "2 GB",   "4 GB"};
// The memory types in the order of their code.
const char* const TypeItems[] = {"Normal", "Uncached", "Write combined"};

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
} // namespace

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
        // Every list of the window drops down alike, below or above it.
        types[i]->setStyle(CountedListStyle(types[i]));
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
    MultiplierTrackBar = Named(new TTrackBar(MultiplierBox), "MultiplierTrackBar",
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
    LoadProfileCombo->setStyle(CountedListStyle(LoadProfileCombo));
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
    // The free row under the buttons, so every control above keeps its place.
    MachineString = MakeLabel(page, "MachineString", "", 4, 450, 360);
    MachineString->setVisible(false);
    SuggestButton =
        MakeButton(page, "SuggestButton", "Suggest",
                   "Fills the fields with the settings suited to this machine", 1030, 370, 446, 87);
    SuggestButton->setVisible(false);
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
           "Driver module: qrxvxd.vxd, " +
           DrivenProcessor() +
           "\n"
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
                        DeleteProfileButton, DebugButton,
                        SuggestButton};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
