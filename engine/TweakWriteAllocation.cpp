// Tweak write allocation: the limit, the 15-16 MB hole and the on/off state in WHCR, in the
// register layouts of the first K6 core and of the CXT core.
#include "engine/Tweak.h"

#include "common/Messages.h"
#include "driver/wintweak.h"

namespace {

struct WALayout {
    int32_t maxLimit;     // MB
    unsigned limitShift;  // position of the limit field (4-MB units)
    uint32_t ownedBits;   // limit field and hole bit, cleared before the new value goes in
    uint32_t holeBit;     // the 15-16 MB bit
    const char* tooLarge; // message for a limit above maxLimit
};

const WALayout K6Layout = {508, 1, 0x000000FF, 0x00000001, "WALimit > 508 MB."};
const WALayout CXTLayout = {4092, 22, 0xFFC10000, 0x00010000, "WALimit > 4092 MB."};

void SetWA(const WALayout& layout, WATp wa) {
    // Switching write allocation off is writing limit 0 without the hole.
    if (!wa.WAEnabled) {
        wa.WALimit = 0;
        wa.WA1516MB = false;
    }
    if (wa.WALimit > layout.maxLimit) {
        ShowError(layout.tooLarge);
        return;
    }
    // A stored profile can hold any 32-bit value; a negative limit would otherwise spill ones
    // into bits the field does not own.
    if (wa.WALimit < 0) {
        ShowError("WALimit < 0 MB.");
        return;
    }
    const uint32_t field = (static_cast<uint32_t>(wa.WALimit / 4) << layout.limitShift) |
                           (wa.WA1516MB ? layout.holeBit : 0);
    uint32_t high = 0, low = 0;
    // Without the current value every bit the field does not own would be lost.
    if (!ReadMsr(MsrWHCR, high, low))
        return;
    low = (low & ~layout.ownedBits) | field;
    WriteMsr(MsrWHCR, high, low);
}

bool GetWA(const WALayout& layout, WATp& wa) {
    uint32_t high = 0, low = 0;
    const bool read = ReadMsr(MsrWHCR, high, low);
    const uint32_t limitMask = layout.ownedBits & ~layout.holeBit;
    wa.WAMaxLimit = layout.maxLimit;
    wa.WALimit = static_cast<int32_t>(((low & limitMask) >> layout.limitShift) * 4);
    wa.WA1516MB = (low & layout.holeBit) != 0;
    wa.WAEnabled = wa.WA1516MB || wa.WALimit != 0;
    return read;
}

} // namespace

void SetWAK6(WATp wa) {
    SetWA(K6Layout, wa);
}
bool GetWAK6(WATp& wa) {
    return GetWA(K6Layout, wa);
}
void SetWACXT(WATp wa) {
    SetWA(CXTLayout, wa);
}
bool GetWACXT(WATp& wa) {
    return GetWA(CXTLayout, wa);
}
