// SaveLoad, the profile store: settings records as registry keys, the version marker, and the
// word forms of memory types, write-ordering modes and multipliers.
#include "profiles/SaveLoad.h"

#include "common/General.h"
#include "common/Messages.h"
#include "platform/Registry.h"

namespace {

const char* const EmptyNameMessage = "Empty profile name.(Load profile)";
const char* const InvalidNameMessage = "Invalid profile name.";

const char* const MemoryTypeWords[] = {"NoEffect", "Uncached", "WriteCombined"};
const char* const WriteOrderingWords[] = {"GEWBED", "SEWBED", "EWBEStrong"};
const char* const UnknownWord = "unknown";

// A backslash separates key names, so a name holding one would address a nested key: the
// profile would list under its first part and could not be deleted by its own name.
bool NestedName(const std::string& name) {
    return name.find('\\') != std::string::npos;
}

// The name checks that loading and saving share: each refusal shows its message.
bool NameAccepted(const std::string& name) {
    if (name.empty()) {
        ShowError(EmptyNameMessage);
        return false;
    }
    if (NestedName(name)) {
        ShowError(InvalidNameMessage);
        return false;
    }
    return true;
}

std::string ProfilePath(const std::string& name) {
    return std::string(ProfilesKeyPath) + "\\" + name;
}

template <typename Code, size_t N>
std::string CodeToWord(Code code, const char* const (&words)[N]) {
    const auto index = static_cast<size_t>(code);
    return index < N ? words[index] : UnknownWord;
}

template <typename Code, size_t N>
bool WordToCode(const std::string& text, Code& code, const char* const (&words)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (text == words[i]) {
            code = static_cast<Code>(i);
            return true;
        }
    return false;
}

// The profile's values, read into a working copy of the caller's record. An absent value leaves
// its field alone; allWell is cleared by a missing companion value or a word that does not
// convert, and the later values are still read.
class ProfileReader {
public:
    ProfileReader(Registry& reg, SettingsTp& work) : reg_(reg), work_(work) {}

    bool Read() {
        ReadWriteAllocation();
        ReadRange("MTRR0", work_.WC.MTRR0);
        ReadRange("MTRR1", work_.WC.MTRR1);
        ReadBoolIfPresent("L1CacheEnabled", work_.L1CacheEnabled, work_.L1Unread);
        ReadBoolIfPresent("L2CacheEnabled", work_.L2CacheEnabled, work_.L2Unread);
        ReadBoolIfPresent("DataPrefetchEnabled", work_.DataPrefetchEnabled,
                          work_.DataPrefetchUnread);
        if (Given("WriteOrderingType", work_.WriteOrderingUnread) &&
            !TextToWriteOrdering(reg_.ReadString("WriteOrderingType"), work_.WriteOrderingType))
            allWell_ = false;
        if (Given("Multiplier", work_.CPU.MultiplierUnread) &&
            !TextToMultiplier(reg_.ReadString("Multiplier"), work_.CPU.Multiplier))
            allWell_ = false;
        return allWell_;
    }

private:
    // A value the profile holds is the user's: its feature is no longer unread.
    bool Given(const std::string& name, bool& unread) {
        if (!reg_.ValueExists(name))
            return false;
        unread = false;
        return true;
    }

    void ReadBoolIfPresent(const std::string& name, bool& field, bool& unread) {
        if (Given(name, unread))
            field = reg_.ReadBool(name);
    }

    // A value that must be there because the one governing it says so.
    bool Required(const std::string& name) {
        if (reg_.ValueExists(name))
            return true;
        allWell_ = false;
        return false;
    }

    void ReadWriteAllocation() {
        WATp& wa = work_.WA;
        if (!Given("WAEnabled", wa.WAUnread))
            return;
        if (!reg_.ReadBool("WAEnabled")) {
            wa.WAEnabled = false; // limit and 15-16 MB stay as they are
            return;
        }
        wa.WAEnabled = true;
        if (Required("WALimit"))
            wa.WALimit = static_cast<int32_t>(reg_.ReadDWord("WALimit"));
        if (Required("WA1516MB"))
            wa.WA1516MB = reg_.ReadBool("WA1516MB");
    }

    void ReadRange(const std::string& prefix, MTRRTp& range) {
        if (!Given(prefix + "Enabled", range.Unread))
            return;
        if (!reg_.ReadBool(prefix + "Enabled")) {
            range.Enabled = false; // the rest of the range stays as it is
            return;
        }
        range.Enabled = true;
        if (Required(prefix + "Start"))
            range.Start = reg_.ReadDWord(prefix + "Start");
        if (Required(prefix + "Size") &&
            !SizeFromName(reg_.ReadString(prefix + "Size"), range.Size))
            allWell_ = false;
        range.SizeBytes = SizeToBytes(range.Size);
        if (Required(prefix + "MemoryType") &&
            !TextToMemoryType(reg_.ReadString(prefix + "MemoryType"), range.MemoryType))
            allWell_ = false;
    }

    Registry& reg_;
    SettingsTp& work_;
    bool allWell_ = true;
};

void WriteRange(Registry& reg, const std::string& prefix, const MTRRTp& range) {
    reg.WriteBool(prefix + "Enabled", range.Enabled);
    if (!range.Enabled)
        return;
    reg.WriteDWord(prefix + "Start", range.Start);
    reg.WriteString(prefix + "Size", SizeToName(range.Size));
    reg.WriteString(prefix + "MemoryType", MemoryTypeToText(range.MemoryType));
}

} // namespace

