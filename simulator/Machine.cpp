// Machine: presets, per-model registers, reset values and the requests of the simulated K6.
#include "simulator/Machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kernel/qrxvxd_rules.h"
#include "simulator/SimText.h"

namespace {

// Feature flags of CPUID 1 EDX: FPU, VME, DE, PSE, TSC, MSR, MCE, CX8 and MMX on every K6;
// the K6-2 and later add the global-page bit. The desktop parts of the other vendors differ.
constexpr uint32_t K6Features = 0x008001BFu;
constexpr uint32_t K62Features = 0x008021BFu;
constexpr uint32_t AthlonFeatures = 0x0183F9FFu;
constexpr uint32_t PentiumIIIFeatures = 0x0383FBFFu;
constexpr uint32_t TscFeature = 1u << 4;
constexpr uint32_t Amd3DNow = 1u << 31;

// PSOR's boot multiplier code matches each processor's clock: the 450 MHz K6-2 CXT and K6-III
// run their 100 MHz bus at 4.5 (code 0); the model 13 parts boot at 5.0 (code 1), the K6-2+ at
// 5.5 (code 3).
const std::vector<SimPreset> Presets = {
    {"k6",
     {"AuthenticAMD", 5, 6, 2, 1, true},
     233,
     1,
     "AMD-K6tm w/ multimedia extensions",
     "AMD-K6 (model 6), 233 MHz"},
    {"k6-7",
     {"AuthenticAMD", 5, 7, 0, 1, true},
     300,
     1,
     "AMD-K6tm w/ multimedia extensions",
     "AMD-K6 (model 7), 300 MHz"},
    {"k6-2",
     {"AuthenticAMD", 5, 8, 0, 1, true},
     350,
     1,
     "AMD-K6(tm) 3D processor",
     "AMD-K6-2 without the CXT core, 350 MHz"},
    {"k6-2-cxt",
     {"AuthenticAMD", 5, 8, 12, 1, true},
     450,
     0,
     "AMD-K6(tm) 3D processor",
     "AMD-K6-2 with the CXT core, 450 MHz"},
    {"k6-3",
     {"AuthenticAMD", 5, 9, 1, 1, true},
     450,
     0,
     "AMD-K6(tm) 3D+ Processor",
     "AMD-K6-III, 450 MHz"},
    {"k6-3+",
     {"AuthenticAMD", 5, 13, 0, 1, true},
     0,
     1,
     "AMD-K6(tm)-III Processor",
     "AMD-K6-III+, 100 MHz bus x 5.0"},
    {"k6-2+",
     {"AuthenticAMD", 5, 13, 4, 1, true},
     0,
     3,
     "AMD-K6(tm)-2 Processor",
     "AMD-K6-2+, 100 MHz bus x 5.5"},
    {"k6-d9",
     {"AuthenticAMD", 5, 13, 9, 1, true},
     0,
     1,
     nullptr,
     "family 5 model 13 stepping 9 (no name), 100 MHz bus x 5.0"},
    {"amd-5-10",
     {"AuthenticAMD", 5, 10, 0, 1, true},
     1000,
     1,
     nullptr,
     "AMD family 5 model 10 (not a K6), 1000 MHz"},
    {"athlon",
     {"AuthenticAMD", 6, 4, 2, 1, true},
     1000,
     1,
     "AMD Athlon(tm) Processor",
     "AMD Athlon (family 6), 1000 MHz"},
    {"intel",
     {"GenuineIntel", 6, 8, 3, 2, true},
     1000,
     1,
     "Intel(R) Pentium(R) III CPU",
     "Intel Pentium III, 1000 MHz"},
    {"amd-leaf0",
     {"AuthenticAMD", 5, 13, 0, 0, true},
     0,
     1,
     nullptr,
     "AMD whose highest standard leaf is 0 (leaf 1 would name a K6-III+)"},
};

uint32_t Get32(const void* buffer, size_t offset) {
    const unsigned char* b = static_cast<const unsigned char*>(buffer) + offset;
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void Put32(unsigned char* buffer, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        buffer[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

struct BufferSizes {
    uint32_t in, out;
};

BufferSizes SizesOf(uint32_t code) {
    switch (code) {
    case SimReadMsr:
        return {4, 8};
    case SimWriteMsr:
        return {12, 0};
    case SimMeasureClock:
        return {4, 8};
    case SimReadCr0:
        return {0, 4};
    case SimReadMachine:
        return {0, SimMachineAnswerSize};
    default:
        return {4, 0}; // the two cache switches
    }
}

bool IsCxtOrLater(const SimIdentity& id) {
    return IsAmd(id) && id.family == 5 && ((id.model == 8 && id.stepping >= 8) || id.model >= 9);
}

SimOutcome Fail(std::string line) {
    return {false, false, line + " -> FAIL"};
}

// What the kernel driver refuses, the machine with a memory map refuses the same way.
SimOutcome Refuse(std::string line) {
    return {false, false, line + " -> REFUSED"};
}

qrxvxd_machine KernelView(const SimMemoryMap& map) {
    qrxvxd_machine k{};
    k.ram_top_mb = map.ramMb;
    k.flags = map.holeIsRam ? QRXVXD_HOLE_IS_RAM : 0u;
    k.window_count = static_cast<uint32_t>(std::min(map.windows.size(), MaxDisplayWindows));
    for (uint32_t i = 0; i < k.window_count; ++i) {
        k.windows[i].base = map.windows[i].base;
        k.windows[i].size = map.windows[i].size;
    }
    return k;
}

// A write as the kernel driver would carry it out: refused (false), or the value it stores
// (bits that are not the caller's keep their current value).
bool KernelWrite(const SimMachine& m, uint32_t index, uint64_t old, uint64_t& value) {
    const qrxvxd_machine k = KernelView(m.memory);
    switch (index) {
    case MsrEfer:
        value = qrxvxd_efer_merge(old, value);
        return true;
    case MsrWhcr: {
        qrxvxd_whcr_layout layout{};
        __u64 merged = 0;
        if (qrxvxd_whcr_layout_of(m.id.model, m.id.stepping, &layout) != 0 ||
            qrxvxd_whcr_merge(&k, &layout, old, value, &merged) != 0)
            return false;
        value = merged;
        return true;
    }
    case MsrUwccr:
        return qrxvxd_uwccr_check(&k, old, value) == 0;
    case MsrEpmr: {
        __u64 merged = 0;
        if (qrxvxd_epmr_merge(old, value, &merged) != 0)
            return false;
        value = merged;
        return true;
    }
    default:
        return true;
    }
}

// A cache switch carries exactly 1 (on) or 0 (off); anything else is a caller's fault that the
// real driver would have no sensible meaning for.
bool SwitchValue(uint32_t raw, bool& on) {
    if (raw > 1)
        return false;
    on = raw == 1;
    return true;
}

} // namespace

bool operator==(const SimIdentity& a, const SimIdentity& b) {
    return a.vendor == b.vendor && a.family == b.family && a.model == b.model &&
           a.stepping == b.stepping && a.maxLeaf == b.maxLeaf && a.tsc == b.tsc;
}

std::ostream& operator<<(std::ostream& out, const SimIdentity& id) {
    return out << id.vendor << ' ' << id.family << '/' << id.model << '/' << id.stepping
               << " maxleaf " << id.maxLeaf << " tsc " << id.tsc;
}

bool operator==(const SimWindow& a, const SimWindow& b) {
    return a.base == b.base && a.size == b.size;
}

bool operator==(const SimMemoryMap& a, const SimMemoryMap& b) {
    return a.present == b.present && a.ramMb == b.ramMb && a.holeIsRam == b.holeIsRam &&
           a.windows == b.windows;
}

bool operator==(const SimMachine& a, const SimMachine& b) {
    return a.preset == b.preset && a.id == b.id && a.busMhz == b.busMhz && a.cr0 == b.cr0 &&
           a.msrs == b.msrs && a.port == b.port && a.failing == b.failing && a.memory == b.memory;
}

std::ostream& operator<<(std::ostream& out, const SimMachine& m) {
    out << "{" << m.preset << ", " << m.id << ", bus " << m.busMhz << ", cr0 " << Hex8(m.cr0)
        << ", port " << Hex8(m.port) << ", msrs";
    for (const auto& [index, value] : m.msrs)
        out << ' ' << Hex8(index) << '=' << Hex16(value);
    out << ", failing";
    for (uint32_t code : m.failing)
        out << ' ' << code;
    if (m.memory.present)
        out << ", memory " << DescribeMemoryMap(m.memory);
    return out << "}";
}

const std::vector<SimPreset>& SimPresets() {
    return Presets;
}

const SimPreset* FindPreset(const std::string& name) {
    for (const SimPreset& p : Presets)
        if (name == p.name)
            return &p;
    return nullptr;
}

const char* RequestName(uint32_t code) {
    switch (code) {
    case SimReadMsr:
        return "ReadMsr";
    case SimWriteMsr:
        return "WriteMsr";
    case SimMeasureClock:
        return "MeasureClock";
    case SimReadCr0:
        return "ReadCr0";
    case SimSetL1Cache:
        return "SetL1Cache";
    case SimSetL2Cache:
        return "SetL2Cache";
    case SimReadMachine:
        return "ReadMachine";
    default:
        return nullptr;
    }
}

bool IsAmd(const SimIdentity& id) {
    return id.vendor == "AuthenticAMD";
}

bool IsCxtCore(const SimIdentity& id) {
    return IsAmd(id) && id.family == 5 &&
           ((id.model == 8 && id.stepping >= 8) || id.model == 9 || id.model == 13);
}

bool HasMsr(const SimIdentity& id, uint32_t index) {
    if (!IsAmd(id) || id.family != 5 || id.model < 6 || id.model > 13)
        return false;
    switch (index) {
    case MsrEfer:
    case MsrWhcr:
        return true;
    case MsrUwccr:
    case MsrPsor:
        return IsCxtCore(id);
    case MsrEpmr:
        return id.model == 13;
    default:
        return false;
    }
}

std::vector<uint32_t> MsrsOf(const SimIdentity& id) {
    std::vector<uint32_t> result;
    for (uint32_t index : {MsrEfer, MsrWhcr, MsrUwccr, MsrEpmr, MsrPsor})
        if (HasMsr(id, index))
            result.push_back(index);
    return result;
}

bool UsesK6WhcrLayout(const SimIdentity& id) {
    return id.model == 6 || id.model == 7 || (id.model == 8 && id.stepping < 8);
}

namespace {

SimMachine Reset(const std::string& preset, const SimIdentity& id, uint32_t bootCode) {
    SimMachine m;
    m.preset = preset;
    m.id = id;
    for (uint32_t index : MsrsOf(id)) {
        uint64_t value = 0;
        if (index == MsrEfer && IsCxtOrLater(id))
            value = 2;
        if (index == MsrPsor)
            value = (bootCode & 7u) | (id.stepping & 0xFu) << 4 | (id.model == 8 ? 1u << 8 : 0u);
        m.msrs[index] = value;
    }
    return m;
}

} // namespace

SimMachine ResetMachine(const SimPreset& preset) {
    return Reset(preset.name, preset.id, preset.bootCode);
}

SimMachine ResetCustom(const SimIdentity& id) {
    return Reset(CustomPreset, id, 1);
}

uint32_t MultiplierTenths(uint32_t code) {
    static const uint32_t Tenths[8] = {45, 50, 40, 55, 20, 30, 60, 35};
    return Tenths[code & 7u];
}

uint32_t FixedMhz(const SimMachine& m) {
    if (m.id.model == 13 && HasMsr(m.id, MsrPsor))
        return 0;
    const SimPreset* p = FindPreset(m.preset);
    return p && p->fixedMhz ? p->fixedMhz : 1000;
}

uint64_t CoreKHz(const SimMachine& m) {
    const uint32_t fixed = FixedMhz(m);
    if (fixed)
        return uint64_t{fixed} * 1000;
    const auto psor = m.msrs.find(MsrPsor);
    const uint32_t code = psor == m.msrs.end() ? 1 : static_cast<uint32_t>(psor->second) & 7u;
    return uint64_t{m.busMhz} * 100 * MultiplierTenths(code);
}

bool GetMsr(const SimMachine& m, uint32_t index, uint64_t& value) {
    const auto it = m.msrs.find(index);
    if (it == m.msrs.end())
        return false;
    value = it->second;
    return true;
}

bool SetMsr(SimMachine& m, uint32_t index, uint64_t value) {
    const auto it = m.msrs.find(index);
    if (it == m.msrs.end())
        return false;
    it->second = value;
    return true;
}

SimOutcome SimControl(SimMachine& m, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned) {
    const char* name = RequestName(code);
    if (!name)
        return Fail("Request " + Hex8(code));
    const BufferSizes need = SizesOf(code);
    std::string line = name;
    if (need.in && (!in || inSize < need.in))
        return Fail(line);
    // The log shows what the caller sent even when the request then fails.
    switch (code) {
    case SimReadMsr:
    case SimMeasureClock:
        line += " " + Hex8(Get32(in, 0));
        break;
    case SimWriteMsr:
        line += " " + Hex8(Get32(in, 0)) + " " + Hex8(Get32(in, 4)) + " " + Hex8(Get32(in, 8));
        break;
    case SimSetL1Cache:
    case SimSetL2Cache:
        line += " " + HexShort(Get32(in, 0));
        break;
    default:
        break;
    }
    if (need.out && (!out || outSize < need.out))
        return Fail(line);
    // Without a map the request fails as it always did, and unlogged, so a program that asks
    // leaves the log exactly as before the machine could answer.
    if (code == SimReadMachine && !m.memory.present)
        return {false, false, ""};
    if (m.failing.count(code))
        return Fail(line);

    unsigned char result[SimMachineAnswerSize] = {};
    bool changed = false;
    switch (code) {
    case SimReadMsr: {
        uint64_t value = 0;
        if (!GetMsr(m, Get32(in, 0), value))
            return Fail(line);
        Put32(result, 0, static_cast<uint32_t>(value >> 32));
        Put32(result, 4, static_cast<uint32_t>(value));
        line += " -> " + Hex8(static_cast<uint32_t>(value >> 32)) + " " +
                Hex8(static_cast<uint32_t>(value));
        break;
    }
    case SimWriteMsr: {
        const uint32_t index = Get32(in, 0);
        const uint64_t value = uint64_t{Get32(in, 4)} << 32 | Get32(in, 8);
        uint64_t old = 0;
        // PSOR only observes the processor; EFER defines nothing above bit 4 on this family,
        // and the hardware answers both with a protection fault.
        if (!GetMsr(m, index, old) || index == MsrPsor)
            return Fail(line);
        uint64_t stored = value;
        if (m.memory.present) {
            if (!KernelWrite(m, index, old, stored))
                return Refuse(line);
        } else if (index == MsrEfer && (value >> 5)) {
            return Fail(line);
        }
        SetMsr(m, index, stored);
        changed = old != stored;
        break;
    }
    case SimReadMachine: {
        const qrxvxd_machine k = KernelView(m.memory);
        const uint32_t words[12] = {k.ram_top_mb,      k.flags,           k.window_count,
                                    k.reserved,        k.windows[0].base, k.windows[0].size,
                                    k.windows[1].base, k.windows[1].size, k.windows[2].base,
                                    k.windows[2].size, k.windows[3].base, k.windows[3].size};
        // The log keeps short lines: memory, flags and the window count (qrxsim memory shows
        // the windows).
        line += " -> " + Hex8(k.ram_top_mb) + " " + Hex8(k.flags) + " " + Hex8(k.window_count);
        for (size_t i = 0; i < 12; ++i)
            Put32(result, 4 * i, words[i]);
        break;
    }
    case SimMeasureClock: {
        const uint32_t interval = Get32(in, 0);
        const uint64_t cycles = CoreKHz(m) * interval;
        // A count that does not fit the 32-bit answer would be reported wrong. A machine whose
        // CPUID denies the time-stamp counter still answers: the programs ask only where CPUID
        // shows it, and the answer stays the same plain rule for every machine.
        if (cycles > 0xFFFFFFFFu)
            return Fail(line);
        Put32(result, 0, interval);
        Put32(result, 4, static_cast<uint32_t>(cycles));
        line += " -> " + Hex8(interval) + " " + Hex8(static_cast<uint32_t>(cycles));
        break;
    }
    case SimReadCr0:
        Put32(result, 0, m.cr0);
        line += " -> " + Hex8(m.cr0);
        break;
    case SimSetL1Cache: {
        bool on = false;
        if (!SwitchValue(Get32(in, 0), on))
            return Fail(line);
        const uint32_t old = m.cr0;
        m.cr0 = on ? m.cr0 & ~Cr0CacheDisable : m.cr0 | Cr0CacheDisable;
        changed = old != m.cr0;
        break;
    }
    case SimSetL2Cache: {
        bool on = false;
        uint64_t efer = 0;
        if (!SwitchValue(Get32(in, 0), on) || !GetMsr(m, MsrEfer, efer))
            return Fail(line);
        const uint64_t updated = on ? efer & ~uint64_t{EferL2Disable} : efer | EferL2Disable;
        SetMsr(m, MsrEfer, updated);
        changed = updated != efer;
        break;
    }
    }
    if (need.out)
        std::memcpy(out, result, need.out);
    if (bytesReturned)
        *bytesReturned = need.out;
    return {true, changed, line};
}

SimOutcome SimCpuid(const SimMachine& m, uint32_t leaf, uint32_t regs[4]) {
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    const SimIdentity& id = m.id;
    const uint32_t signature =
        (id.family & 0xFu) << 8 | (id.model & 0xFu) << 4 | (id.stepping & 0xFu);
    const SimPreset* preset = FindPreset(m.preset);
    const char* brand = preset ? preset->brand : nullptr;
    uint32_t vendor[3] = {};
    std::memcpy(vendor, id.vendor.data(), std::min<size_t>(id.vendor.size(), 12));
    uint32_t features = K6Features;
    if (IsAmd(id) && id.family == 5 && id.model >= 8)
        features = K62Features;
    else if (IsAmd(id) && id.family == 6)
        features = AthlonFeatures;
    else if (id.vendor == "GenuineIntel" && id.family == 6)
        features = PentiumIIIFeatures;
    features = id.tsc ? features | TscFeature : features & ~TscFeature;

    if (leaf == 0) {
        eax = id.maxLeaf;
        ebx = vendor[0];
        edx = vendor[1];
        ecx = vendor[2];
    } else if (leaf == 1) {
        // Answered whatever the highest leaf says: identification reads it on every processor.
        eax = signature;
        edx = features;
    } else if (brand && leaf >= 0x80000000u && leaf <= 0x80000004u) {
        if (leaf == 0x80000000u) {
            eax = 0x80000004u;
            if (IsAmd(id)) {
                ebx = vendor[0];
                edx = vendor[1];
                ecx = vendor[2];
            }
        } else if (leaf == 0x80000001u) {
            if (IsAmd(id)) {
                eax = signature;
                edx = features | (id.family == 5 && id.model >= 8 ? Amd3DNow : 0u);
            }
        } else {
            char text[48] = {};
            std::strncpy(text, brand, sizeof text - 1);
            uint32_t words[12];
            std::memcpy(words, text, sizeof words);
            const uint32_t* w = words + 4 * (leaf - 0x80000002u);
            eax = w[0];
            ebx = w[1];
            ecx = w[2];
            edx = w[3];
        }
    }
    regs[0] = eax;
    regs[1] = ebx;
    regs[2] = ecx;
    regs[3] = edx;
    return {true, false,
            "Cpuid " + Hex8(leaf) + " -> " + Hex8(eax) + " " + Hex8(ebx) + " " + Hex8(ecx) + " " +
                Hex8(edx)};
}

SimOutcome SimOutPort(SimMachine& m, uint16_t port, uint32_t value) {
    SimOutcome outcome{true, false, "Out " + Hex4(port) + " " + Hex8(value)};
    uint64_t epmr = 0;
    if (!GetMsr(m, MsrEpmr, epmr) || !(epmr & 1u))
        return outcome;
    const uint32_t base = static_cast<uint32_t>(epmr) & 0xFFF0u;
    if (port != base + 8)
        return outcome;
    const SimMachine before = m;
    m.port = value;
    uint64_t psor = 0;
    // The block takes a new multiplier only from a value that carries the request bit (9) and
    // a non-zero upper field; anything else is just stored.
    if ((value >> 12) != 0 && (value & (1u << 9)) && GetMsr(m, MsrPsor, psor))
        SetMsr(m, MsrPsor, (psor & ~uint64_t{7}) | ((value >> 5) & 7u));
    outcome.changed = !(before == m);
    return outcome;
}
