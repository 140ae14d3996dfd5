// Support for the GUI tests: one application object for the test process, a recorder that
// answers every modal box, confirmation and beep, and helpers for the simulated processor.
#pragma once

#include <QString>
#include <QWidget>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "gui/Dialogs.h"

struct RecordedBox {
    std::string caption;
    std::string text;
    BoxIcon icon;
    bool operator==(const RecordedBox& other) const {
        return caption == other.caption && text == other.text && icon == other.icon;
    }
};
std::ostream& operator<<(std::ostream& os, const RecordedBox& box);

// Replaces the boxes, confirmations and beep for its lifetime and records them. Confirmations
// take their answers from a queue (OK when it is empty).
class DialogRecorder {
public:
    DialogRecorder();
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    std::vector<RecordedBox> boxes;
    std::vector<std::string> confirmations; // the question texts, in order
    std::vector<std::string> confirmCaptions;
    std::deque<bool> answers; // next answers, true = OK
    int beeps = 0;

    // The texts of the error boxes with the "Quorix:\r\n" heading removed.
    std::vector<std::string> ErrorMessages() const;
    void Clear();

private:
    MessageBoxFunction oldBox;
    ConfirmFunction oldConfirm;
    BeepFunction oldBeep;
};

// Resets the simulated processor of this test process to a preset; fails the test on error.
void ResetSimulator(const std::string& preset);
// The simulator's request log, one entry per line.
std::vector<std::string> SimulatorLog();
void ClearSimulatorLog();
std::string SimulatorGet(const std::string& reg);

// Writes the registry file of this test process (REGEDIT4 text, keys and values as given).
void WriteRegistryFile(const std::string& body);

// The table of expected results in gui/tests/data/NAME: one row per line, fields separated by
// tabs; blank lines and lines starting with '#' are left out.
std::vector<std::vector<std::string>> ReadTable(const std::string& name);

template <class T> T* FindControl(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromUtf8(name));
}
