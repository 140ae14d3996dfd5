// The one message interface of the shared code. Each program links exactly one implementation
// (guispecific: modal boxes; clspecific: lines on standard output); tests link recordspecific.
#pragma once

#include <string>

void ShowError(const std::string& message);
void ShowInfo(const std::string& message);
