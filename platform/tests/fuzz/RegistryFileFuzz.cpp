// Fuzz target for the registry file reader: any text is either read or refused with the
// registry's file error, and what is read is written back in a form that reads back to itself.
#include "platform/Registry.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string canonical;
    try {
        canonical = CanonicalRegistryText(text, "fuzz.reg");
    } catch (const RegistryError& e) {
        if (e.Kind() != RegistryErrorKind::FileUnusable)
            std::abort();
        return 0;
    }
    std::string again;
    try {
        again = CanonicalRegistryText(canonical, "fuzz.reg");
    } catch (const RegistryError&) {
        std::abort(); // the registry wrote a file it cannot read
    }
    if (again != canonical)
        std::abort(); // writing and reading back lost or changed something
    return 0;
}
