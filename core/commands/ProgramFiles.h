#pragma once
// The files that come with the program -- our nbtstat and the help file --
// found from the running executable's own directory, which is the build
// directory (tools/nbtstat, vopala.html) or an installed bin directory (nbtstat
// beside it, the help file in ../share/kestrune-durvane/).

#include <string>

constexpr const char* kHelpFileName = "vopala.html";

// The real directory of the running executable, ending with '/'; empty when
// it cannot be found. Unlike the program directory of the settings it never
// moves to the per-user data directory.
std::string ExecutableDirectory();

// The nbtstat that belongs to the executable in `directory`: tools/nbtstat
// there when it exists (the build tree), else nbtstat beside it (installed).
std::string NbtstatPath(const std::string& directory);

// The help file for the executable in `directory`: beside it, else in the
// install's share directory; empty when neither exists.
std::string FindHelpFile(const std::string& directory);

// The full path of an executable program `name` in the directories of
// `searchPath` (a PATH value); empty when none holds it.
std::string FindOnPath(const std::string& name, const std::string& searchPath);
