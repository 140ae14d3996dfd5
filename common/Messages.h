// The one message interface of the shared code. Each program links exactly one implementation
// (guispecific: modal boxes, which the GUI installs; clspecific: lines on standard output);
// tests link recordspecific (testing/).
#pragma once

#include <string>

void ShowError(const std::string& message);
void ShowInfo(const std::string& message);

// How many error messages this process has shown so far (the recording implementation: since the
// last ClearRecordedMessages). The console program's exit status depends on it.
int ErrorCount();
