// BaseDirectory: the XDG base-directory rule for the folders where a user's configuration and
// state live.
#pragma once

#include <string>

namespace qrxposix {

// $XDG_CONFIG_HOME when it holds an absolute path (a relative one is invalid and ignored), else
// the home folder's .config: the home folder is $HOME when it is an absolute path, else the
// user's entry in the password database.
std::string XdgConfigHome();
// The same for $XDG_STATE_HOME, defaulting to the home folder's .local/state.
std::string XdgStateHome();

} // namespace qrxposix
