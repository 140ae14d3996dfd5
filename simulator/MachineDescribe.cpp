// Machine: the decoded view of every register that qrxsim show prints, in the terms a K6
// owner thinks in (MB, ranges, ratios, on/off) with the raw bits beside them.
#include <cstdio>
#include <sstream>

#include "simulator/Machine.h"
#include "simulator/SimText.h"

namespace {

const char Indent[] = "             ";

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

std::string Ratio(uint32_t tenths) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string Bits3(uint32_t code) {
    std::string s;
    for (int bit = 2; bit >= 0; --bit)
        s += (code >> bit) & 1u ? '1' : '0';
    return s;
}

std::string SizeText(uint32_t index) {
    static const char* const SizeNames[16] = {
        "128 kB", "256 kB", "512 kB", "1 MB",   "2 MB",   "4 MB", "8 MB", "16 MB",
        "32 MB",  "64 MB",  "128 MB", "256 MB", "512 MB", "1 GB", "2 GB", "4 GB"};
    return SizeNames[index & 15u];
}

std::string DescribeRange(uint32_t half) {
    if (half == 0)
        return "not in use";
    const uint32_t mask = (half >> 2) & 0x7FFFu;
    int size = -1;
    for (uint32_t i = 0; i < 16; ++i)
        if (((0x7FFFu << i) & 0x7FFFu) == mask)
            size = static_cast<int>(i);
    std::string type;
    if ((half & 3u) == 3u)
        type = "uncached (the write-combine bit is set too)";
    else if (half & 1u)
        type = "uncached";
    else if (half & 2u)
        type = "write-combined";
    else
        type = "no effect (neither uncached nor write-combined)";
    std::string text = "start " + Hex8(half & 0xFFFE0000u) + ", ";
    text += size < 0 ? "invalid size mask " + Hex4(mask) : SizeText(static_cast<uint32_t>(size));
    text += ", " + type;
    const uint64_t bytes = uint64_t{0x20000u} << (size < 0 ? 0 : size);
    if (size >= 0 && (uint64_t{half & 0xFFFE0000u} & (bytes - 1)))
        text += " (start not aligned to the size)";
    return text;
}

std::string WriteOrdering(uint32_t bits) {
    switch (bits & 3u) {
    case 0:
        return "All (slowest; EWBE strong)";
    case 1:
        return "All except UC/WC (fast; speculative EWBE disabled)";
    default:
        return "No Write Ordering (fastest; global EWBE disabled)";
    }
}

void Register(std::ostringstream& out, const char* name, uint32_t index, const SimMachine& m,
              const std::vector<std::string>& fields) {
    uint64_t value = 0;
    char head[16];
    std::snprintf(head, sizeof head, "%-6s", name);
    out << head << " " << Hex8(index) << "  ";
    if (!GetMsr(m, index, value)) {
        out << "not present on this processor\n";
        return;
    }
    out << Hex8(static_cast<uint32_t>(value >> 32)) << " " << Hex8(static_cast<uint32_t>(value))
        << "\n";
    for (const std::string& f : fields)
        out << Indent << f << "\n";
}

std::vector<std::string> EferFields(const SimMachine& m, uint64_t v) {
    const uint32_t low = static_cast<uint32_t>(v);
    std::vector<std::string> fields = {"L2 cache " + OnOff(!(low & EferL2Disable)) +
                                           " (bit 4 = " + std::to_string((low >> 4) & 1u) + ")",
                                       "write ordering: " + WriteOrdering(low >> 2) +
                                           " (bits 3..2 = " + std::to_string((low >> 3) & 1u) +
                                           std::to_string((low >> 2) & 1u) + ")",
                                       "data prefetch " + OnOff(low & 2u) + " (bit 1)",
                                       "system-call extension " + OnOff(low & 1u) + " (bit 0)"};
    // The bits are stored on every core, but only the K6-III and K6-III+/2+ have an L2 on the
    // die, and only the CXT core acts on write ordering and prefetch.
    if (!IsCxtCore(m.id))
        fields.push_back("(this core acts on none of bits 4..1; they are only stored)");
    else if (m.id.model == 8)
        fields.push_back("(no L2 cache on the die: bit 4 is only stored)");
    return fields;
}

std::vector<std::string> WhcrFields(const SimMachine& m, uint64_t v) {
    const uint32_t low = static_cast<uint32_t>(v);
    const bool k6 = UsesK6WhcrLayout(m.id);
    const uint32_t units = k6 ? (low >> 1) & 0x7Fu : low >> 22;
    const bool hole = k6 ? low & 1u : (low >> 16) & 1u;
    const uint32_t mb = units * 4;
    std::vector<std::string> fields;
    if (mb == 0 && !hole)
        fields.push_back("write allocation off (limit 0 MB)");
    else
        fields.push_back("write allocation on, limit " + std::to_string(mb) + " MB (" +
                         std::to_string(units) + " x 4 MB, largest " + (k6 ? "508" : "4092") +
                         " MB)");
    fields.push_back(std::string("15-16 MB range ") +
                     (hole ? "write-allocated" : "excluded (memory hole)") + " (bit " +
                     (k6 ? "0" : "16") + ")");
    fields.push_back(
        std::string(k6 ? "K6 layout: limit in bits 7..1" : "CXT layout: limit in bits 31..22"));
    return fields;
}

std::vector<std::string> PsorFields(uint64_t v) {
    const uint32_t low = static_cast<uint32_t>(v);
    const uint32_t code = low & 7u;
    return {"multiplier " + Ratio(MultiplierTenths(code)) + "x (code " + Bits3(code) + ")",
            "stepping " + std::to_string((low >> 4) & 0xFu) + " (bits 7..4)",
            std::string("L2 cache ") + (low & 0x100u ? "absent" : "present") + " (bit 8)"};
}

std::vector<std::string> EpmrFields(const SimMachine& m, uint64_t v) {
    const uint32_t low = static_cast<uint32_t>(v);
    const uint32_t base = low & 0xFFF0u;
    std::vector<std::string> fields;
    if (low & 1u)
        fields.push_back("power-management block enabled at I/O " + Hex4(base) +
                         " (multiplier port " + Hex4(base + 8) + ")");
    else
        fields.push_back("power-management block disabled (base " + Hex4(base) + ")");
    fields.push_back("last value stored at base + 8: " + Hex8(m.port));
    return fields;
}

} // namespace

