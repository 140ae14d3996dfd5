// libFuzzer target for the command-line parser: the input, split at line feeds, is the parameter
// list; both passes run against the simulated processor of the module beside the fuzzer, with
// the GUI program's profile switches installed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "testing/RecordedMessages.h"

namespace {

// A stand-in for the profile store (the registry file reader has a fuzz target of its own): every
// name but the empty one exists, and the names of even length load, so "/L" reaches both of its
// outcomes.
bool FuzzProfileExists(const std::string& name) {
    return !name.empty();
}

bool FuzzLoadProfile(const std::string& name, SettingsTp& settings) {
    if (name.size() % 2 != 0)
        return false; // as the store does: a failed load leaves the record alone
    settings.L1CacheEnabled = !settings.L1CacheEnabled;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the module the parser still runs; only the processor reads give zeros.
    LoadDriver();
    InstallProfileSwitches(FuzzProfileExists, FuzzLoadProfile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parameters;
    std::string current;
    for (size_t i = 0; i < size && parameters.size() < 64; ++i) {
        if (data[i] == '\n') {
            parameters.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        parameters.push_back(current);
    SetParameterList(parameters);
    ClearRecordedMessages();
    ProcessCommandLine();
    // Every refusal is reported exactly once.
    if (RecordedErrors().size() > 1 && !ValidateCommandLine())
        __builtin_trap();
    return 0;
}
