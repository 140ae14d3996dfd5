// Unit1: the main window TForm1. It shows the identified processor and the settings record
// CurrentSettings, applies it, reads it back, and keeps profiles and the log-on start entry.
#pragma once

#include <QWidget>
#include <string>

#include "engine/Tweak.h"
#include "gui/ContextHelp.h"
#include "gui/TrackBar.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class TSpinButton;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Builds every control, wires the handlers and runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);
    // Runs FormDestroy.
    ~TForm1() override;

    // The settings record the window shows and edits; the processor changes only on Apply.
    SettingsTp CurrentSettings;
    // True when CurrentSettings was edited since it was last read from the processor.
    bool SettingsModified = false;
    // True from identification until the first read-back (Apply, Refresh, a debug tick) while
    // identification stopped before reading anything: an AMD processor without leaf 1 to name
    // its model. Unread features then were never asked, rather than did not answer.
    bool NothingReadYet = false;
    // Set by FormCreate when the program must end without using the window (a newer version
    // stored in the registry).
    bool Terminated = false;
    // Set while the registry cannot be used (the file cannot be read, parsed or written): the
    // profile controls and the auto-apply box are greyed, and nothing of the window touches the
    // file until Refresh finds it usable again.
    bool RegistryUnusable = false;

    // Display methods shared with the editing handlers.
    void ShowSettings();
    void ShowCPUInfo();
    void ShowMachine();
    void ShowWriteAllocation();
    void ShowWriteCombining();
    void ShowMultiplier();
    void ShowL1Cache();
    void ShowL2Cache();
    void ShowWriteOrdering();
    void ShowDataPrefetch();
    void RefreshProfileList();
    void ShowAutoApply();
    void UpdateApplyButton();
    void MarkModified();
    // The registry's part of start-up and Refresh: reads the version marker, writes it (which
    // takes the file's lock even when nothing changes) and lists the profiles. Any registry error
    // is reported once and sets RegistryUnusable. With startup, a newer stored version ends the
    // program (Terminated); on Refresh it is left as it is. True when the registry is usable.
    bool ProbeRegistry(bool startup);
    // Reports a registry error in one message naming the file and the cause, and greys the
    // profile side until Refresh finds the registry usable.
    void RegistryFailed(const std::exception& error);

    // The whole text as a signed decimal integer; "Error while converting WALimit." and 0 when
    // it is not one. Defined with the editing handlers.
    int32_t WALimitFromText(const std::string& text);

    // The page control and its pages.
    QTabWidget* PageControl1;
    QWidget* FeaturesPage;
    QWidget* AboutPage;

    // Features page: group boxes.
    QGroupBox* CPUIDBox;
    QGroupBox* WABox;
    QGroupBox* CacheBox;
    QGroupBox* WCBox;
    QGroupBox* MultiplierBox;
    QGroupBox* EWBEBox;
    QGroupBox* ProfilesBox;

    // CPUIDBox: two framed columns of caption and value labels.
    QFrame* CPUIDPanel1;
    QFrame* CPUIDPanel2;
    QLabel* VendorIDLabel;
    QLabel* CPULabel;
    QLabel* SpeedLabel;
    QLabel* FamilyLabel;
    QLabel* ModelLabel;
    QLabel* SteppingLabel;
    QLabel* UIVendorIDString;
    QLabel* UICPUString;
    QLabel* SpeedString;
    QLabel* CPUFamilyString;
    QLabel* CPUModelString;
    QLabel* CPUSteppingString;

    // WABox.
    QCheckBox* EnableWACheck;
    QLineEdit* WAEdit;
    TSpinButton* WASpinButton;
    QCheckBox* WA1516MBCheck;

    // CacheBox.
    QCheckBox* L1CacheEnableCheck;
    QCheckBox* L2CacheEnableCheck;
    QCheckBox* DataPrefetchCheck;

    // WCBox: row 0 above row 1.
    QCheckBox* EnableWC0Check;
    QLineEdit* WC0Edit;
    QLabel* WC0ToLabel;
    QLineEdit* WC0RangeEnd;
    QComboBox* WC0SizeCombo;
    QComboBox* WC0TypeCombo;
    QCheckBox* EnableWC1Check;
    QLineEdit* WC1Edit;
    QLabel* WC1ToLabel;
    QLineEdit* WC1RangeEnd;
    QComboBox* WC1SizeCombo;
    QComboBox* WC1TypeCombo;

    // MultiplierBox.
    QLabel* MultiplierText;
    TTrackBar* MultiplierTrackBar;

    // EWBEBox.
    QRadioButton* GEWBEDRadio;
    QRadioButton* SEWBEDRadio;
    QRadioButton* EWBEStrongRadio;
    QLabel* WriteOrderingLabel1;
    QLabel* WriteOrderingLabel2;
    QLabel* WriteOrderingLabel3;

    // ProfilesBox.
    QLabel* LoadLabel;
    QComboBox* LoadProfileCombo;
    QPushButton* Button1;
    QPushButton* DeleteProfileButton;

    // Below the left column.
    QPushButton* CLineButton;
    QCheckBox* AutoApplyAtBootCheck;
    QPushButton* ApplyButton;
    QPushButton* Refresh;
    QPushButton* DebugButton;

    // Below the buttons, only while the driver knows the machine (request 8): its memory and
    // display windows, and the button that fills the fields with the settings suited to it.
    QLabel* MachineString;
    QPushButton* SuggestButton;

    // About page.
    QPlainTextEdit* Memo2;

    // What the driver knows about the machine, read with the processor's identity.
    MachineTp Machine;
    bool MachineKnown = false;

    // Set while the exit handler of an edit field runs. Its message box runs a nested message
    // loop and may put the focus back into the field; a focus change meanwhile must not start
    // another validation, or two invalid fields would hand the focus and the message back and
    // forth.
    bool InExitHandler = false;

