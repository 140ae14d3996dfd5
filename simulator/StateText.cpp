// StateText: the text form of a simulated machine, as the state file holds it, and its strict
// reader.
#include "simulator/StateText.h"

#include <set>
#include <sstream>

#include "simulator/SimText.h"

namespace {

constexpr const char* StateHeader =
    "# Quorix simulated processor. Change it with qrxsim; a hand edit must keep this form.\n";

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream in(line);
    std::string token;
    while (in >> token)
        tokens.push_back(token);
    return tokens;
}

// A damaged file can hold anything; the message quotes only a short, printable excerpt, so the
// terminal that shows it is not fed control characters or pages of junk.
std::string Excerpt(const std::string& text) {
    constexpr size_t MaxChars = 24;
    std::string shown;
    for (char c : text.substr(0, MaxChars))
        shown += c >= 0x20 && c <= 0x7E ? c : '?';
    return text.size() > MaxChars ? shown + "..." : shown;
}

bool ValidVendor(const std::string& vendor) {
    if (vendor.size() != 12)
        return false;
    for (char c : vendor)
        if (c < 0x21 || c > 0x7E)
            return false;
    return true;
}

// "memory MB ram|hole [window BASE SIZE]...", the hexadecimal window in bytes.
bool ParseMemoryEntry(const std::vector<std::string>& t, SimMemoryMap& map) {
    uint64_t mb = 0;
    if (t.size() < 3 || (t.size() - 3) % 3 != 0 || !ParseDecimal(t[1], MaxRamMb, mb) || mb == 0 ||
        (t[2] != "ram" && t[2] != "hole"))
        return false;
    SimMemoryMap parsed;
    parsed.present = true;
    parsed.ramMb = static_cast<uint32_t>(mb);
    parsed.holeIsRam = t[2] == "ram";
    for (size_t i = 3; i < t.size(); i += 3) {
        uint64_t base = 0, size = 0;
        if (t[i] != "window" || !ParseHex(t[i + 1], 8, base) || !ParseHex(t[i + 2], 8, size) ||
            size == 0 || base + size > (1ull << 32) || parsed.windows.size() == MaxDisplayWindows)
            return false;
        parsed.windows.push_back({static_cast<uint32_t>(base), static_cast<uint32_t>(size)});
    }
    map = parsed;
    return true;
}

} // namespace

std::string FormatState(const SimMachine& m) {
    std::ostringstream out;
    out << StateHeader << "format 1\n"
        << "preset " << m.preset << "\n"
        << "vendor " << m.id.vendor << "\n"
        << "family " << m.id.family << "\n"
        << "model " << m.id.model << "\n"
        << "stepping " << m.id.stepping << "\n"
        << "maxleaf " << m.id.maxLeaf << "\n"
        << "tsc " << (m.id.tsc ? 1 : 0) << "\n"
        << "bus " << m.busMhz << "\n"
        << "cr0 " << Hex8(m.cr0) << "\n"
        << "port " << Hex8(m.port) << "\n";
    for (const auto& [index, value] : m.msrs)
        out << "msr " << Hex8(index) << " " << Hex16(value) << "\n";
    out << "fail";
    for (uint32_t code : m.failing)
        out << " " << code;
    out << "\n";
    // Only a machine that has a map says so: every other state file stays as it always was.
    if (m.memory.present) {
        out << "memory " << m.memory.ramMb << (m.memory.holeIsRam ? " ram" : " hole");
        for (const SimWindow& w : m.memory.windows)
            out << " window " << Hex8(w.base) << " " << Hex8(w.size);
        out << "\n";
    }
    return out.str();
}

