// Fuzz target for the state-file reader: any bytes are refused with a reason or read into a
// machine that writes back and reads again to the same machine.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "simulator/StateText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    SimMachine m;
    std::string error;
    if (!ParseState(text, m, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    SimMachine again;
    if (!ParseState(FormatState(m), again, error) || !(again == m))
        std::abort();
    // Whatever was read must be a machine the requests can work on.
    uint32_t regs[4];
    SimCpuid(m, 1, regs);
    DescribeMachine(m);
    return 0;
}
