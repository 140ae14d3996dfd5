// clspecific: the console program's messages, one line each on standard output, in order with
// the program's other output.
#include "Messages.h"

#include <cstdio>

namespace {
int errorCount = 0;

void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
} // namespace

void ShowError(const std::string& message) {
    ++errorCount;
    WriteLine("Error: " + message);
}

int ErrorCount() {
    return errorCount;
}

// The console program has no informational messages; anything that arrives is still shown.
void ShowInfo(const std::string& message) {
    WriteLine(message);
}
