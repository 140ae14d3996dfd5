// commandline: validation and apply passes over the program's parameters. Compiled twice; the
// GUI program's copy is built with QRX_CMDLINE_GUI and then also knows "/L" and "/Q".
#include "cmdline/commandline.h"

#include <cstdint>

#include "common/General.h"
#include "common/Messages.h"

#ifdef QRX_CMDLINE_GUI
#include "profiles/SaveLoad.h"
#endif

bool DebugMode = false;

namespace {

#ifdef QRX_CMDLINE_GUI
constexpr bool ProfileSwitches = true;
#else
constexpr bool ProfileSwitches = false;
#endif

// Only the first 80 characters of a parameter take part in any comparison.
constexpr size_t NormalisedLength = 80;

std::vector<std::string>& Parameters() {
    static std::vector<std::string> parameters;
    return parameters;
}

struct MultiplierText {
    const char* text;
    uint8_t index;
};

// There is no text for 2.5: the processor has no such ratio.
const MultiplierText MultiplierTexts[] = {
    {"2", 0},   {"2.0", 0}, {"3", 1},   {"3.0", 1}, {"3.5", 2}, {"4", 3},   {"4.0", 3},
    {"4.5", 4}, {"5", 5},   {"5.0", 5}, {"5.5", 6}, {"6", 7},   {"6.0", 7},
};

bool IsSettingSwitch(const std::string& text) {
    static const char* const switches[] = {"/WA", "/L1",    "/L2",    "/DP",
                                           "/M",  "/MTRR0", "/MTRR1", "/WO"};
    for (const char* s : switches)
        if (text == s)
            return true;
    return ProfileSwitches && text == "/L";
}

// The size word of an index as the command line writes it: the size name without its
// leading underscore, upper-cased for comparison.
std::string SizeWord(int index) {
    return MakeUpper(SizeToName(static_cast<SizeTp>(index)).substr(1));
}

bool SizeFromWord(const std::string& text, SizeTp& size) {
    for (int i = 0; i < SizeCount; ++i) {
        if (SizeWord(i) == text) {
            size = static_cast<SizeTp>(i);
            return true;
        }
    }
    return false;
}

// Decimal text to a 32-bit integer; false for anything but digits or a value that overflows.
bool DecimalToInt(const std::string& text, int32_t& value) {
    if (text.empty())
        return false;
    int64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
        if (result > INT32_MAX)
            return false;
    }
    value = static_cast<int32_t>(result);
    return true;
}

// Both passes walk the list the same way: a switch takes its values one by one, and a value
// whose index lies beyond the count is missing.
class Cursor {
public:
    int index = 1;
    bool AtEnd() const { return index > ParameterCount(); }
    std::string Current() const { return NormalisedParameter(index); }
    // Moves to the next value; false when it is missing.
    bool TakeValue(std::string& value) {
        ++index;
        value = NormalisedParameter(index);
        return index <= ParameterCount();
    }
    void NextSwitch() { ++index; }
};

bool Report(const std::string& message) {
    ShowError(message);
    return false;
}

bool ValidateRange(Cursor& c) {
    std::string value;
    if (!c.TakeValue(value) || !IsStartAddressText(value))
        return Report("/MTRR: start address expected.");
    if (!c.TakeValue(value) || !IsSizeText(value))
        return Report("/MTRR: invalid size: " + ParameterAt(c.index));
    if (!c.TakeValue(value) || !IsMemoryTypeText(value))
        return Report("/MTRR: invalid memory type: " + ParameterAt(c.index));
    return true;
}

bool ValidateWA(Cursor& c) {
    std::string value;
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("/WA: WA limit expected.");
    if (!IsWALimitText(value))
        return Report("Not a valid WA limit: " + value);
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("/WA: value for WA 15-16MB expected.");
    if (!IsZeroOrOne(value))
        return Report("/WA: 0 or 1 expected");
    return true;
}

bool ApplyRange(Cursor& c, MTRRTp& range) {
    std::string value;
    c.TakeValue(value);
    int32_t error = 0;
    const uint32_t start = HexToInt(value, error);
    if (error != 0)
        return Report("Internal error. This is not a hex value: " + value);
    range.Start = start;
    c.TakeValue(value);
    SizeTp size;
    if (!SizeFromWord(value, size))
        return Report("Internal error. This is not a valid WC size: " + value);
    range.Size = size;
    range.SizeBytes = SizeToBytes(size);
    c.TakeValue(value);
    if (value == "N")
        range.MemoryType = MemoryTypeTp::NoEffect;
    else if (value == "W")
        range.MemoryType = MemoryTypeTp::WriteCombined;
    else if (value == "U")
        range.MemoryType = MemoryTypeTp::Uncached;
    range.Enabled = true;
    return true;
}

} // namespace

void SetParameterList(const std::vector<std::string>& parameters) {
    Parameters() = parameters;
}

void SetParameterList(int argc, const char* const* argv) {
    std::vector<std::string> parameters;
    for (int i = 1; i < argc; ++i)
        parameters.emplace_back(argv[i]);
    SetParameterList(parameters);
}

int ParameterCount() {
    return static_cast<int>(Parameters().size());
}

std::string ParameterAt(int index) {
    if (index < 1 || index > ParameterCount())
        return std::string();
    return Parameters()[static_cast<size_t>(index - 1)];
}

std::string NormalisedParameter(int index) {
    return MakeUpper(ParameterAt(index)).substr(0, NormalisedLength);
}

bool StartsWithSlash(const std::string& text) {
    return !text.empty() && text[0] == '/';
}

