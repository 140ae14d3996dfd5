// Files: the POSIX file operations that the registry, the log-on start entries and the
// simulator's state file share.
#include "platform/posixlib/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qrxposix {

namespace {

std::string BaseNameOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe (FIFO)";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "something other than a file";
}

std::string NotRegularCause(mode_t mode) {
    return "it is " + KindOf(mode) + ", not a regular file";
}

// The text of a symbolic link, or empty when it cannot be read.
std::string LinkText(const std::string& link) {
    std::string text(4096, '\0');
    const ssize_t n = ::readlink(link.c_str(), &text[0], text.size());
    if (n < 0 || static_cast<size_t>(n) >= text.size())
        return std::string();
    text.resize(static_cast<size_t>(n));
    return text;
}

} // namespace

FileOutcome LookAt(const std::string& file, std::string& cause) {
    struct stat st;
    if (::stat(file.c_str(), &st) == 0) {
        if (S_ISREG(st.st_mode))
            return FileOutcome::Regular;
        cause = NotRegularCause(st.st_mode);
        return FileOutcome::NotRegular;
    }
    const int error = errno;
    if (error == ENOENT || error == ENOTDIR) {
        std::string target;
        if (!ResolveLinks(file, target, cause))
            return FileOutcome::DanglingLink;
        return FileOutcome::Missing;
    }
    cause = std::strerror(error);
    errno = error;
    return FileOutcome::Failed;
}

namespace {

// Six letters or digits that no other writer is likely to pick at the same moment.
std::string RandomSuffix() {
    static const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static unsigned counter = 0;
        uint64_t mix =
            static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull ^
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            ++counter;
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(mix);
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
        }
    }
    std::string suffix;
    for (unsigned char b : bytes)
        suffix += Letters[b % (sizeof Letters - 1)];
    return suffix;
}

bool SameFile(int fd, int dirFd, const char* name) {
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 && ::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// A Writers::Concurrent temporary file beside target, created with mode (less the umask) and
// locked. A remover of leftovers takes that lock before it removes a file, so once this writer
// holds the lock and its file still has its name, nobody removes it until it is renamed; when
// a remover came first (between the creation and the lock), another name is tried.
int CreateLockedTemporary(const std::string& target, mode_t mode, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp-" + RandomSuffix();
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return -1;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && SameFile(fd, AT_FDCWD, temp.c_str()))
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Removes the Writers::Concurrent temporaries of target whose writer is gone: a writer holds
// the lock on its temporary until it has renamed it, and the system lets go of the lock when the
// writer dies.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    const size_t nameLength = prefix.size() + 6;
    while (const dirent* entry = ::readdir(d)) {
        if (std::strlen(entry->d_name) != nameLength ||
            std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const int fd = ::openat(::dirfd(d), entry->d_name,
                                O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            SameFile(fd, ::dirfd(d), entry->d_name))
            ::unlinkat(::dirfd(d), entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

} // namespace

std::string DirectoryOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

namespace {

bool MakeFoldersRecording(const std::string& dir, mode_t mode, std::string& failed,
                          std::vector<std::string>& made) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        failed = dir;
        errno = ENOTDIR;
        return false;
    }
    // A path the system cannot take whole would fail only deep down, after many folders.
    if (dir.size() >= PATH_MAX) {
        failed = dir;
        errno = ENAMETOOLONG;
        return false;
    }
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeFoldersRecording(parent, mode, failed, made))
        return false;
    if (::mkdir(dir.c_str(), mode) == 0) {
        made.push_back(dir);
    } else if (errno != EEXIST) {
        failed = dir;
        return false;
    }
    return true;
}

} // namespace

bool MakeFolders(const std::string& dir, mode_t mode, std::string& failed) {
    std::vector<std::string> made;
    if (MakeFoldersRecording(dir, mode, failed, made))
        return true;
    // A failure leaves the folders as they were: what this call made goes again, newest first
    // (only while empty, so nothing another program put there is lost).
    const int error = errno;
    for (auto it = made.rbegin(); it != made.rend(); ++it)
        ::rmdir(it->c_str());
    errno = error;
    return false;
}

