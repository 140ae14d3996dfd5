// commandline: validation and apply passes over the program's parameters. Every switch is one
// row of a table that says what it takes and what it does; the profile switches count only
// once the GUI program has installed them.
#include "cmdline/commandline.h"

#include <cstdint>

#include "common/General.h"
#include "common/Messages.h"

bool DebugMode = false;

namespace {

// The profile store of "/L"; both null until the GUI program installs the profile switches.
ProfileExistsProcTp installedProfileExists = nullptr;
LoadProfileProcTp installedLoadProfile = nullptr;

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

// Every message that quotes a parameter shows its control characters (VisibleText), so that a
// parameter cannot send escape sequences to the terminal.
bool Report(const std::string& message) {
    ShowError(message);
    return false;
}

bool ValidateRange(Cursor& c, const std::string&) {
    std::string value;
    if (!c.TakeValue(value) || !IsStartAddressText(value))
        return Report("/MTRR: start address expected.");
    if (!c.TakeValue(value) || !IsSizeText(value))
        return Report("/MTRR: invalid size: " + VisibleText(ParameterAt(c.index)));
    if (!c.TakeValue(value) || !IsMemoryTypeText(value))
        return Report("/MTRR: invalid memory type: " + VisibleText(ParameterAt(c.index)));
    return true;
}

bool ValidateWA(Cursor& c, const std::string&) {
    std::string value;
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("/WA: WA limit expected.");
    if (!IsWALimitText(value))
        return Report("Not a valid WA limit: " + VisibleText(value));
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("/WA: value for WA 15-16MB expected.");
    if (!IsZeroOrOne(value))
        return Report("/WA: 0 or 1 expected");
    return true;
}

bool ValidateOnOff(Cursor& c, const std::string& name) {
    std::string value;
    if (!c.TakeValue(value) || !IsZeroOrOne(value))
        return Report(name + ": 0 or 1 expected.");
    return true;
}

bool ValidateWriteOrdering(Cursor& c, const std::string&) {
    std::string value;
    if (!c.TakeValue(value) || !IsZeroOneOrTwo(value))
        return Report("/WO: 0 or 1 or 2 expected.");
    return true;
}

bool ValidateMultiplier(Cursor& c, const std::string&) {
    std::string value;
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("/M: value expected.");
    if (!IsMultiplierText(value))
        return Report("Not a valid multiplier value: " + VisibleText(value));
    return true;
}

bool ValidateProfile(Cursor& c, const std::string&) {
    std::string value;
    if (!c.TakeValue(value) || StartsWithSlash(value))
        return Report("No profile specified.");
    if (ContainsBackslash(value))
        return Report("Invalid profile name.");
    return true;
}

bool ValidateNoValue(Cursor&, const std::string&) {
    return true;
}

// What the apply pass works on: the record, and whether the main window is to be shown.
struct ApplyTarget {
    SettingsTp& working;
    bool& showWindow;
};

bool ApplyRange(Cursor& c, const std::string& name, ApplyTarget& target) {
    MTRRTp& range = name == "/MTRR0" ? target.working.WC.MTRR0 : target.working.WC.MTRR1;
    std::string value;
    c.TakeValue(value);
    int32_t error = 0;
    const uint32_t start = HexToInt(value, error);
    if (error != 0)
        return Report("Internal error. This is not a hex value: " + VisibleText(value));
    range.Start = start;
    c.TakeValue(value);
    SizeTp size;
    if (!SizeFromWord(value, size))
        return Report("Internal error. This is not a valid WC size: " + VisibleText(value));
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
    range.Unread = false;
    return true;
}

bool ApplyWA(Cursor& c, const std::string&, ApplyTarget& target) {
    WATp& wa = target.working.WA;
    std::string value;
    c.TakeValue(value);
    int32_t limit = 0;
    if (!DecimalToInt(value, limit))
        return Report(VisibleText(ParameterAt(c.index)) + " is not a valid value.");
    if (limit > wa.WAMaxLimit)
        return Report("WA limit is maximum " + IntToText(wa.WAMaxLimit) + "MB.");
    wa.WALimit = limit;
    c.TakeValue(value);
    if (value == "0")
        wa.WA1516MB = false;
    else if (value == "1")
        wa.WA1516MB = true;
    wa.WAEnabled = true;
    wa.WAUnread = false;
    return true;
}

bool ApplyOnOff(Cursor& c, const std::string& name, ApplyTarget& target) {
    SettingsTp& working = target.working;
    const bool l1 = name == "/L1", l2 = name == "/L2";
    bool& field = l1   ? working.L1CacheEnabled
                  : l2 ? working.L2CacheEnabled
                       : working.DataPrefetchEnabled;
    bool& unread = l1 ? working.L1Unread : l2 ? working.L2Unread : working.DataPrefetchUnread;
    std::string value;
    c.TakeValue(value);
    if (value == "0")
        field = false;
    else if (value == "1")
        field = true;
    unread = false;
    return true;
}

bool ApplyWriteOrdering(Cursor& c, const std::string&, ApplyTarget& target) {
    std::string value;
    c.TakeValue(value);
    if (value == "0")
        target.working.WriteOrderingType = WriteOrderingTp::EWBEStrong;
    else if (value == "1")
        target.working.WriteOrderingType = WriteOrderingTp::SEWBED;
    else if (value == "2")
        target.working.WriteOrderingType = WriteOrderingTp::GEWBED;
    target.working.WriteOrderingUnread = false;
    return true;
}

bool ApplyMultiplier(Cursor& c, const std::string&, ApplyTarget& target) {
    std::string value;
    c.TakeValue(value);
    for (const MultiplierText& m : MultiplierTexts)
        if (value == m.text)
            target.working.CPU.Multiplier = m.index;
    target.working.CPU.MultiplierUnread = false;
    return true;
}

bool ApplyProfile(Cursor& c, const std::string&, ApplyTarget& target) {
    std::string value;
    c.TakeValue(value);
    if (!LoadNamedProfile(value, target.working))
        return Report("Error loading profile. Profile: " + VisibleText(value));
    return true;
}

bool ApplyQuiet(Cursor&, const std::string&, ApplyTarget& target) {
    target.showWindow = false;
    return true;
}

bool ApplyDebug(Cursor&, const std::string&, ApplyTarget&) {
    DebugMode = true;
    return true;
}

// One switch: its name as the normalised parameter reads, whether it is a settings switch (one
// that reads and applies the processor's settings), whether only the profile switches bring it,
// and its two passes. Each pass takes the switch's values through the cursor, gets the switch's
// name, and reports its own refusal.
struct SwitchTp {
    const char* name;
    bool setting;
    bool profileSwitch;
    bool (*validate)(Cursor& c, const std::string& name);
    bool (*apply)(Cursor& c, const std::string& name, ApplyTarget& target);
};

const SwitchTp Switches[] = {
    {"/WA", true, false, ValidateWA, ApplyWA},
    {"/L1", true, false, ValidateOnOff, ApplyOnOff},
    {"/L2", true, false, ValidateOnOff, ApplyOnOff},
    {"/DP", true, false, ValidateOnOff, ApplyOnOff},
    {"/WO", true, false, ValidateWriteOrdering, ApplyWriteOrdering},
    {"/M", true, false, ValidateMultiplier, ApplyMultiplier},
    {"/MTRR0", true, false, ValidateRange, ApplyRange},
    {"/MTRR1", true, false, ValidateRange, ApplyRange},
    {"/L", true, true, ValidateProfile, ApplyProfile},
    {"/Q", false, true, ValidateNoValue, ApplyQuiet},
    {"/DEBUG", false, false, ValidateNoValue, ApplyDebug},
};

// The switch a parameter names exactly, or null; the profile switches only once installed.
const SwitchTp* FindSwitch(const std::string& text) {
    const bool profileSwitches = installedProfileExists && installedLoadProfile;
    for (const SwitchTp& s : Switches)
        if (text == s.name && (profileSwitches || !s.profileSwitch))
            return &s;
    return nullptr;
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
    for (int i = 1; i <= ParameterCount(); ++i) {
        const SwitchTp* s = FindSwitch(MakeUpper(ParameterAt(i)));
        if (s && s->setting)
            return true;
    }
    return false;
}

bool ValidateCommandLine() {
    for (Cursor c; !c.AtEnd(); c.NextSwitch()) {
        const std::string p = c.Current();
        const SwitchTp* s = FindSwitch(p);
        if (!s)
            return Report("Unknown command: " + VisibleText(ParameterAt(c.index)));
        if (!s->validate(c, p))
            return false;
    }
    return true;
}

bool ApplyParametersToRecord(SettingsTp& working, bool& showWindow) {
    ApplyTarget target{working, showWindow};
    for (Cursor c; !c.AtEnd(); c.NextSwitch()) {
        const std::string p = c.Current();
        const SwitchTp* s = FindSwitch(p);
        if (!s)
            return Report("Internal error parsing the command line. Last parameter: " +
                          VisibleText(p));
        if (!s->apply(c, p, target))
            return false;
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
    // The driver has said why on standard error; every setting would only fail after it.
    if (working.CPU.IdentityUnread)
        return Report("The processor could not be read: it did not answer its identification "
                      "(CPUID), so no setting was applied.");
    if (!ApplyParametersToRecord(working, result))
        return false;
    // Settings the machine would refuse are refused here, each with its message, before the
    // first write: half an apply would leave the processor in a state nobody asked for.
    if (settings && !CheckSettingsForMachine(working))
        return false;
    if (settings)
        SetAllSettings(working);
    return result;
}

void InstallProfileSwitches(ProfileExistsProcTp profileExists, LoadProfileProcTp loadProfile) {
    installedProfileExists = profileExists;
    installedLoadProfile = loadProfile;
}

bool LoadNamedProfile(const std::string& name, SettingsTp& settings) {
    return installedProfileExists && installedLoadProfile && installedProfileExists(name) &&
           installedLoadProfile(name, settings);
}
