// Tweak memory-type ranges: the range-size vocabulary and the two ranges of UWCCR, MTRR0 in
// the low half and MTRR1 in the high half.
#include "engine/Tweak.h"

#include "common/General.h"
#include "common/Messages.h"
#include "driver/wintweak.h"

namespace {

const char* const SizeNames[SizeCount] = {
    "_128kB", "_256kB", "_512kB", "_1MB",   "_2MB",   "_4MB", "_8MB", "_16MB",
    "_32MB",  "_64MB",  "_128MB", "_256MB", "_512MB", "_1GB", "_2GB", "_4GB",
};

constexpr uint32_t UncachedBit = 0x1;
constexpr uint32_t WriteCombinedBit = 0x2;
constexpr uint32_t StartBits = 0xFFFE0000; // start address bits 31..17
constexpr uint32_t MaskBits = 0x0001FFFC;  // the 15-bit size mask in bits 16..2

bool InRange(SizeTp size) {
    return static_cast<unsigned>(size) < SizeCount;
}

} // namespace

uint32_t SizeToBytes(SizeTp size) {
    const unsigned index = static_cast<unsigned>(size);
    // 4 GB does not fit in 32 bits and is written as 0.
    if (index >= SizeCount - 1)
        return 0;
    return 0x20000u << index;
}

bool SizeFromName(const std::string& text, SizeTp& size) {
    for (int i = 0; i < SizeCount; ++i) {
        if (text == SizeNames[i]) {
            size = static_cast<SizeTp>(i);
            return true;
        }
    }
    return false;
}

std::string SizeToName(SizeTp size) {
    return InRange(size) ? SizeNames[static_cast<unsigned>(size)] : "unknown";
}

uint32_t SizeToMask(SizeTp size) {
    const unsigned index = static_cast<unsigned>(size);
    if (index >= SizeCount)
        return 0;
    return (0x7FFFu << index) & 0x7FFF;
}

bool MaskToSize(uint32_t mask, SizeTp& size, uint32_t& sizeBytes) {
    for (int i = 0; i < SizeCount; ++i) {
        const SizeTp candidate = static_cast<SizeTp>(i);
        if (SizeToMask(candidate) == mask) {
            size = candidate;
            sizeBytes = SizeToBytes(candidate);
            return true;
        }
    }
    return false;
}

void DecodeRange(uint32_t half, MTRRTp& r) {
    r.Enabled = half != 0;
    r.Start = half & StartBits;
    if (half & UncachedBit)
        r.MemoryType = MemoryTypeTp::Uncached;
    else if (half & WriteCombinedBit)
        r.MemoryType = MemoryTypeTp::WriteCombined;
    else
        r.MemoryType = MemoryTypeTp::NoEffect;
    const uint32_t mask = (half & MaskBits) >> 2;
    if (!MaskToSize(mask, r.Size, r.SizeBytes)) {
        ShowError("Invalid size mask in MTRR: " + DWordToHex(half));
        r.Start = 0;
        r.SizeBytes = 0;
        r.MemoryType = MemoryTypeTp::NoEffect;
    }
}

bool EncodeRange(const MTRRTp& r, uint32_t& half) {
    // A range must start on a multiple of its own size; 4 GB (SizeBytes 0) only at 0.
    if (((r.SizeBytes - 1) & r.Start) != 0)
        return false;
    uint32_t value = 0;
    switch (r.MemoryType) {
    case MemoryTypeTp::Uncached:
        value = UncachedBit;
        break;
    case MemoryTypeTp::WriteCombined:
        value = WriteCombinedBit;
        break;
    default:
        // NoEffect, and any out-of-range value: no type bit rather than a corrupted start.
        break;
    }
    value |= r.Start & StartBits;
    value |= SizeToMask(r.Size) << 2;
    half = value;
    return true;
}

void SetWC(WCTp wc) {
    if (wc.MTRR0.Unread && wc.MTRR1.Unread)
        return;
    // A range not in use is written as an all-zero half.
    for (MTRRTp* range : {&wc.MTRR0, &wc.MTRR1}) {
        if (!range->Enabled) {
            range->Start = 0;
            range->SizeBytes = 0;
            range->Size = SizeTp::_4GB;
            range->MemoryType = MemoryTypeTp::NoEffect;
        }
    }
    // An unread range has no value of its own to encode (or to refuse).
    uint32_t low = 0, high = 0;
    const bool range0 = wc.MTRR0.Unread || EncodeRange(wc.MTRR0, low);
    if (!range0)
        ShowError("The base address of MTRR0 must be range-size aligned.");
    const bool range1 = wc.MTRR1.Unread || EncodeRange(wc.MTRR1, high);
    if (!range1)
        ShowError("The base address of MTRR1 must be range-size aligned.");
    // Both ranges share the register, so it is written whole or not at all. The half of an
    // unread range is written back as the register holds it now; without that read the write
    // would erase the range.
    if (!range0 || !range1)
        return;
    if (wc.MTRR0.Unread || wc.MTRR1.Unread) {
        uint32_t nowHigh = 0, nowLow = 0;
        if (!ReadMsr(MsrUWCCR, nowHigh, nowLow))
            return;
        if (wc.MTRR0.Unread)
            low = nowLow;
        else
            high = nowHigh;
    }
    WriteMsr(MsrUWCCR, high, low);
}

bool GetWC(WCTp& wc) {
    uint32_t high = 0, low = 0;
    const bool read = ReadMsr(MsrUWCCR, high, low);
    DecodeRange(high, wc.MTRR1);
    DecodeRange(low, wc.MTRR0);
    return read;
}