std::string MakeFoldersCause(const std::string& failed, int error) {
    if (error == ENOTDIR)
        return failed + " is not a folder";
    return "cannot create the folder " + failed + ": " + std::strerror(error);
}

std::string SizeText(uint64_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

FileOutcome OpenRegularFile(const std::string& file, int flags, mode_t mode, int& fd,
                            std::string& cause) {
    fd = -1;
    // Whatever is not a regular file is refused unopened, so that opening a device has no
    // effect and a named pipe cannot block.
    FileOutcome outcome = LookAt(file, cause);
    if (outcome != FileOutcome::Regular && !(outcome == FileOutcome::Missing && (flags & O_CREAT)))
        return outcome;
    const int opened = ::open(file.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    if (opened < 0) {
        const int error = errno;
        // Something else may have taken the file's place since the look.
        outcome = LookAt(file, cause);
        if (outcome == FileOutcome::Regular || outcome == FileOutcome::Missing) {
            if (error == ENOENT || error == ENOTDIR)
                return FileOutcome::Missing;
            cause = std::strerror(error);
            outcome = FileOutcome::Failed;
        }
        errno = error;
        return outcome;
    }
    struct stat st;
    if (::fstat(opened, &st) != 0) {
        const int error = errno;
        cause = std::strerror(error);
        ::close(opened);
        errno = error;
        return FileOutcome::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        cause = NotRegularCause(st.st_mode);
        ::close(opened);
        return FileOutcome::NotRegular;
    }
    fd = opened;
    return FileOutcome::Regular;
}

namespace {

FileOutcome ReadRegular(const std::string& file, uint64_t limit, bool keepTail, std::string& text,
                        std::string& cause) {
    text.clear();
    int fd = -1;
    const FileOutcome outcome = OpenRegularFile(file, O_RDONLY, 0, fd, cause);
    if (outcome != FileOutcome::Regular)
        return outcome;
    struct stat st;
    bool read = ::fstat(fd, &st) == 0;
    const bool large = read && static_cast<uint64_t>(st.st_size) > limit;
    if (large && keepTail)
        read = ::lseek(fd, st.st_size - static_cast<off_t>(limit), SEEK_SET) >= 0;
    // A file that is too large is not read at all; one that grows while it is read stops the
    // read just past the limit.
    read = read && (large && !keepTail ? true : ReadAll(fd, text, limit));
    const int error = errno;
    ::close(fd);
    if (!read) {
        cause = std::strerror(error);
        errno = error;
        return FileOutcome::Failed;
    }
    if (keepTail) {
        if (text.size() > limit)
            text.erase(0, text.size() - limit);
        return FileOutcome::Regular;
    }
    if (!large && text.size() <= limit)
        return FileOutcome::Regular;
    text.clear();
    cause = "it holds more than " + SizeText(limit);
    return FileOutcome::TooLarge;
}

} // namespace

FileOutcome ReadRegularFile(const std::string& file, uint64_t limit, std::string& text,
                            std::string& cause) {
    return ReadRegular(file, limit, false, text, cause);
}

FileOutcome ReadRegularFileTail(const std::string& file, uint64_t limit, std::string& text,
                                std::string& cause) {
    return ReadRegular(file, limit, true, text, cause);
}

bool ReadAll(int fd, std::string& text, uint64_t limit) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > limit)
            return true;
    }
}

bool ReadWholeFile(const std::string& file, std::string& text, uint64_t limit) {
    std::string cause;
    switch (ReadRegular(file, limit, false, text, cause)) {
    case FileOutcome::Regular:
        return true;
    case FileOutcome::TooLarge:
        errno = EFBIG;
        return false;
    case FileOutcome::Missing:
    case FileOutcome::DanglingLink:
        errno = ENOENT;
        return false;
    case FileOutcome::NotRegular:
        errno = EINVAL;
        return false;
    case FileOutcome::Failed:
        return false;
    }
    return false;
}

namespace {

void IgnoreFileSizeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current;
        if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
            !(current.sa_flags & SA_SIGINFO))
            ::signal(SIGXFSZ, SIG_IGN);
    });
}

} // namespace

