#pragma once
// Opening an address with the desktop (the default browser for a web page,
// the default viewer for a file). The window layer has the real opener and
// hands it to the controls that open things; tests hand them a recorder.

#include <functional>
#include <string>

using ShellOpenHandler = std::function<bool(const std::string& target)>;

// True when `opener` took the target; false for an empty target or opener,
// or one that could not be opened.
bool ShellOpen(const ShellOpenHandler& opener, const std::string& target);