public slots:
    // Handlers of the window, its buttons, the profile list and the auto-apply box.
    void FormCreate(QObject* sender = nullptr);
    void FormDestroy(QObject* sender = nullptr);
    void ApplyButtonClick(QObject* sender = nullptr);
    void RefreshClick(QObject* sender = nullptr);
    void Button1Click(QObject* sender = nullptr);
    void LoadProfileComboChange(QObject* sender = nullptr);
    void DeleteProfileButtonClick(QObject* sender = nullptr);
    void AutoApplyAtBootCheckClick(QObject* sender = nullptr);
    void CLineButtonClick(QObject* sender = nullptr);
    void SuggestButtonClick(QObject* sender = nullptr);

    // Opens one more debug window (defined with the editing handlers, Unit1Controls.cpp).
    void DebugButtonClick(QObject* sender = nullptr);

    // Handlers of the feature controls (with the editing handlers). A handler shared by several
    // controls tells them apart by sender.
    void EnableWACheckClick(QObject* sender = nullptr);
    void WA1516MBCheckClick(QObject* sender = nullptr);
    void EnableWCCheckClick(QObject* sender = nullptr);
    void WCSizeComboChange(QObject* sender = nullptr);
    void WCTypeComboChange(QObject* sender = nullptr);
    void MultiplierTrackBarChange(QObject* sender = nullptr);
    void L1CacheClick(QObject* sender = nullptr);
    void L2CacheClick(QObject* sender = nullptr);
    void GEWBEDRadioClick(QObject* sender = nullptr);
    void SEWBEDRadioClick(QObject* sender = nullptr);
    void EWBEStrongRadioClick(QObject* sender = nullptr);
    void DataPrefetchCheckClick(QObject* sender = nullptr);
    // key is the typed character (13 Enter, 27 Escape, 8 Backspace); a handler swallows a key
    // by setting it to 0.
    void WAEditKeyPress(QObject* sender, char& key);
    void WAEditExit(QObject* sender = nullptr);
    void WASpinButtonUpClick(QObject* sender = nullptr);
    void WASpinButtonDownClick(QObject* sender = nullptr);
    void WCEditKeyPress(QObject* sender, char& key);
    void WCEditExit(QObject* sender = nullptr);

public:
    // Connects the feature controls to their handlers; the constructor calls it once, after
    // every control exists and before FormCreate. Defined with the editing handlers.
    void ConnectEditingHandlers();

    // Text of the About page.
    static std::string AboutText();

private:
    // The layout (Unit1Layout.cpp).
    void CreateControls();
    void CreateFeaturesPage();
    void CreateAboutPage();
    void SetTabOrder();

    void ConnectHandlers();
    // Stops the edit fields' key and focus events from reaching the handlers; the destructor
    // calls it, so that the focus changes of a window being destroyed call nothing.
    void DisconnectEditingHandlers();

    // Routes the edit fields' key and focus events to their handlers.
    QObject* EditingFilter = nullptr;
};
