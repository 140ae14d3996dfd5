// Dialogs: the GUI program's modal boxes, OK/Cancel confirmations and the beep, reached through
// replaceable functions so that tests can answer them without ever blocking on a modal box.
#pragma once

#include <functional>
#include <string>

#include "common/guispecific.h"

class QWidget;

enum class BoxIcon { Error, Information, Question };

// The icon's name in lower case ("error", "information", "question"), for logs and test output.
const char* BoxIconName(BoxIcon icon);

// A modal message box with a single OK button. The text is shown as given; a CR LF pair counts
// as one line break.
using MessageBoxFunction =
    std::function<void(const std::string& caption, const std::string& text, BoxIcon icon)>;
// A modal confirmation with OK and Cancel; true when the user chose OK.
using ConfirmFunction = std::function<bool(const std::string& caption, const std::string& text)>;
// The system's default sound.
using BeepFunction = std::function<void()>;

void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon);
// The confirmation box of the main window and the save dialog: caption "Confirm", question-mark
// icon, OK and Cancel. True on OK.
bool ConfirmBox(const std::string& text);
void Beep();

// Each setter installs a replacement (an empty function restores the real box) and returns the
// function that was installed before, so a test can put it back.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction function);
ConfirmFunction SetConfirmFunction(ConfirmFunction function);
BeepFunction SetBeepFunction(BeepFunction function);

// The box of the GUI program's message output (guispecific): ShowMessageBox with the error or
// the information icon. The program and the GUI tests install it with SetMessageBoxOutput.
void ShowMessageOutputBox(const std::string& caption, const std::string& text, MessageBoxKind kind);

// The real Qt boxes, for a replacement that wraps them. They need a QApplication.
void ShowQtMessageBox(const std::string& caption, const std::string& text, BoxIcon icon);
bool ShowQtConfirm(const std::string& caption, const std::string& text);

// The window that modal boxes are centred on; none when null.
void SetDialogParent(QWidget* parent);

// While one lives, the real boxes block only the window they are centred on, not every window
// of the program: the debug window stays usable while a box of its tick is open.
class ParentModalBoxes {
public:
    ParentModalBoxes();
    ~ParentModalBoxes();
    ParentModalBoxes(const ParentModalBoxes&) = delete;
    ParentModalBoxes& operator=(const ParentModalBoxes&) = delete;
};
