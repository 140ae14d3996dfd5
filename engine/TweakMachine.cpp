// Tweak and the machine: what the driver knows about memory and display windows, which settings
// it would refuse, and the settings suited to the machine. The rules are the kernel driver's own
// (kernel/qrxvxd_rules.h), so the programs refuse exactly what the driver would, before the
// first write rather than halfway through an apply.
#include <algorithm>
#include <cerrno>

#include "common/General.h"
#include "common/Messages.h"
#include "engine/Tweak.h"
#include "kernel/qrxvxd_rules.h"

namespace {

constexpr uint64_t MiB = 1ull << 20;

qrxvxd_machine KernelView(const MachineTp& machine) {
    qrxvxd_machine k{};
    k.ram_top_mb = machine.RamTopMB;
    k.flags = machine.Flags;
    k.window_count = std::min<uint32_t>(machine.WindowCount, 4u);
    for (uint32_t i = 0; i < k.window_count; ++i) {
        k.windows[i].base = machine.Windows[i].Base;
        k.windows[i].size = machine.Windows[i].Size;
    }
    return k;
}

// "4 MB", "128 kB", "1 GB": the unit that divides the size.
std::string SizeText(uint64_t bytes) {
    if (bytes >= (1ull << 30) && bytes % (1ull << 30) == 0)
        return IntToText(static_cast<int32_t>(bytes >> 30)) + " GB";
    if (bytes >= MiB && bytes % MiB == 0)
        return IntToText(static_cast<int32_t>(bytes >> 20)) + " MB";
    return IntToText(static_cast<int32_t>(bytes >> 10)) + " kB";
}

std::string MemoryText(const MachineTp& machine) {
    return IntToText(static_cast<int32_t>(machine.RamTopMB)) + " MB";
}

// The WHCR value SetWAK6 or SetWACXT would write for a limit and the 15-16 MB bit, in the
// layout the record's handler writes.
uint64_t WhcrFields(const qrxvxd_whcr_layout& layout, int32_t limit, bool hole) {
    return (static_cast<uint64_t>(limit / 4) << layout.limit_shift) | (hole ? layout.hole_bit : 0u);
}

void CheckWA(const SettingsTp& s, const qrxvxd_machine& k, const MachineTp& machine,
             std::vector<std::string>& problems) {
    const WATp& wa = s.WA;
    // Off is limit 0 without the hole, which every machine allows; a limit outside the layout's
    // range is refused by the engine itself with its own message.
    if (!wa.WASupported || wa.WAUnread || !wa.WAEnabled || wa.WALimit < 0 ||
        wa.WALimit > wa.WAMaxLimit)
        return;
    qrxvxd_whcr_layout layout{};
    // The K6 layout's model stands for every processor whose handler writes that layout.
    const bool k6 = s.SetWAProc == SetWAK6;
    if (qrxvxd_whcr_layout_of(k6 ? 6 : 13, 0, &layout) != 0)
        return;
    __u64 merged = 0;
    if (qrxvxd_whcr_merge(&k, &layout, 0, WhcrFields(layout, wa.WALimit, false), &merged) != 0)
        problems.push_back("WA limit " + IntToText(wa.WALimit) +
                           " MB is more than the installed memory (" + MemoryText(machine) + ").");
    if (wa.WA1516MB && qrxvxd_whcr_merge(&k, &layout, 0, WhcrFields(layout, 0, true), &merged) != 0)
        problems.push_back("WA 15-16MB: there is no memory from 15 to 16 MB on this machine.");
}

// A range as SetWC writes it: its encoded half, 0 when not in use.
bool WantedHalf(const MTRRTp& range, uint32_t& half) {
    half = 0;
    return !range.Enabled || EncodeRange(range, half);
}

void CheckRange(unsigned index, const MTRRTp& range, uint64_t uwccrNow, const qrxvxd_machine& k,
                const MachineTp& machine, std::vector<std::string>& problems) {
    uint32_t half = 0;
    // An unread range is written back as the register holds it; an unaligned one is refused by
    // the engine with its own message.
    if (range.Unread || !WantedHalf(range, half))
        return;
    const unsigned shift = index ? 32 : 0;
    const uint64_t wanted = (uwccrNow & ~(0xFFFFFFFFull << shift)) | uint64_t{half} << shift;
    const int result = qrxvxd_uwccr_check(&k, uwccrNow, wanted);
    const std::string name = index ? "MTRR1" : "MTRR0";
    if (result == -EBUSY) {
        problems.push_back(name + " was set by the firmware or another driver; it is not "
                                  "Quorix's to change.");
    } else if (result != 0) {
        const uint64_t size = range.SizeBytes ? range.SizeBytes : 1ull << 32;
        problems.push_back(name + ": write combining from " + DWordToHex(range.Start) + " to " +
                           DWordToHex(static_cast<uint32_t>(range.Start + size - 1)) + " (" +
                           SizeText(size) + ") would cover memory (" + MemoryText(machine) +
                           " installed).");
    }
}

// The largest block the processor can express (a size of 128 kB to 4 GB, aligned to itself)
// that lies inside [base, base + size).
bool LargestBlock(uint64_t base, uint64_t size, uint32_t& start, SizeTp& blockSize) {
    for (int i = SizeCount - 1; i >= 0; --i) {
        const uint64_t bytes = 0x20000ull << i;
        const uint64_t aligned = (base + bytes - 1) & ~(bytes - 1);
        if (aligned + bytes <= base + size) {
            start = static_cast<uint32_t>(aligned);
            blockSize = static_cast<SizeTp>(i);
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<std::string> MachineFacts(const MachineTp& machine) {
    const qrxvxd_machine k = KernelView(machine);
    std::vector<std::string> facts;
    facts.push_back("Installed memory: " + MemoryText(machine));
    facts.push_back(std::string("15-16 MB: ") +
                    (k.flags & QRXVXD_HOLE_IS_RAM ? "memory" : "not memory (a hole)"));
    const uint32_t count = std::min<uint32_t>(machine.WindowCount, 4u);
    if (count == 0)
        facts.push_back("Display window: none found");
    for (uint32_t i = 0; i < count; ++i)
        facts.push_back("Display window: " + DWordToHex(machine.Windows[i].Base) + ", " +
                        SizeText(machine.Windows[i].Size));
    if (machine.Flags & QRXVXD_RANGE0_KERNEL)
        facts.push_back("MTRR0: held by another program or the firmware");
    if (machine.Flags & QRXVXD_RANGE1_KERNEL)
        facts.push_back("MTRR1: held by another program or the firmware");
    if (machine.Flags & QRXVXD_CPUFREQ)
        facts.push_back("Multiplier: managed by the kernel's frequency driver");
    return facts;
}

std::vector<std::string> RefusedSettings(const SettingsTp& settings, const MachineTp& machine,
                                         uint64_t uwccrNow) {
    const qrxvxd_machine k = KernelView(machine);
    std::vector<std::string> problems;
    CheckWA(settings, k, machine, problems);
    if (settings.WC.WCSupported) {
        CheckRange(0, settings.WC.MTRR0, uwccrNow, k, machine, problems);
        CheckRange(1, settings.WC.MTRR1, uwccrNow, k, machine, problems);
    }
    return problems;
}

bool CheckSettingsForMachine(const SettingsTp& settings, bool oneMessage) {
    MachineTp machine;
    if (!ReadMachine(machine))
        return true;
    // A range is checked only where it changes, as the driver does: what the register holds
    // now passes, whoever put it there.
    uint32_t high = 0, low = 0;
    if (settings.WC.WCSupported)
        ReadMsr(MsrUWCCR, high, low);
    const std::vector<std::string> problems =
        RefusedSettings(settings, machine, uint64_t{high} << 32 | low);
    if (problems.empty())
        return true;
    if (oneMessage) {
        std::string text = "Nothing was applied. The driver refuses these settings on this "
                           "machine:";
        for (const std::string& problem : problems)
            text += "\r\n" + problem;
        ShowError(text);
    } else {
        for (const std::string& problem : problems)
            ShowError(problem);
    }
    return false;
}

SuggestionTp SuggestSettings(const MachineTp& machine, SettingsTp& settings) {
    SuggestionTp done;
    const qrxvxd_machine k = KernelView(machine);
    WATp& wa = settings.WA;
    const int32_t installed = static_cast<int32_t>(std::min<uint32_t>(machine.RamTopMB, 1u << 30));
    const int32_t limit = std::min(installed / 4 * 4, wa.WAMaxLimit);
    if (wa.WASupported && limit > 0) {
        wa.WAEnabled = true;
        wa.WALimit = limit;
        // The bit only matters where the limit takes 15-16 MB in.
        wa.WA1516MB = limit >= 16 && (k.flags & QRXVXD_HOLE_IS_RAM);
        wa.WAUnread = false;
        done.WA = true;
    }
    const DisplayWindowTp* largest = nullptr;
    for (uint32_t i = 0; i < k.window_count; ++i)
        if (!largest || machine.Windows[i].Size > largest->Size)
            largest = &machine.Windows[i];
    uint32_t start = 0;
    SizeTp size = SizeTp::_128kB;
    if (!settings.WC.WCSupported || (machine.Flags & QRXVXD_RANGE0_KERNEL) || !largest ||
        !LargestBlock(largest->Base, largest->Size, start, size))
        return done;
    MTRRTp range;
    range.Enabled = true;
    range.Start = start;
    range.Size = size;
    range.SizeBytes = SizeToBytes(size);
    range.MemoryType = MemoryTypeTp::WriteCombined;
    uint32_t half = 0;
    // A window the firmware put over memory is no place for write combining either.
    if (!EncodeRange(range, half) || qrxvxd_range_check(&k, half) != 0)
        return done;
    settings.WC.MTRR0 = range;
    done.Range0 = true;
    return done;
}
