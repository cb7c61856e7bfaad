#pragma once
// The desktop's opener on Qt: the default browser for a web address, the
// default viewer for a file.

#include <string>

// True when the desktop took the target.
bool DesktopOpen(const std::string& target);
