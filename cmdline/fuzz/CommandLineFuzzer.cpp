// libFuzzer target for the command-line parser: the input, split at line feeds, is the parameter
// list; both passes run against the simulated processor of the module beside the fuzzer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/commandline.h"
#include "driver/wintweak.h"
#include "platform/Registry.h"
#include "testing/RecordedMessages.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without the module the parser still runs; only the processor reads give zeros.
    LoadDriver();
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
    try {
        ProcessCommandLine();
    } catch (const RegistryError&) {
        // A profile the registry cannot read is the registry's error, passed on to the caller.
    }
    // Every refusal is reported exactly once.
    if (RecordedErrors().size() > 1 && !ValidateCommandLine())
        __builtin_trap();
    return 0;
}
