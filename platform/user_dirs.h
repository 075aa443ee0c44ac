#pragma once
// Where the user's own files live, as the XDG rules place them.
#include <string>

namespace lumora::platform {

// $HOME, else the password database's home; empty when neither is known.
std::string homeDirectory();
// $XDG_CONFIG_HOME when it is absolute (a relative one is ignored, as the rules say), else
// home + "/.config"; empty when no home is known.
std::string configHome();

}  // namespace lumora::platform
