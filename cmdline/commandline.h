// commandline: the parameter syntax of both programs. A validation pass checks every parameter
// and stops at the first error; an apply pass lays the parameters over the processor's current
// settings and hands the result to the engine once, after the last parameter.
//
// Both programs link the same library. Only the GUI program knows "/L" (load a stored profile)
// and "/Q" (end without the main window): its composition root installs them, with the profile
// store "/L" reads, by InstallProfileSwitches. Without them both are unknown commands, which is
// the console program's command line; it links no profile store. Everything else behaves the
// same in both.
#pragma once

#include <string>
#include <vector>

#include "engine/Tweak.h"

// Set by "/DEBUG" during the apply pass; the GUI program's main window reads it when it is
// created. It has no effect in the console program.
extern bool DebugMode;

// --- The parameter list ---
// The program's arguments after its own name, as the shell or the desktop launcher split and
// unquoted them. The program's composition root sets it once, before ProcessCommandLine.

void SetParameterList(const std::vector<std::string>& parameters);
// The same from main's argument vector; argv[0], the program's own name, is skipped.
void SetParameterList(int argc, const char* const* argv);
int ParameterCount();
// The raw parameter number index (1-based) exactly as given; "" beyond the count (and below 1).
std::string ParameterAt(int index);
// The parameter as every comparison sees it: MakeUpper'ed (a-z only) and cut to 80 characters.
std::string NormalisedParameter(int index);

// --- The passes ---

// Validates, then (only when a settings switch is present) identifies the processor, lays the
// parameters over its settings and applies them with SetAllSettings. No parameters: true at once.
// A reported error returns false before anything is applied. In the GUI program false also
// means "end without a window" ("/Q"); the console program ignores the result.
bool ProcessCommandLine();

// True when every parameter is valid; otherwise reports the first error and returns false.
bool ValidateCommandLine();

// True when any parameter (upper-cased, not cut) is one of the settings switches.
bool HasSettingSwitch();

// The apply pass without the final SetAllSettings: changes working in parameter order, sets
// DebugMode for "/DEBUG", and clears showWindow for "/Q". False after a reported error (working
// may then be partly changed). Expects a validated parameter list and a record identified by
// IdentifyCPU; ProcessCommandLine is this plus the validation and the one SetAllSettings.
bool ApplyParametersToRecord(SettingsTp& working, bool& showWindow);

// --- The profile switches ---

// The profile store's two operations that "/L" uses (SaveLoad's ProfileExists and LoadProfile).
using ProfileExistsProcTp = bool (*)(const std::string& name);
using LoadProfileProcTp = bool (*)(const std::string& name, SettingsTp& settings);

// Makes "/L" (a settings switch) and "/Q" known, "/L" reading the given store. Null for either
// operation removes both switches again.
void InstallProfileSwitches(ProfileExistsProcTp profileExists, LoadProfileProcTp loadProfile);

// The installed store's ProfileExists(name) and, only when that is true, the result of its
// LoadProfile(name, settings); false without the profile switches. A missing profile gives false
// without a message of the store.
bool LoadNamedProfile(const std::string& name, SettingsTp& settings);

// --- Value checks (the texts are already normalised) ---

bool StartsWithSlash(const std::string& text);
bool ContainsBackslash(const std::string& text);
// 1 to 7 decimal digits.
bool IsWALimitText(const std::string& text);
// 1 to 8 hexadecimal digits 0-9, A-F.
bool IsStartAddressText(const std::string& text);
bool IsZeroOrOne(const std::string& text);
bool IsZeroOneOrTwo(const std::string& text);
// "2", "2.0", "3", "3.0", "3.5", "4", "4.0", "4.5", "5", "5.0", "5.5", "6", "6.0".
bool IsMultiplierText(const std::string& text);
// "128KB" .. "4GB" (the size names without their underscore, upper-cased).
bool IsSizeText(const std::string& text);
bool IsMemoryTypeText(const std::string& text);
