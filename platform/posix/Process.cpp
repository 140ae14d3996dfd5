// Process seam, POSIX: the program's file name from /proc/self/exe.
#include "platform/Process.h"

#include <climits>
#include <unistd.h>
#include <vector>

std::string ProgramFileName() {
    std::vector<char> buffer(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (static_cast<size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}
