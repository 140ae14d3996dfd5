// Tweak clock multiplier: the eight ratios, read from PSOR and set through the power-management
// port, which EPMR opens only for the moment of the change.
#include "engine/Tweak.h"

#include "common/General.h"
#include "driver/wintweak.h"

namespace {

struct Ratio {
    const char* text;
    uint8_t code; // the processor's own encoding, in PSOR bits 2..0 and port bits 7..5
};

const Ratio Ratios[MultiplierCount] = {
    {"2.0", 4}, {"3.0", 5}, {"3.5", 7}, {"4.0", 2}, {"4.5", 0}, {"5.0", 1}, {"5.5", 3}, {"6.0", 6},
};

// Bits 9, 13, 14, 16 and 19 of every multiplier change; the code goes into bits 7..5.
constexpr uint32_t MultiplierCommand = 0x96200;
// EPMR value that enables the power-management block at its base.
constexpr uint32_t EpmrOpen = PowerManagementBase | 1;

} // namespace

std::string MultiplierToText(uint8_t index) {
    return index < MultiplierCount ? Ratios[index].text : "unknown";
}

uint8_t MultiplierToCode(uint8_t index) {
    return index < MultiplierCount ? Ratios[index].code : 0;
}

uint8_t CodeToMultiplier(uint8_t code) {
    const uint8_t bits = code & 7;
    for (uint8_t i = 0; i < MultiplierCount; ++i)
        if (Ratios[i].code == bits)
            return i;
    return 0; // unreachable: the table holds all eight codes
}

void SetMultiplier(uint8_t index) {
    uint32_t oldHigh = 0, oldLow = 0;
    // Without the old value the restore would clear EPMR; better to change nothing.
    if (!ReadMsr(MsrEPMR, oldHigh, oldLow))
        return;
    // When the block could not be opened, FFF8h is not ours: on these boards a PCI device
    // (an IDE bus master, for one) may decode it, so the command is not sent. EPMR still gets
    // its old value back either way.
    if (WriteMsr(MsrEPMR, 0, EpmrOpen))
        PortOutput(MultiplierPort,
                   (static_cast<uint32_t>(MultiplierToCode(index)) << 5) | MultiplierCommand);
    WriteMsr(MsrEPMR, oldHigh, oldLow);
}

bool GetMultiplier(uint8_t& index) {
    uint32_t high = 0, low = 0;
    const bool read = ReadMsr(MsrPSOR, high, low);
    index = CodeToMultiplier(static_cast<uint8_t>(ExtractBits(low, 0, 2)));
    return read;
}
