// Files: the POSIX file operations that the registry and the log-on start entries share.
#pragma once

#include <string>
#include <sys/types.h>

namespace posixfiles {

// The folder part of a path ("." when it has none, "/" for a file in the root).
std::string DirectoryOf(const std::string& file);

// Creates the folder and every missing parent (0700: private to the user, as the XDG rules
// ask). False with a cause that names the folder when one cannot be made or is not a folder.
bool MakeFolders(const std::string& dir, std::string& cause);

// Replaces file with text so that a reader, a crash or a failed write only ever leaves the old
// or the new content: a temporary file beside it is written, flushed and renamed over it, and
// the folder is flushed too. The new file keeps the old one's permissions, or gets newMode when
// there was none. Temporaries left by a writer that was killed are removed first.
bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 std::string& cause);

} // namespace posixfiles
