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

// The low half of EFER; zero when the read fails, which the result says.
bool ReadEferLow(uint32_t& low) {
    uint32_t high = 0;
    low = 0;
    return ReadMsr(MsrEFER, high, low);
}

} // namespace

void SetL1(bool enabled) {
    SetL1Cache(enabled);
}

bool GetL1(bool& enabled) {
    uint32_t cr0 = 0;
    const bool read = ReadCr0(cr0);
    enabled = (cr0 & Cr0CacheDisable) == 0;
    return read;
}

void SetL2(bool, bool l2CacheEnabled) {
    SetL2Cache(l2CacheEnabled);
}

bool GetL2(bool&, bool& l2CacheEnabled) {
    uint32_t low = 0;
    const bool read = ReadEferLow(low);
    l2CacheEnabled = (low & EferL2Disable) == 0;
    return read;
}

void SetWriteOrdering(bool, WriteOrderingTp writeOrderingType) {
    uint32_t bits = 0;
    if (writeOrderingType == WriteOrderingTp::GEWBED)
        bits = EferGEWBED;
    else if (writeOrderingType == WriteOrderingTp::SEWBED)
        bits = EferSEWBED;
    ModifyEfer(EferWriteOrdering, bits);
}

bool GetWriteOrdering(bool&, WriteOrderingTp& writeOrderingType) {
    uint32_t low = 0;
    const bool read = ReadEferLow(low);
    switch (ExtractBits(low, 2, 3)) {
    case 0:
        writeOrderingType = WriteOrderingTp::EWBEStrong;
        break;
    case 1:
        writeOrderingType = WriteOrderingTp::SEWBED;
        break;
    default:
        writeOrderingType = WriteOrderingTp::GEWBED;
        break;
    }
    return read;
}

void SetDataPrefetch(bool, bool dataPrefetchEnabled) {
    ModifyEfer(EferDataPrefetch, dataPrefetchEnabled ? EferDataPrefetch : 0);
}

bool GetDataPrefetch(bool&, bool& dataPrefetchEnabled) {
    uint32_t low = 0;
    const bool read = ReadEferLow(low);
    dataPrefetchEnabled = (low & EferDataPrefetch) != 0;
    return read;
}
