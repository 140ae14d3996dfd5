// Tweak caches, write ordering and data prefetch: the L1 switch in control register 0, and the
// L2 switch, write ordering and data prefetch in EFER.
#include "engine/Tweak.h"

#include "common/General.h"
#include "driver/wintweak.h"

namespace {

constexpr uint32_t Cr0CacheDisable = 1u << 30;
constexpr uint32_t EferL2Disable = 1u << 4;
constexpr uint32_t EferWriteOrdering = 0xC; // bits 3..2
constexpr uint32_t EferGEWBED = 0x8;
constexpr uint32_t EferSEWBED = 0x4;
constexpr uint32_t EferDataPrefetch = 1u << 1;

// EFER holds other features too (the system-call enable bit among them), so a change is a
// read-modify-write of our own bits only, and no write at all when the read fails.
void ModifyEfer(uint32_t ownBits, uint32_t newBits) {
    uint32_t high = 0, low = 0;
    if (!ReadMsr(MsrEFER, high, low))
        return;
    WriteMsr(MsrEFER, high, (low & ~ownBits) | (newBits & ownBits));
}

uint32_t ReadEferLow() {
    uint32_t high = 0, low = 0;
    ReadMsr(MsrEFER, high, low);
    return low;
}

} // namespace

void SetL1(bool Enabled) {
    SetL1Cache(Enabled);
}

void GetL1(bool& Enabled) {
    uint32_t cr0 = 0;
    ReadCr0(cr0);
    Enabled = (cr0 & Cr0CacheDisable) == 0;
}

void SetL2(bool, bool L2CacheEnabled) {
    SetL2Cache(L2CacheEnabled);
}

void GetL2(bool&, bool& L2CacheEnabled) {
    L2CacheEnabled = (ReadEferLow() & EferL2Disable) == 0;
}

void SetWriteOrdering(bool, WriteOrderingTp WriteOrderingType) {
    uint32_t bits = 0;
    if (WriteOrderingType == WriteOrderingTp::GEWBED)
        bits = EferGEWBED;
    else if (WriteOrderingType == WriteOrderingTp::SEWBED)
        bits = EferSEWBED;
    ModifyEfer(EferWriteOrdering, bits);
}

void GetWriteOrdering(bool&, WriteOrderingTp& WriteOrderingType) {
    switch (ExtractBits(ReadEferLow(), 2, 3)) {
    case 0:
        WriteOrderingType = WriteOrderingTp::EWBEStrong;
        break;
    case 1:
        WriteOrderingType = WriteOrderingTp::SEWBED;
        break;
    default:
        WriteOrderingType = WriteOrderingTp::GEWBED;
        break;
    }
}

void SetDataPrefetch(bool, bool DataPrefetchEnabled) {
    ModifyEfer(EferDataPrefetch, DataPrefetchEnabled ? EferDataPrefetch : 0);
}

void GetDataPrefetch(bool&, bool& DataPrefetchEnabled) {
    DataPrefetchEnabled = (ReadEferLow() & EferDataPrefetch) != 0;
}