bool LoadProfile(const std::string& name, SettingsTp& settings) {
    SettingsTp work = settings;
    if (!NameAccepted(name))
        return false;
    // One update: every value is read from the same state of the registry, so a save by another
    // program at the same moment is seen whole or not at all.
    Registry reg;
    reg.BeginUpdate();
    reg.OpenKey(ProfilesKeyPath, true);
    // The profile is addressed by its absolute path, so that no failure to open the profiles key
    // could make the name resolve anywhere else.
    if (!reg.KeyExists(ProfilePath(name)) || !reg.OpenKey(ProfilePath(name), false)) {
        reg.EndUpdate();
        ShowError("Key " + VisibleText(name) + " does not exist.");
        return false;
    }
    const bool allWell = ProfileReader(reg, work).Read();
    reg.CloseKey();
    reg.EndUpdate();
    if (allWell)
        settings = work;
    return allWell;
}

bool SaveProfile(const std::string& name, const SettingsTp& settings) {
    if (!NameAccepted(name))
        return false;
    // One update: the profile is stored whole or not at all, so a save cut short never leaves a
    // profile that fails to load (a range enabled without its size, say).
    Registry reg;
    reg.BeginUpdate();
    // A name the registry cannot hold as a key name (a line break) creates nothing either. The
    // update ends before the message: a message box waits for the user, and the registry must not
    // stay locked for others meanwhile.
    if (!reg.OpenKey(ProfilePath(name), true)) {
        reg.EndUpdate();
        ShowError(InvalidNameMessage);
        return false;
    }
    // A feature whose state nobody read or gave is left out, as an unsupported one is: loading
    // the profile then keeps what the processor holds instead of writing what a failed read left.
    const SettingsTp& s = settings;
    if (s.WA.WASupported && !s.WA.WAUnread) {
        reg.WriteBool("WAEnabled", s.WA.WAEnabled);
        if (s.WA.WAEnabled) {
            reg.WriteDWord("WALimit", static_cast<uint32_t>(s.WA.WALimit));
            reg.WriteBool("WA1516MB", s.WA.WA1516MB);
        }
    }
    if (s.WC.WCSupported && !s.WC.MTRR0.Unread)
        WriteRange(reg, "MTRR0", s.WC.MTRR0);
    if (s.WC.WCSupported && !s.WC.MTRR1.Unread)
        WriteRange(reg, "MTRR1", s.WC.MTRR1);
    if (s.L1Supported && !s.L1Unread)
        reg.WriteBool("L1CacheEnabled", s.L1CacheEnabled);
    if (s.L2Supported && !s.L2Unread)
        reg.WriteBool("L2CacheEnabled", s.L2CacheEnabled);
    if (s.DataPrefetchSupported && !s.DataPrefetchUnread)
        reg.WriteBool("DataPrefetchEnabled", s.DataPrefetchEnabled);
    if (s.WriteOrderingSupported && !s.WriteOrderingUnread)
        reg.WriteString("WriteOrderingType", WriteOrderingToText(s.WriteOrderingType));
    if (s.CPU.MultiplierSupported && !s.CPU.MultiplierUnread)
        reg.WriteString("Multiplier", MultiplierToText(s.CPU.Multiplier));
    reg.CloseKey();
    reg.EndUpdate();
    return true;
}

bool DeleteProfile(const std::string& name) {
    // An empty name would address the profiles key itself, and deleting it would take every
    // profile with it.
    if (name.empty() || NestedName(name)) {
        ShowError(InvalidNameMessage);
        return false;
    }
    Registry reg;
    reg.OpenKey(ProfilesKeyPath, true);
    const std::string path = ProfilePath(name);
    if (!reg.KeyExists(path))
        return true;
    // Another program may have deleted it in between; what counts is that it is gone.
    if (reg.DeleteKey(path) || !reg.KeyExists(path))
        return true;
    ShowError("Error deleting profile: " + VisibleText(name));
    return false;
}

bool ProfileExists(const std::string& name) {
    Registry reg;
    reg.OpenKey(ProfilesKeyPath, true);
    return !name.empty() && !NestedName(name) && reg.KeyExists(ProfilePath(name));
}

void GetProfileNames(std::vector<std::string>& names) {
    names.clear();
    Registry reg;
    if (reg.OpenKey(ProfilesKeyPath, true))
        reg.GetKeyNames(names);
}

std::string ReadStoredVersion() {
    std::string version;
    Registry reg;
    if (reg.OpenKey(ProgramKeyPath, false) && reg.ValueExists(VersionValueName))
        version = reg.ReadString(VersionValueName);
    return version;
}

bool StoredVersionMissing() {
    Registry reg;
    return !reg.OpenKey(ProgramKeyPath, false) || !reg.ValueExists(VersionValueName);
}

void WriteStoredVersion() {
    Registry reg;
    reg.OpenKey(ProgramKeyPath, true);
    reg.WriteString(VersionValueName, StoredVersionText);
}

std::string MemoryTypeToText(MemoryTypeTp memoryType) {
    return CodeToWord(memoryType, MemoryTypeWords);
}

bool TextToMemoryType(const std::string& text, MemoryTypeTp& memoryType) {
    return WordToCode(text, memoryType, MemoryTypeWords);
}

std::string WriteOrderingToText(WriteOrderingTp writeOrdering) {
    return CodeToWord(writeOrdering, WriteOrderingWords);
}

bool TextToWriteOrdering(const std::string& text, WriteOrderingTp& writeOrdering) {
    return WordToCode(text, writeOrdering, WriteOrderingWords);
}

bool TextToMultiplier(const std::string& text, uint8_t& index) {
    for (int i = 0; i < MultiplierCount; ++i)
        if (text == MultiplierToText(static_cast<uint8_t>(i))) {
            index = static_cast<uint8_t>(i);
            return true;
        }
    return false;
}
