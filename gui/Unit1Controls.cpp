// Unit1Controls: the handlers of the main window's feature controls and their validation.
// Placeholder definitions so the program links; the editing handlers replace them.
#include "gui/Unit1.h"

#include "gui/DebugFormUnit.h"

void TForm1::ConnectEditingHandlers() {}

int32_t TForm1::WALimitFromText(const std::string&) {
    return 0;
}

void TForm1::DebugButtonClick(QObject*) {}
void TForm1::EnableWACheckClick(QObject*) {}
void TForm1::WA1516MBCheckClick(QObject*) {}
void TForm1::EnableWCCheckClick(QObject*) {}
void TForm1::WCSizeComboChange(QObject*) {}
void TForm1::WCTypeComboChange(QObject*) {}
void TForm1::MultiplierTrackBarChange(QObject*) {}
void TForm1::L1CacheClick(QObject*) {}
void TForm1::L2CacheClick(QObject*) {}
void TForm1::GEWBEDRadioClick(QObject*) {}
void TForm1::SEWBEDRadioClick(QObject*) {}
void TForm1::EWBEStrongRadioClick(QObject*) {}
void TForm1::DataPrefetchCheckClick(QObject*) {}
void TForm1::WAEditKeyPress(QObject*, char&) {}
void TForm1::WAEditExit(QObject*) {}
void TForm1::WASpinButtonUpClick(QObject*) {}
void TForm1::WASpinButtonDownClick(QObject*) {}
void TForm1::WCEditKeyPress(QObject*, char&) {}
void TForm1::WCEditExit(QObject*) {}
