// Refusal: the kernel driver's refusals in the user's words. The rules are the driver's own
// (kernel/qrxvxd_rules.h), so the cause named here is the one the driver found.
#include "vxd/Refusal.h"

#include <cerrno>
#include <cstdio>

#include "kernel/qrxvxd_rules.h"

namespace {

std::string Hex(uint64_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

// A size as the console's parameters write it: 640 KB, 4 MB, 4 GB.
std::string Size(uint64_t bytes) {
    static const char* const units[] = {"bytes", "KB", "MB", "GB"};
    int unit = 0;
    while (unit < 3 && bytes >= 1024 && bytes % 1024 == 0) {
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + units[unit];
}

std::string Memory(const qrxvxd_machine& m) {
    return "this machine has " + std::to_string(m.ram_top_mb) + " MB of memory" +
           ((m.flags & QRXVXD_HOLE_IS_RAM) ? "" : ", without 15-16 MB");
}

// The largest display window, where write combining belongs.
std::string DisplayHint(const qrxvxd_machine& m) {
    uint32_t best = 0;
    for (uint32_t i = 0; i < m.window_count && i < 4; ++i)
        if (m.windows[i].size > m.windows[best].size)
            best = i;
    if (m.window_count == 0)
        return "";
    return "; the display adapter's memory is at " + Hex(m.windows[best].base, 8) + " (" +
           Size(m.windows[best].size) + ")";
}

std::string WriteAllocation(uint64_t wanted, const RefusalFacts& facts) {
    qrxvxd_whcr_layout layout{};
    if (!facts.machineKnown || qrxvxd_whcr_layout_of(facts.model, facts.stepping, &layout) != 0)
        return "write allocation refused: unsafe for this machine's memory";
    const uint32_t limit = qrxvxd_whcr_limit_mb(&layout, wanted);
    if (limit > facts.machine.ram_top_mb)
        return "write allocation up to " + std::to_string(limit) +
               " MB refused: " + Memory(facts.machine) + "; set the limit to " +
               std::to_string(facts.machine.ram_top_mb / 4 * 4) + " MB or less";
    return "write allocation over 15-16 MB refused: 15-16 MB is no memory on this machine (a "
           "hole for ISA cards); leave that range out";
}

std::string Range(uint32_t half, unsigned range) {
    __u64 first = 0, last = 0;
    qrxvxd_range_span(half, &first, &last);
    const uint64_t size = last - first + 1;
    // A mask with gaps matches pieces, not one block: it is shown as it stands.
    const std::string extent =
        (size & (size - 1)) == 0 ? Size(size) : "mask " + Hex(((half >> 2) & 0x7FFFu) << 17, 8);
    return "range " + std::to_string(range) + " at " + Hex(first, 8) + " (" + extent + ", " +
           ((half & QRXVXD_RANGE_WRCOMB) ? "write-combined" : "uncached") + ")";
}

std::string Ranges(uint64_t wanted, int error, const RefusalFacts& facts) {
    for (unsigned range = 0; range < 2; ++range) {
        const uint32_t half = qrxvxd_uwccr_half(wanted, range);
        if (half == qrxvxd_uwccr_half(facts.registerValue, range))
            continue;
        if (error == EBUSY)
            return Range(half, range) +
                   " refused: the kernel holds a memory range there, set by the firmware or a "
                   "graphics driver (see /proc/mtrr); Quorix leaves it alone";
        if (error == EINVAL)
            return Range(half, range) +
                   " refused: the kernel's MTRR layer takes only a size that is a power of two, "
                   "at a base aligned to it";
        if (facts.machineKnown && qrxvxd_range_check(&facts.machine, half) != 0)
            return Range(half, range) + " refused: write combining over memory corrupts it; " +
                   Memory(facts.machine) + DisplayHint(facts.machine);
    }
    return "";
}

} // namespace

std::string DescribeRefusal(uint32_t code, const uint32_t* in, int error,
                            const RefusalFacts& facts) {
    const bool changes = code == QRXVXD_WRITE_MSR || code == QRXVXD_SET_L1_CACHE ||
                         code == QRXVXD_SET_L2_CACHE || code == QRXVXD_PORT_OUTPUT;
    if (changes && error == EPERM && facts.lockedDown)
        return "the kernel is locked down: it takes no processor register changes (see "
               "/sys/kernel/security/lockdown)";
    if (changes && error == EBADF)
        return "/dev/qrxvxd is open for reading only: changes need it open for writing";
    if (code == QRXVXD_PORT_OUTPUT && error == EBUSY)
        return "the multiplier is managed by the cpufreq driver " +
               (facts.cpufreqDriver.empty() ? std::string("of the kernel") : facts.cpufreqDriver) +
               ": change it with cpupower frequency-set, or unload that driver first";
    if (code == QRXVXD_PORT_OUTPUT && error == EPERM)
        return "output to port " + Hex(in[0], 4) + " refused: only the multiplier port " +
               Hex(QRXVXD_PM_PORT, 4) + " is Quorix's";
    if (code != QRXVXD_WRITE_MSR)
        return "";
    const uint64_t wanted = (static_cast<uint64_t>(in[1]) << 32) | in[2];
    if (in[0] == QRXVXD_MSR_WHCR && error == ERANGE)
        return WriteAllocation(wanted, facts);
    if (in[0] == QRXVXD_MSR_UWCCR && (error == ERANGE || error == EBUSY || error == EINVAL))
        return Ranges(wanted, error, facts);
    if (in[0] == QRXVXD_MSR_EPMR && error == EPERM)
        return "the power-management block at " + Hex(wanted & QRXVXD_EPMR_BASE_MASK, 4) +
               " refused: it may lie only at " + Hex(QRXVXD_PM_BASE, 4) +
               ", where no other device's ports are";
    if (error == EPERM)
        return "register " + Hex(in[0], 8) + " refused: it is not Quorix's to change";
    return "";
}