bool ContainsBackslash(const std::string& text) {
    return text.find('\\') != std::string::npos;
}

bool IsWALimitText(const std::string& text) {
    if (text.empty() || text.size() > 7)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

bool IsStartAddressText(const std::string& text) {
    if (text.empty() || text.size() > 8)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

bool IsZeroOrOne(const std::string& text) {
    return text == "0" || text == "1";
}

bool IsZeroOneOrTwo(const std::string& text) {
    return text == "0" || text == "1" || text == "2";
}

bool IsMultiplierText(const std::string& text) {
    for (const MultiplierText& m : MultiplierTexts)
        if (text == m.text)
            return true;
    return false;
}

bool IsSizeText(const std::string& text) {
    SizeTp size;
    return SizeFromWord(text, size);
}

bool IsMemoryTypeText(const std::string& text) {
    return text == "W" || text == "U" || text == "N";
}

bool HasSettingSwitch() {
    for (int i = 1; i <= ParameterCount(); ++i)
        if (IsSettingSwitch(MakeUpper(ParameterAt(i))))
            return true;
    return false;
}

bool ValidateCommandLine() {
    for (Cursor c; !c.AtEnd(); c.NextSwitch()) {
        const std::string p = c.Current();
        std::string value;
        if (p == "/DEBUG" || (ProfileSwitches && p == "/Q")) {
            continue;
        } else if (ProfileSwitches && p == "/L") {
            if (!c.TakeValue(value) || StartsWithSlash(value))
                return Report("No profile specified.");
            if (ContainsBackslash(value))
                return Report("Invalid profile name.");
        } else if (p == "/L1" || p == "/L2" || p == "/DP") {
            if (!c.TakeValue(value) || !IsZeroOrOne(value))
                return Report(p + ": 0 or 1 expected.");
        } else if (p == "/WO") {
            if (!c.TakeValue(value) || !IsZeroOneOrTwo(value))
                return Report("/WO: 0 or 1 or 2 expected.");
        } else if (p == "/M") {
            if (!c.TakeValue(value) || StartsWithSlash(value))
                return Report("/M: value expected.");
            if (!IsMultiplierText(value))
                return Report("Not a valid multiplier value: " + value);
        } else if (p == "/WA") {
            if (!ValidateWA(c))
                return false;
        } else if (p == "/MTRR0" || p == "/MTRR1") {
            if (!ValidateRange(c))
                return false;
        } else {
            return Report("Unknown command: " + ParameterAt(c.index));
        }
    }
    return true;
}

bool ApplyParametersToRecord(SettingsTp& working, bool& showWindow) {
    for (Cursor c; !c.AtEnd(); c.NextSwitch()) {
        const std::string p = c.Current();
        std::string value;
        if (p == "/DEBUG") {
            DebugMode = true;
        } else if (ProfileSwitches && p == "/L") {
            c.TakeValue(value);
            if (!LoadNamedProfile(value, working))
                return Report("Error loading profile. Profile: " + value);
        } else if (ProfileSwitches && p == "/Q") {
            showWindow = false;
        } else if (p == "/L1" || p == "/L2" || p == "/DP") {
            c.TakeValue(value);
            bool& field = p == "/L1"   ? working.L1CacheEnabled
                          : p == "/L2" ? working.L2CacheEnabled
                                       : working.DataPrefetchEnabled;
            if (value == "0")
                field = false;
            else if (value == "1")
                field = true;
        } else if (p == "/WO") {
            c.TakeValue(value);
            if (value == "0")
                working.WriteOrderingType = WriteOrderingTp::EWBEStrong;
            else if (value == "1")
                working.WriteOrderingType = WriteOrderingTp::SEWBED;
            else if (value == "2")
                working.WriteOrderingType = WriteOrderingTp::GEWBED;
        } else if (p == "/M") {
            c.TakeValue(value);
            for (const MultiplierText& m : MultiplierTexts)
                if (value == m.text)
                    working.CPU.Multiplier = m.index;
        } else if (p == "/WA") {
            c.TakeValue(value);
            int32_t limit = 0;
            if (!DecimalToInt(value, limit))
                return Report(ParameterAt(c.index) + " is not a valid value.");
            if (limit > working.WA.WAMaxLimit)
                return Report("WA limit is maximum " + IntToText(working.WA.WAMaxLimit) + "MB.");
            working.WA.WALimit = limit;
            c.TakeValue(value);
            if (value == "0")
                working.WA.WA1516MB = false;
            else if (value == "1")
                working.WA.WA1516MB = true;
            working.WA.WAEnabled = true;
        } else if (p == "/MTRR0" || p == "/MTRR1") {
            if (!ApplyRange(c, p == "/MTRR0" ? working.WC.MTRR0 : working.WC.MTRR1))
                return false;
        } else {
            return Report("Internal error parsing the command line. Last parameter: " + p);
        }
    }
    return true;
}

bool ProcessCommandLine() {
    bool result = true;
    if (ParameterCount() == 0)
        return true;
    if (!ValidateCommandLine())
        return false;
    const bool settings = HasSettingSwitch();
    SettingsTp working;
    if (settings)
        IdentifyCPU(working);
    if (!ApplyParametersToRecord(working, result))
        return false;
    if (settings)
        SetAllSettings(working);
    return result;
}

#ifdef QRX_CMDLINE_GUI
bool LoadNamedProfile(const std::string& name, SettingsTp& settings) {
    return ProfileExists(name) && LoadProfile(name, settings);
}
#endif
