// guispecific: the GUI program's messages, each a modal box the user closes before the caller
// goes on. The program's name heads the text; the captions are the standard ones of the type.
#include "common/Messages.h"

#include "gui/Dialogs.h"

namespace {
int errorCount = 0;
}

void ShowError(const std::string& message) {
    ++errorCount;
    ShowMessageBox("Error", "Quorix:\r\n" + message, BoxIcon::Error);
}

void ShowInfo(const std::string& message) {
    ShowMessageBox("Information", "Quorix:\r\n" + message, BoxIcon::Information);
}

int ErrorCount() {
    return errorCount;
}
