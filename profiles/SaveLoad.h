// SaveLoad: named settings records (profiles) and the program's version marker in the registry
// of the current user, and the word forms the profiles store settings in.
#pragma once

#include <string>
#include <vector>

#include "engine/Tweak.h"

// Registry layout. Paths are absolute from HKEY_CURRENT_USER.
constexpr const char* ProgramKeyPath = "\\SOFTWARE\\Tamsvold\\QRX";
constexpr const char* ProfilesKeyPath = "\\SOFTWARE\\Tamsvold\\QRX\\Profiles";
constexpr const char* VersionValueName = "Version";
// The version of this program and of the registry layout, as the version marker stores it.
constexpr const char* StoredVersionText = "0.81";

// Reserved profile names (compared exactly by the program; the registry ignores case).
constexpr const char* StartupProfileName = "Startup_Settings";
constexpr const char* DebugProfile0Name = "Debug0";
constexpr const char* DebugProfile1Name = "Debug1";

// Every operation below opens and closes its own registry handle. A value of the wrong type, a
// refused read or a refused write ends the operation with a RegistryError (platform/Registry.h)
// whose text is "Invalid data type for '<value>'", "Failed to get data for '<value>'" or
// "Failed to set data for '<value>'"; a registry file that cannot be read or parsed ends it with a
// RegistryError naming the file and the line. Callers let these reach their general error display.

// --- Profiles ---

// Copies the profile into settings, all or nothing: true when every value it read was
// well-formed; false leaves settings unchanged. Messages: "Empty profile name.(Load profile)",
// "Invalid profile name." (a name holding a backslash), "Key <Name> does not exist.".
bool LoadProfile(const std::string& name, SettingsTp& settings);

// Writes the values of the supported features in their fixed order into the profile's key,
// creating it; values not written this time keep their old contents. The profile is stored whole
// or not at all: a save that ends with an error has written none of its values. Messages:
// "Empty profile name.(Load profile)", "Invalid profile name.".
bool SaveProfile(const std::string& name, const SettingsTp& settings);

// True when the profile is gone afterwards, also when it never existed. Messages:
// "Invalid profile name." (empty, or holding a backslash; nothing is touched),
// "Error deleting profile: <Name>".
bool DeleteProfile(const std::string& name);

// Whether a profile of that name exists (the registry matches names without regard to case).
bool ProfileExists(const std::string& name);

// Replaces names with the names of all profiles, in the registry's order (case-insensitive
// alphabetical). Creates the empty profiles key when it is absent.
void GetProfileNames(std::vector<std::string>& names);

// --- Version marker ---

// The stored version text, or "" when there is none. Never creates a key.
std::string ReadStoredVersion();
// True when the program key has no "Version" value (also when the key itself is absent).
bool StoredVersionMissing();
// Stores StoredVersionText as "Version", creating the program key when it is absent.
void WriteStoredVersion();

// --- Word conversions ---
// A word-to-code conversion compares exactly (case-sensitive); for a text that is not one of its
// words it returns false and leaves its output untouched. Size words and multiplier words of an
// index come from the engine (SizeToName, SizeFromName, SizeToBytes, MultiplierToText).

// "NoEffect", "Uncached", "WriteCombined"; "unknown" for any other code.
std::string MemoryTypeToText(MemoryTypeTp memoryType);
bool TextToMemoryType(const std::string& text, MemoryTypeTp& memoryType);
// "GEWBED", "SEWBED", "EWBEStrong"; "unknown" for any other code.
std::string WriteOrderingToText(WriteOrderingTp writeOrdering);
bool TextToWriteOrdering(const std::string& text, WriteOrderingTp& writeOrdering);
// "2.0" .. "6.0" to the multiplier index 0..7.
bool TextToMultiplier(const std::string& text, uint8_t& index);

// ---------------------------------------------------------------------------------------------
// Start-up registration (the log-on start entry), declared below by its own source file.
// ---------------------------------------------------------------------------------------------

#include "platform/LogonStart.h"

// The per-user log-on start entry that runs the console program with the settings to apply.
constexpr const char* AutoApplyEntryName = "Quorix";
// The console program's file name, expected in the same directory as the running program.
constexpr const char* ConsoleProgramName = "qrxclwin";

// The command the entry runs for settings: ProgramDirectory() + "qrxclwin", then the words of
// BuildCommandLine(settings) as its parameters.
LogonCommand AutoApplyCommand(const SettingsTp& settings);

// Registering saves settings as the profile "Startup_Settings" (result not used), then creates
// or replaces the entry with AutoApplyCommand(settings); the entry is replaced atomically, so a
// failed write keeps the old one. Unregistering removes the entry (nothing to do when absent);
// the profile stays. An entry that cannot be written or removed ends the operation with a
// RegistryError "Failed to set data for 'Quorix'" whose Cause() names the file and the reason.
void SetAutoApply(bool registering, const SettingsTp& settings);

// Whether the entry exists.
bool AutoApplyRegistered();
