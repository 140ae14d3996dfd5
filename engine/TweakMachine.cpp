// Tweak and the machine: what the driver knows about memory and display windows, which settings
// it would refuse, and the settings suited to the machine. The rules are the kernel driver's own
// (kernel/qrxvxd_rules.h), so the programs refuse exactly what the driver would, before the
// first write rather than halfway through an apply.
#include <algorithm>

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
    k.window_count = std::min<uint32_t>(machine.WindowCount, QRXVXD_MAX_WINDOWS);
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

// The register layout the record's write-allocation handler writes.
int K6Layout(const SettingsTp& settings) {
    return settings.SetWAProc == SetWAK6 ? 1 : 0;
}

// The WHCR fields SetWAK6 or SetWACXT would write for a limit and the 15-16 MB bit.
uint64_t WhcrFields(int k6Layout, int32_t limit, bool hole) {
    const uint64_t units = static_cast<uint64_t>(limit / 4);
    if (k6Layout)
        return units << 1 | (hole ? 0x1u : 0u);
    return units << 22 | (hole ? 0x10000u : 0u);
}

void CheckWA(const SettingsTp& s, const qrxvxd_machine& k, const MachineTp& machine,
             std::vector<std::string>& problems) {
    const WATp& wa = s.WA;
    // Off is limit 0 without the hole, which every machine allows; a limit outside the layout's
    // range is refused by the engine itself with its own message.
    if (!wa.WASupported || wa.WAUnread || !wa.WAEnabled || wa.WALimit < 0 ||
        wa.WALimit > wa.WAMaxLimit)
        return;
    const int layout = K6Layout(s);
    if (qrxvxd_check_whcr(&k, layout, WhcrFields(layout, wa.WALimit, false)) != 0)
        problems.push_back("WA limit " + IntToText(wa.WALimit) +
                           " MB is more than the installed memory (" + MemoryText(machine) + ").");
    if (wa.WA1516MB && qrxvxd_check_whcr(&k, layout, WhcrFields(layout, 0, true)) != 0)
        problems.push_back("WA 15-16MB: there is no memory from 15 to 16 MB on this machine.");
}

void CheckRange(const char* name, const MTRRTp& range, const qrxvxd_machine& k,
                const MachineTp& machine, std::vector<std::string>& problems) {
    uint32_t half = 0;
    // An unaligned range is refused by the engine with its own message.
    if (range.Unread || !range.Enabled || !EncodeRange(range, half))
        return;
    if (qrxvxd_check_range(&k, half) == 0)
        return;
    const uint64_t size = range.SizeBytes ? range.SizeBytes : 1ull << 32;
    problems.push_back(std::string(name) + ": write combining from " + DWordToHex(range.Start) +
                       " to " + DWordToHex(static_cast<uint32_t>(range.Start + size - 1)) + " (" +
                       SizeText(size) + ") would cover memory (" + MemoryText(machine) +
                       " installed).");
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
                    (qrxvxd_hole_is_ram(&k) ? "memory" : "not memory (a hole)"));
    const uint32_t count = std::min<uint32_t>(machine.WindowCount, QRXVXD_MAX_WINDOWS);
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

std::vector<std::string> RefusedSettings(const SettingsTp& settings, const MachineTp& machine) {
    const qrxvxd_machine k = KernelView(machine);
    std::vector<std::string> problems;
    CheckWA(settings, k, machine, problems);
    if (settings.WC.WCSupported) {
        CheckRange("MTRR0", settings.WC.MTRR0, k, machine, problems);
        CheckRange("MTRR1", settings.WC.MTRR1, k, machine, problems);
    }
    return problems;
}

bool CheckSettingsForMachine(const SettingsTp& settings, bool oneMessage) {
    MachineTp machine;
    if (!ReadMachine(machine))
        return true;
    const std::vector<std::string> problems = RefusedSettings(settings, machine);
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
        wa.WA1516MB = limit >= 16 && qrxvxd_hole_is_ram(&k);
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
    if (!EncodeRange(range, half) || qrxvxd_check_range(&k, half) != 0)
        return done;
    settings.WC.MTRR0 = range;
    done.Range0 = true;
    return done;
}
