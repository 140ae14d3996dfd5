// Files: the POSIX file operations that the registry and the log-on start entries share.
#include "platform/posix/Files.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posixfiles {

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

} // namespace

std::string DirectoryOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

bool MakeFolders(const std::string& dir, std::string& cause) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        cause = dir + " is not a folder";
        return false;
    }
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && !MakeFolders(parent, cause))
        return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        cause = "cannot create the folder " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ReplaceFile(const std::string& file, const std::string& text, mode_t newMode,
                 std::string& cause) {
    const std::string dir = DirectoryOf(file);
    RemoveStaleTemporaries(dir, BaseNameOf(file) + ".tmp-");
    std::string temp = file + ".tmp-XXXXXX";
    const int fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) {
        cause = "cannot create a temporary file beside " + file + ": " + std::strerror(errno);
        return false;
    }
    struct stat old;
    const mode_t mode = ::stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : newMode;
    bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
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
        return false;
    }
    // The rename itself must reach the disk too, or a power cut could bring the old file back.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace posixfiles
