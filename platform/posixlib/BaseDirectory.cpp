// BaseDirectory: the XDG base-directory rule.
#include "platform/posixlib/BaseDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace qrxposix {

namespace {

std::string HomeFolder() {
    // A relative HOME is no home, as a relative XDG folder is none: every file would land
    // wherever the program happened to be started.
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir && pw->pw_dir[0] == '/' ? pw->pw_dir : "";
}

std::string BaseDirectory(const char* variable, const char* belowHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/')
        return value;
    return HomeFolder() + belowHome;
}

} // namespace

std::string XdgConfigHome() {
    return BaseDirectory("XDG_CONFIG_HOME", "/.config");
}

std::string XdgStateHome() {
    return BaseDirectory("XDG_STATE_HOME", "/.local/state");
}

} // namespace qrxposix