bool ParseState(const std::string& text, SimMachine& result, std::string& error) {
    SimMachine m;
    std::set<std::string> seen;
    const std::vector<std::string> lines = SplitSimLines(text);
    int lineNumber = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    for (const std::string& line : lines) {
        ++lineNumber;
        if (line.find('\0') != std::string::npos)
            return fail("contains a zero byte");
        const std::vector<std::string> t = Tokens(line);
        if (t.empty() || t[0][0] == '#')
            continue;
        const std::string& key = t[0];
        if (key != "msr" && !seen.insert(key).second)
            return fail("\"" + key + "\" appears twice");
        uint64_t value = 0;
        auto oneValue = [&]() { return t.size() == 2; };
        if (key == "format") {
            if (!oneValue() || t[1] != "1")
                return fail("unknown format (expected \"format 1\")");
        } else if (key == "preset") {
            if (!oneValue() || (t[1] != CustomPreset && !FindPreset(t[1])))
                return fail("unknown preset");
            m.preset = t[1];
        } else if (key == "vendor") {
            if (!oneValue() || !ValidVendor(t[1]))
                return fail("the vendor must be 12 printable characters");
            m.id.vendor = t[1];
        } else if (key == "family" || key == "model" || key == "stepping") {
            if (!oneValue() || !ParseDecimal(t[1], 15, value))
                return fail(key + " must be a number from 0 to 15");
            (key == "family"  ? m.id.family
             : key == "model" ? m.id.model
                              : m.id.stepping) = static_cast<uint32_t>(value);
        } else if (key == "maxleaf") {
            if (!oneValue() || !ParseDecimal(t[1], 0xFFFFFFFFu, value))
                return fail("maxleaf must be a 32-bit decimal number");
            m.id.maxLeaf = static_cast<uint32_t>(value);
        } else if (key == "tsc") {
            if (!oneValue() || (t[1] != "0" && t[1] != "1"))
                return fail("tsc must be 0 or 1");
            m.id.tsc = t[1] == "1";
        } else if (key == "bus") {
            if (!oneValue() || !ParseDecimal(t[1], 1000, value) || value == 0)
                return fail("bus must be a clock from 1 to 1000 MHz");
            m.busMhz = static_cast<uint32_t>(value);
        } else if (key == "cr0" || key == "port") {
            if (!oneValue() || !ParseHex(t[1], 8, value))
                return fail(key + " must be up to 8 hexadecimal digits");
            (key == "cr0" ? m.cr0 : m.port) = static_cast<uint32_t>(value);
        } else if (key == "msr") {
            uint64_t index = 0;
            if (t.size() != 3 || !ParseHex(t[1], 8, index) || !ParseHex(t[2], 16, value))
                return fail("expected \"msr INDEX VALUE\" in hexadecimal");
            if (!m.msrs.emplace(static_cast<uint32_t>(index), value).second)
                return fail("register " + Hex8(static_cast<uint32_t>(index)) + " appears twice");
        } else if (key == "fail") {
            for (size_t i = 1; i < t.size(); ++i) {
                if (!ParseDecimal(t[i], 6, value) || value == 0)
                    return fail("fail lists request codes from 1 to 6");
                m.failing.insert(static_cast<uint32_t>(value));
            }
        } else if (key == "memory") {
            if (!ParseMemoryEntry(t, m.memory))
                return fail("expected \"memory MB ram|hole [window BASE SIZE]...\": MB from 1 "
                            "to 4096, at most 4 windows in hexadecimal, each inside 4 GiB");
        } else {
            return fail("unknown entry \"" + Excerpt(key) + "\"");
        }
    }
    ++lineNumber;
    for (const char* required : {"format", "preset", "vendor", "family", "model", "stepping",
                                 "maxleaf", "tsc", "bus", "cr0", "port"})
        if (!seen.count(required))
            return fail("\"" + std::string(required) + "\" is missing");
    // The registers must be exactly the ones this processor has, or requests would answer for
    // registers the identity says do not exist.
    for (uint32_t index : MsrsOf(m.id))
        if (!m.msrs.count(index))
            return fail("register " + Hex8(index) + " is missing");
    for (const auto& entry : m.msrs)
        if (!HasMsr(m.id, entry.first))
            return fail("this processor has no register " + Hex8(entry.first));
    result = m;
    return true;
}
