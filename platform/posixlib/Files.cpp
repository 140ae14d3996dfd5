// Files: the POSIX file operations that the registry, the log-on start entries and the
// simulator's state file share.
#include "platform/posixlib/Files.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qrxposix {

namespace {

std::string BaseNameOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent* entry = ::readdir(d))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            ::unlinkat(::dirfd(d), entry->d_name, 0);
    ::closedir(d);
}

} // namespace

std::string DirectoryOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

bool MakeFolders(const std::string& dir, mode_t mode, std::string& failed) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        failed = dir;
        errno = ENOTDIR;
        return false;
    }
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeFolders(parent, mode, failed))
        return false;
    if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) {
        failed = dir;
        return false;
    }
    return true;
}

std::string MakeFoldersCause(const std::string& failed, int error) {
    if (error == ENOTDIR)
        return failed + " is not a folder";
    return "cannot create the folder " + failed + ": " + std::strerror(error);
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
    text.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = ReadAll(fd, text, limit);
    const int error = errno;
    ::close(fd);
    errno = error;
    return read;
}

bool WriteAll(int fd, const std::string& text) {
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

bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 Durability durability, std::string& cause) {
    const bool flushed = durability == Durability::Flushed;
    const std::string dir = DirectoryOf(file);
    RemoveStaleTemporaries(dir, BaseNameOf(file) + ".tmp-");
    std::string temp = file + ".tmp-XXXXXX";
    const int fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        cause = "cannot create a temporary file beside " + file + ": " + std::strerror(error);
        errno = error;
        return false;
    }
    struct stat old;
    const mode_t mode = ::stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : newMode;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && (!flushed || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        cause = "cannot write " + file + ": " + std::strerror(error);
        ::unlink(temp.c_str());
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

} // namespace qrxposix
