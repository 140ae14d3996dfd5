// qrxclwin: the console program. Applies the processor settings given as parameters and ends;
// the log-on start entry runs it. This file is its composition root.
#include <cstdio>
#include <exception>
#include <string>

#include "cmdline/BuildCommandLine.h"
#include "cmdline/commandline.h"
#include "common/General.h"
#include "common/Messages.h"
#include "driver/wintweak.h"
#include "engine/Tweak.h"

namespace {

// Banner and help share standard output with the error lines, so they are written (and flushed)
// the same way to keep their order.
void WriteLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "/SUGGEST": the machine's facts and one line of parameters suited to it. Reads, never writes.
void Suggest() {
    MachineTp machine;
    if (!ReadMachine(machine)) {
        ShowError(DrivenProcessor() == "simulated processor"
                      ? "Cannot suggest settings: the simulated machine has no memory map "
                        "(qrxsim memory sets one)."
                      : "Cannot suggest settings: the driver does not tell this machine's "
                        "installed memory and display windows.");
        return;
    }
    SettingsTp settings;
    IdentifyCPU(settings);
    for (const std::string& fact : MachineFacts(machine))
        WriteLine(fact);
    const std::string parameters =
        BuildSuggestedParameters(settings, SuggestSettings(machine, settings));
    if (parameters.empty())
        ShowError("Nothing to suggest: no setting this processor has suits this machine.");
    else
        WriteLine("Suggested parameters: " + parameters);
}

bool AsksForSuggestion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (MakeUpper(argv[i]) == "/SUGGEST")
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Which processor the settings go to, before anything is done to it.
    WriteLine("Quorix " QRX_VERSION " - AMD K6-family processor features, console version (" +
              DrivenProcessor() + ")");
    WriteLine("Applies the processor settings given as command-line parameters.");
    WriteLine("");

    if (!LoadDriver()) {
        ShowError("Unable to load VXD.");
        return 1;
    }
    if (argc <= 1) {
        WriteLine("This is a command-line only version of QRX.");
        WriteLine("For command-line parameters look in the helpfile.");
    }
    SetParameterList(argc, argv);
    // Whatever happens while the parameters are applied, the driver is still closed, and a
    // failure still shows as an error line rather than ending the program without one.
    try {
        // A suggestion is for reading before any settings are chosen; mixed with settings it
        // would be unclear which of the two the user meant.
        if (!AsksForSuggestion(argc, argv))
            ProcessCommandLine();
        else if (argc == 2)
            Suggest();
        else
            ShowError("/SUGGEST stands alone: give it without other parameters.");
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
    if (!UnloadDriver())
        ShowError("Unable to unload VXD.");

    // Scripts and service managers see from the status whether everything was applied. A failed
    // request is no error line of its own (standard output stays as it is), but a setting it
    // carried was not applied.
    const std::string failed = FailedRequestSummary();
    if (!failed.empty())
        std::fprintf(stderr, "qrxclwin: %s\n", failed.c_str());
    return ErrorCount() == 0 && failed.empty() ? 0 : 1;
}
