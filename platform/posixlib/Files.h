// Files: the POSIX file operations that the registry, the log-on start entries and the
// simulator's state file share. Each reports a failure with errno set to its reason, or with a
// cause phrase that its caller puts into a message naming the file.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace qrxposix {

// The folder part of a path ("." when it has none, "/" for a file in the root).
std::string DirectoryOf(const std::string& file);

// Creates the folder and every missing parent, each with mode. False when one cannot be made:
// failed names that folder and errno says why (ENOTDIR when something other than a folder
// stands in its place), and the folders this call made before are removed again.
bool MakeFolders(const std::string& dir, mode_t mode, std::string& failed);
// The cause of a failed MakeFolders as one phrase: "<folder> is not a folder" or "cannot create
// the folder <folder>: <reason>".
std::string MakeFoldersCause(const std::string& failed, int error);

// A size as people read it: "64 KiB", "1 MiB", or bytes below 1 KiB.
std::string SizeText(uint64_t bytes);

// What looking at, opening or reading one of our files found. Every outcome but Regular and
// Missing comes with a cause phrase about the file, without its name ("it is a named pipe
// (FIFO), not a regular file"), for the caller's message.
enum class FileOutcome {
    Regular,      // a regular file, opened (or read)
    Missing,      // nothing is there
    DanglingLink, // a symbolic link whose target does not exist
    NotRegular,   // a folder, named pipe, device or socket
    TooLarge,     // larger than the caller's limit
    Failed,       // the system refused (permissions and the like); errno says why
};

// What stands at file, without opening it: Regular, Missing, DanglingLink, NotRegular or
// Failed.
FileOutcome LookAt(const std::string& file, std::string& cause);

// Opens file with flags as open(2) takes them, only when it is a regular file (following
// links). The open never blocks: a named pipe in the file's place would wait for a writer for
// ever, and a program waiting so while holding a lock would stop every other program too. With
// O_CREAT a missing file is created with mode (the umask applies). fd is the open file when the
// outcome is Regular, else -1.
FileOutcome OpenRegularFile(const std::string& file, int flags, mode_t mode, int& fd,
                            std::string& cause);

// Reads a regular file whole into text: OpenRegularFile's outcomes, and TooLarge when it holds
// more than limit bytes (text is then empty). A caller's limit bounds the memory that whatever
// stands in the file's place can take.
FileOutcome ReadRegularFile(const std::string& file, uint64_t limit, std::string& text,
                            std::string& cause);
// The same, but a file of more than limit bytes gives its last limit bytes (Regular).
FileOutcome ReadRegularFileTail(const std::string& file, uint64_t limit, std::string& text,
                                std::string& cause);

// Reads from fd up to its end, retrying interrupted reads. Stops early once the text holds more
// than limit bytes (the caller sees the size). False when a read fails.
bool ReadAll(int fd, std::string& text, uint64_t limit = UINT64_MAX);
// ReadRegularFile with errno for its outcome: false when there is no file (ENOENT), when it is
// not a regular file (EINVAL), larger than limit (EFBIG), or cannot be opened or read.
bool ReadWholeFile(const std::string& file, std::string& text, uint64_t limit = UINT64_MAX);
// Writes all of text to fd, retrying interrupted and partial writes.
// A write past the file size limit (ulimit -f) fails with EFBIG, as on a full disk, instead of
// killing the program with SIGXFSZ: the first call of WriteAll ignores that signal unless the
// program chose its own handling.
bool WriteAll(int fd, const std::string& text);

// How long a program waits for a lock that stays with one program before it gives up. Our own
// writers hold a lock for milliseconds (one read, one write, one flush), so a lock held this long
// belongs to a program that hangs or was stopped, and waiting on would only hang this one too.
constexpr std::chrono::seconds LockWait{5};

enum class LockOutcome { Locked, Held, Failed };
// Takes the exclusive flock on fd, an open lock file. While the lock changes hands (each holder
// marks its release with Unlock) the wait goes on, however busy the lock; when it stays with one
// holder for wait, the outcome is Held. Failed (errno set) when the lock cannot be taken at all.
LockOutcome LockExclusive(int fd, std::chrono::milliseconds wait = LockWait);
// A lock that one holder kept for the whole wait is given up on once per program run: a later
// LockExclusive on the same lock file fails at once (Held) while that holder still has it, so a
// program with many requests waits for a stopped one only once. When the lock has changed hands
// since, the wait is as usual.
//
// Lets go of the lock LockExclusive took and marks the release in the lock file for the waiters.
void Unlock(int fd);
// The cause for a Held lock: "<file> is held by another program (its lock <lockFile> stayed
// taken for 5 seconds); let that program finish, or end it, and try again".
std::string HeldByAnotherProgram(const std::string& file, const std::string& lockFile);

// Opens the lock file that guards file, creating it with mode (less the umask): file + ".lock"
// beside the file that file resolves to, so that programs reaching one file through different
// links take one lock. The lock file itself is never followed: a symbolic link, a folder or any
// other non-file in its place is left as it is and refused with a cause naming it. fd and
// lockFile are set on success.
bool OpenLockFile(const std::string& file, mode_t mode, int& fd, std::string& lockFile,
                  std::string& cause);

// The file that file names, its symbolic links followed: file itself when it is no link (or
// does not exist). False with a cause for a dangling link (errno ENOENT) or a loop of links
// (ELOOP).
bool ResolveLinks(const std::string& file, std::string& target, std::string& cause);

// Whether ReplaceFile makes the new content survive a power cut before it returns.
enum class Durability {
    Flushed,   // the file and its folder are flushed to disk
    Unflushed, // left to the system: the content must only be whole, not survive the computer
};

// Who else may replace the same file at the same moment.
enum class Writers {
    // The caller holds a lock that keeps every other writer of the file out. Its temporary file
    // has one fixed name beside the file (file + ".tmp"), so a leftover of a killed writer is
    // found without looking through the folder and is removed by the next one.
    Locked,
    // Nothing keeps other writers out. Each temporary file gets a name of its own
    // (file + ".tmp-XXXXXX") and its writer holds a lock on it until it is renamed; leftovers are
    // removed only when no one holds their lock any more, that is when their writer is gone.
    Concurrent,
};

// Replaces file with text so that a reader, a crash or a failed write only ever leaves the old
// or the new content: a temporary file beside it is written and renamed over it. When file is a
// symbolic link the link's target is replaced, in the target's own folder, and the link stays;
// a dangling link is refused. Something other than a regular file in the file's place is
// refused too. The new file keeps the old one's permissions, or gets newMode less the umask
// when there was none. False with a cause naming the file and the reason.
bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 Durability durability, Writers writers, std::string& cause);

// Removes the temporary file that a killed Writers::Locked writer of file left behind; the
// caller holds the lock. Cheap enough for every transaction (no look through the folder).
void RemoveLeftoverTemporary(const std::string& file);

} // namespace qrxposix