bool WriteAll(int fd, const std::string& text) {
    IgnoreFileSizeSignal();
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// How often the lock has changed hands: a count at the start of the lock file, which only its
// holder writes.
uint64_t Releases(int fd) {
    uint64_t count = 0;
    return ::pread(fd, &count, sizeof count, 0) == static_cast<ssize_t>(sizeof count) ? count : 0;
}

// The locks this program gave up on: the lock file, and how often its lock had changed hands
// then. While that count stands, the same holder still has the lock.
struct GivenUpLock {
    dev_t device;
    ino_t inode;
    uint64_t releases;
};
std::mutex g_givenUpMutex;
std::vector<GivenUpLock> g_givenUp;

std::vector<GivenUpLock>::iterator FindGivenUp(const struct stat& st) {
    return std::find_if(g_givenUp.begin(), g_givenUp.end(), [&](const GivenUpLock& lock) {
        return lock.device == st.st_dev && lock.inode == st.st_ino;
    });
}

LockOutcome Remember(int fd, LockOutcome outcome, uint64_t releases) {
    struct stat st;
    if (outcome == LockOutcome::Failed || ::fstat(fd, &st) != 0)
        return outcome;
    std::lock_guard<std::mutex> guard(g_givenUpMutex);
    const auto found = FindGivenUp(st);
    if (outcome == LockOutcome::Locked && found != g_givenUp.end())
        g_givenUp.erase(found);
    else if (outcome == LockOutcome::Held && found != g_givenUp.end())
        found->releases = releases;
    else if (outcome == LockOutcome::Held)
        g_givenUp.push_back({st.st_dev, st.st_ino, releases});
    return outcome;
}

// Whether this program gave up on the lock of fd and the same holder still has it.
bool StillGivenUp(int fd, uint64_t releases) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    std::lock_guard<std::mutex> guard(g_givenUpMutex);
    const auto found = FindGivenUp(st);
    return found != g_givenUp.end() && found->releases == releases;
}

} // namespace

LockOutcome LockExclusive(int fd, std::chrono::milliseconds wait) {
    // flock cannot wait with a time limit, so the wait polls, backing off to five hundred tries a
    // second. Polling is not fair: a busy program that lets go and takes the lock again at once
    // can keep it from a waiter for long. So the time runs from the last release another holder
    // marked, and only a lock that stays with one holder is given up on.
    uint64_t releases = Releases(fd);
    if (StillGivenUp(fd, releases))
        wait = std::chrono::milliseconds{0};
    auto deadline = std::chrono::steady_clock::now() + wait;
    std::chrono::milliseconds pause{1};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return Remember(fd, LockOutcome::Locked, releases);
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return LockOutcome::Failed;
        const auto now = std::chrono::steady_clock::now();
        const uint64_t seen = Releases(fd);
        if (seen != releases) {
            releases = seen;
            deadline = now + wait;
        }
        if (now >= deadline)
            return Remember(fd, LockOutcome::Held, releases);
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds{2});
    }
}

void Unlock(int fd) {
    const uint64_t releases = Releases(fd) + 1;
    // A failed mark costs a waiter only its patience with a busy lock.
    (void)!::pwrite(fd, &releases, sizeof releases, 0);
    ::flock(fd, LOCK_UN);
}

std::string HeldByAnotherProgram(const std::string& file, const std::string& lockFile) {
    return file + " is held by another program (its lock " + lockFile + " stayed taken for " +
           std::to_string(LockWait.count()) +
           " seconds); let that program finish, or end it, and try again";
}

bool OpenLockFile(const std::string& file, mode_t mode, int& fd, std::string& lockFile,
                  std::string& cause) {
    fd = -1;
    std::string target, why;
    // A dangling link or a loop is the guarded file's own fault, which its reader reports;
    // the lock then stays beside the name given.
    if (!ResolveLinks(file, target, why))
        target = file;
    lockFile = target + ".lock";
    const std::string cannot = "cannot open the lock file " + lockFile + ": ";
    struct stat st;
    if (::lstat(lockFile.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // Following a link here would let whoever placed it have a file of the user's created
        // or overwritten; a folder or a device cannot be a lock at all.
        cause = cannot +
                (S_ISLNK(st.st_mode) ? std::string("it is a symbolic link, which is left as it is")
                                     : NotRegularCause(st.st_mode)) +
                "; remove it, and a new lock file takes its place";
        errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
        return false;
    }
    fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW,
                mode);
    if (fd < 0) {
        const int error = errno;
        cause = cannot + std::strerror(error);
        errno = error;
        return false;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        cause = cannot + (S_ISREG(st.st_mode) ? std::strerror(error) : NotRegularCause(st.st_mode));
        ::close(fd);
        fd = -1;
        errno = EINVAL;
        return false;
    }
    return true;
}

