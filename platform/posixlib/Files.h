// Files: the POSIX file operations that the registry, the log-on start entries and the
// simulator's state file share. Each reports a failure with errno set to its reason.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace qrxposix {

// The folder part of a path ("." when it has none, "/" for a file in the root).
std::string DirectoryOf(const std::string& file);

// Creates the folder and every missing parent, each with mode. False when one cannot be made:
// failed names that folder and errno says why (ENOTDIR when something other than a folder
// stands in its place).
bool MakeFolders(const std::string& dir, mode_t mode, std::string& failed);
// The cause of a failed MakeFolders as one phrase: "<folder> is not a folder" or "cannot create
// the folder <folder>: <reason>".
std::string MakeFoldersCause(const std::string& failed, int error);

// Reads from fd up to its end, retrying interrupted reads. Stops early once the text holds more
// than limit bytes (the caller sees the size). False when a read fails.
bool ReadAll(int fd, std::string& text, uint64_t limit = UINT64_MAX);
// Opens the file and reads it whole (ReadAll's limit). False when it cannot be opened or read.
bool ReadWholeFile(const std::string& file, std::string& text, uint64_t limit = UINT64_MAX);
// Writes all of text to fd, retrying interrupted and partial writes.
bool WriteAll(int fd, const std::string& text);

// Whether ReplaceFile makes the new content survive a power cut before it returns.
enum class Durability {
    Flushed,   // the file and its folder are flushed to disk
    Unflushed, // left to the system: the content must only be whole, not survive the computer
};

// Replaces file with text so that a reader, a crash or a failed write only ever leaves the old
// or the new content: a temporary file beside it is written and renamed over it. The new file
// keeps the old one's permissions, or gets newMode when there was none. Temporaries left by a
// writer that was killed are removed first, so the caller must be the only writer of the file
// at the time (under its lock). False with a cause naming the file and the reason.
bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 Durability durability, std::string& cause);

} // namespace qrxposix
