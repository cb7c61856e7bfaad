#pragma once
// Opening an address with the desktop (the default browser for a web page,
// the default viewer for a file). The window layer installs the real opener;
// tests install one that records the request.

#include <functional>
#include <string>

using ShellOpenHandler = std::function<bool(const std::string& target)>;

// Installs a handler and returns the one it replaces.
ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler);

// True when the desktop took the target; false when it could not be opened
// (or no opener is installed).
bool ShellOpen(const std::string& target);
