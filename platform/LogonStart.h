// Log-on start seam: a named per-user command that the desktop runs when the user logs on.
// On POSIX the entry named N is the XDG autostart file $XDG_CONFIG_HOME/autostart/N.desktop; the
// entry exists exactly when that file exists.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// The command of an entry: the program's path and its arguments, kept apart so that a path or an
// argument holding blanks or other reserved characters survives the trip through the entry.
struct LogonCommand {
    std::string program;
    std::vector<std::string> arguments;
};

bool operator==(const LogonCommand& a, const LogonCommand& b);
std::ostream& operator<<(std::ostream& os, const LogonCommand& command);

// The file that holds the entry N (it need not exist); empty when N is not a usable file name
// (empty, ".", "..", or holding "/" or a NUL).
std::string LogonStartFile(const std::string& name);

bool LogonStartExists(const std::string& name);

// Creates or replaces the entry N. The new file is written beside the old one and renamed over
// it, so a failure leaves the old entry as it was. False with a one-line cause in error
// (naming the file) when the entry could not be written.
bool WriteLogonStart(const std::string& name, const LogonCommand& command, std::string& error);

// Removes the entry N; removing an entry that does not exist succeeds. False with a one-line
// cause in error when the file is there and cannot be removed.
bool RemoveLogonStart(const std::string& name, std::string& error);

// The Exec value of a desktop entry for the command: each argument quoted when it holds a
// reserved character, '"', '`', '$' and '\' escaped inside the quotes, '%' doubled, then the
// string escapes of the file format applied. False when the command cannot be written in an
// entry (an empty program, or a NUL or another control character other than tab, line feed and
// carriage return, or text that is not UTF-8).
bool DesktopExecValue(const LogonCommand& command, std::string& exec);

// The reverse of DesktopExecValue: the string escapes undone, the line split into the program and
// its arguments and the quoting undone, "%%" read as "%". False on an unterminated quote, a
// reserved character outside quotes, or a field code other than "%%".
bool ParseDesktopExecValue(const std::string& exec, LogonCommand& command);

// The command of an existing entry N, read back from its Exec line; false when there is no entry
// or its Exec line does not parse.
bool ReadLogonStart(const std::string& name, LogonCommand& command);
