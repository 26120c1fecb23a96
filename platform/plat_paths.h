// Where the program keeps machine-wide and per-user state.
//
// SEALDESK_HOME, when set and not empty, holds everything:
//   machine = $SEALDESK_HOME/machine, user = $SEALDESK_HOME/user.
// Otherwise machine = /etc/sealdesk and
//   user = ${XDG_CONFIG_HOME:-$HOME/.config}/sealdesk.
// Read from the environment at every call, so tests can switch homes.
#pragma once
#include <string>

namespace plat {

// Folder standing for the local machine (no trailing slash).
std::string machineDir();
// Folder standing for the current user (no trailing slash). Empty when
// neither SEALDESK_HOME, XDG_CONFIG_HOME nor HOME is set.
std::string userDir();
// Creates `path` and its missing parents (mode 0700). True when it exists after.
bool makeDirs(const std::string &path);

}  // namespace plat