bool ResolveLinks(const std::string& file, std::string& target, std::string& cause) {
    target = file;
    // As many links as the system itself follows in one path.
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0) {
            if (hops > 0 && (errno == ENOENT || errno == ENOTDIR)) {
                cause = "it is a link to " + target + ", which does not exist";
                errno = ENOENT;
                return false;
            }
            return true; // missing, or unreachable: what is done with it next says why
        }
        if (!S_ISLNK(st.st_mode))
            return true;
        const std::string link = LinkText(target);
        if (link.empty()) {
            const int error = errno ? errno : ENAMETOOLONG;
            cause = "its link " + target + " cannot be read: " + std::strerror(error);
            errno = error;
            return false;
        }
        target = link[0] == '/' ? link : DirectoryOf(target) + "/" + link;
    }
    cause = "its symbolic links form a loop";
    errno = ELOOP;
    return false;
}

bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 Durability durability, Writers writers, std::string& cause) {
    const bool flushed = durability == Durability::Flushed;
    // A link is kept and its target replaced: the user put the file elsewhere on purpose (a
    // folder of dotfiles, say), and the rename must happen in the target's own folder.
    std::string target, why;
    if (!ResolveLinks(file, target, why)) {
        const int error = errno;
        cause = "cannot write " + file + ": " + why + " (restore it, or remove the link)";
        errno = error;
        return false;
    }
    struct stat old;
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode)) {
        cause = "cannot write " + file + ": " + NotRegularCause(old.st_mode);
        errno = EINVAL;
        return false;
    }
    const std::string dir = DirectoryOf(target);
    std::string temp;
    int fd;
    if (writers == Writers::Locked) {
        temp = target + ".tmp";
        // A killed writer's leftover file goes (the caller holds the lock); anything else in the
        // temporary's place is the user's, and no write could succeed while it stands there.
        struct stat there;
        if (::lstat(temp.c_str(), &there) == 0 && S_ISDIR(there.st_mode)) {
            cause = "cannot write " + target + ": its temporary file " + temp +
                    " cannot be made: " + NotRegularCause(there.st_mode) + "; remove it";
            errno = EISDIR;
            return false;
        }
        ::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, newMode);
    } else {
        RemoveStaleTemporaries(dir, BaseNameOf(target) + ".tmp-");
        fd = CreateLockedTemporary(target, newMode, temp);
    }
    if (fd < 0) {
        const int error = errno;
        cause = "cannot create a temporary file beside " + target + ": " + std::strerror(error);
        errno = error;
        return false;
    }
    // A Concurrent temporary stays locked until it is renamed: the lock belongs to the open file,
    // which this second descriptor keeps open after the first is closed.
    const int holder = writers == Writers::Concurrent ? ::dup(fd) : -1;
    // A new file was created with newMode less the umask; an existing one keeps its permissions.
    bool ok = (writers == Writers::Locked || holder >= 0) && WriteAll(fd, text) &&
              (!existed || ::fchmod(fd, old.st_mode & 07777) == 0) &&
              (!flushed || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok)
        ::unlink(temp.c_str());
    if (holder >= 0)
        ::close(holder);
    if (!ok) {
        cause = "cannot write " + target + ": " + std::strerror(error);
        errno = error;
        return false;
    }
    // The rename itself must reach the disk too, or a power cut could bring the old file back.
    if (flushed) {
        const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
    }
    return true;
}

void RemoveLeftoverTemporary(const std::string& file) {
    std::string target, cause;
    if (ResolveLinks(file, target, cause))
        ::unlink((target + ".tmp").c_str());
}

} // namespace qrxposix
