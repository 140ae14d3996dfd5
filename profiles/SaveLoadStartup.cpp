// SaveLoad, start-up half: registers the console program to apply settings at each log-on.
#include <sstream>

#include "cmdline/BuildCommandLine.h"
#include "common/General.h"
#include "platform/Registry.h"
#include "profiles/SaveLoad.h"

namespace {

[[noreturn]] void EntryFailed(const std::string& cause) {
    const std::string name = AutoApplyEntryName;
    throw RegistryError(RegistryErrorKind::SetDataFailed, "Failed to set data for '" + name + "'",
                        name, cause);
}

} // namespace

LogonCommand AutoApplyCommand(const SettingsTp& settings) {
    LogonCommand command;
    // The program path is kept whole as the entry's first word, however many blanks it holds;
    // the parameter text never holds a blank inside a value.
    command.program = ProgramDirectory() + ConsoleProgramName;
    std::istringstream words(BuildCommandLine(settings));
    for (std::string word; words >> word;)
        command.arguments.push_back(word);
    return command;
}

void SetAutoApply(bool registering, const SettingsTp& settings) {
    std::string error;
    if (registering) {
        SaveProfile(StartupProfileName, settings);
        // Written beside the old entry and renamed over it: a failure keeps the old entry.
        if (!WriteLogonStart(AutoApplyEntryName, AutoApplyCommand(settings), error))
            EntryFailed(error);
    } else if (!RemoveLogonStart(AutoApplyEntryName, error)) {
        // An entry that stays would keep applying settings the user has switched off.
        EntryFailed(error);
    }
}

bool AutoApplyRegistered() {
    return LogonStartExists(AutoApplyEntryName);
}