std::string DescribeMachine(const SimMachine& m) {
    std::ostringstream out;
    const SimPreset* preset = FindPreset(m.preset);
    out << "Machine:     " << m.preset;
    if (preset)
        out << " (" << preset->description << ")";
    out << "\n";
    out << "Identity:    " << m.id.vendor << ", family " << m.id.family << ", model " << m.id.model
        << ", stepping " << m.id.stepping << "; highest standard leaf " << m.id.maxLeaf
        << "; time-stamp counter " << (m.id.tsc ? "yes" : "no") << "\n";
    const uint64_t khz = CoreKHz(m);
    out << "Clock:       " << khz / 1000;
    if (khz % 1000)
        out << "." << (khz % 1000) / 100;
    out << " MHz";
    if (FixedMhz(m) == 0) {
        uint64_t psor = 0;
        GetMsr(m, MsrPsor, psor);
        out << " (" << m.busMhz << " MHz bus x " << Ratio(MultiplierTenths(psor & 7u)) << ")";
    } else {
        out << " (fixed)";
    }
    out << "\n";
    out << "CR0    (32-bit)  " << Hex8(m.cr0) << "\n"
        << Indent << "L1 cache " << OnOff(!(m.cr0 & Cr0CacheDisable))
        << " (bit 30 = " << ((m.cr0 >> 30) & 1u) << ")\n";
    uint64_t v = 0;
    GetMsr(m, MsrEfer, v);
    Register(out, "EFER", MsrEfer, m, EferFields(m, v));
    v = 0;
    GetMsr(m, MsrWhcr, v);
    Register(out, "WHCR", MsrWhcr, m, WhcrFields(m, v));
    v = 0;
    GetMsr(m, MsrUwccr, v);
    Register(out, "UWCCR", MsrUwccr, m,
             {"range 0: " + DescribeRange(static_cast<uint32_t>(v)),
              "range 1: " + DescribeRange(static_cast<uint32_t>(v >> 32))});
    v = 0;
    GetMsr(m, MsrEpmr, v);
    Register(out, "EPMR", MsrEpmr, m, EpmrFields(m, v));
    v = 0;
    GetMsr(m, MsrPsor, v);
    Register(out, "PSOR", MsrPsor, m, PsorFields(v));
    out << "Failing:     ";
    if (m.failing.empty())
        out << "no request";
    const char* separator = "";
    for (uint32_t code : m.failing) {
        const char* name = RequestName(code);
        out << separator << code << " (" << (name ? name : "?") << ")";
        separator = ", ";
    }
    out << "\n";
    if (m.memory.present)
        out << "Memory map:  " << DescribeMemoryMap(m.memory) << "\n";
    return out.str();
}

bool ParseWindowSize(const std::string& text, uint64_t& bytes) {
    static const struct {
        const char* unit;
        uint64_t bytes;
    } Units[] = {{"KB", 1ull << 10}, {"MB", 1ull << 20}, {"GB", 1ull << 30}};
    if (text.size() < 3)
        return false;
    std::string unit = text.substr(text.size() - 2);
    for (char& c : unit)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    uint64_t count = 0;
    for (const auto& u : Units) {
        if (unit == u.unit && ParseDecimal(text.substr(0, text.size() - 2), 4ull << 30, count) &&
            count > 0 && count * u.bytes <= (4ull << 30)) {
            bytes = count * u.bytes;
            return true;
        }
    }
    return false;
}

std::string WindowSizeText(uint64_t bytes) {
    if (bytes && bytes % (1ull << 30) == 0)
        return std::to_string(bytes >> 30) + "GB";
    if (bytes && bytes % (1ull << 20) == 0)
        return std::to_string(bytes >> 20) + "MB";
    if (bytes % (1ull << 10) == 0)
        return std::to_string(bytes >> 10) + "KB";
    return std::to_string(bytes) + " bytes";
}

std::string DescribeMemoryMap(const SimMemoryMap& map) {
    if (!map.present)
        return "none (the driver knows nothing about memory and refuses nothing)";
    std::string text = std::to_string(map.ramMb) + " MB installed; 15-16 MB is " +
                       (map.holeIsRam ? "memory" : "a hole (not memory)");
    if (map.windows.empty())
        text += "; no display window";
    for (const SimWindow& w : map.windows)
        text += "; display window " + Hex8(w.base) + " " + WindowSizeText(w.size);
    return text;
}
