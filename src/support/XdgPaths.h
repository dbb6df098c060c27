#pragma once
// The per-user folders of the XDG base directory rules, read from the environment each time
// so that a test can point them elsewhere.

#include <QString>

namespace XdgPaths {
// The home folder from the user database entry of the current user id, falling back to $HOME.
QString realHome();
QString configHome();   // $XDG_CONFIG_HOME or ~/.config
QString stateHome();    // $XDG_STATE_HOME or ~/.local/state
QString dataHome();     // $XDG_DATA_HOME or ~/.local/share
// $XDG_RUNTIME_DIR, or a private folder under the temporary folder when it is not set.
QString runtimeDir();
} // namespace XdgPaths
