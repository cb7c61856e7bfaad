#pragma once
// Where the program keeps its files (run log, list file, batch file): the
// directory of the running executable, or the per-user data directory when
// that one cannot be written (an installed copy).

#include <string>

struct ProgramDirectoryInfo {
    std::string path;    // real directory, ending with '/'; used to open files
    std::string display; // the same text lower-cased; only shown and logged
};

// Fills `out` and returns true; false when the executable's own path cannot
// be found (no /proc, say).
bool FindProgramDirectory(ProgramDirectoryInfo& out);

// The directory of a file path including its final '/', or "" for a bare name.
std::string DirectoryOf(const std::string& filePath);

// ASCII letters lower-cased; bytes of multibyte characters are left alone.
std::string LowerCaseAscii(std::string text);

// $XDG_DATA_HOME/kestrune-durvane/ (default ~/.local/share/...), created if
// missing. Empty when no home directory is known.
std::string UserDataDirectory();
