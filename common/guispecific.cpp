// guispecific: the GUI program's messages, each a modal box the user closes before the caller
// goes on. The program's name heads the text; the captions are the standard ones of the type.
#include "common/guispecific.h"

#include <cstdio>

#include "common/Messages.h"

namespace {
int errorCount = 0;
MessageBoxOutputFn boxOutput = nullptr;

void Show(const char* caption, const std::string& message, MessageBoxKind kind) {
    if (boxOutput)
        boxOutput(caption, "Quorix:\r\n" + message, kind);
    else
        std::fprintf(stderr, "%s: %s\n", caption, message.c_str());
}
} // namespace

void SetMessageBoxOutput(MessageBoxOutputFn output) {
    boxOutput = output;
}

void ShowError(const std::string& message) {
    ++errorCount;
    Show("Error", message, MessageBoxKind::Error);
}

void ShowInfo(const std::string& message) {
    Show("Information", message, MessageBoxKind::Information);
}

int ErrorCount() {
    return errorCount;
}
