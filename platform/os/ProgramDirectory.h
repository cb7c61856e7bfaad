#pragma once
// Where the program keeps its files (run log, list file, batch file): beside
// the executable when it runs from its build tree, else -- an installed copy,
// whoever runs it -- in the per-user data directory, so that nothing is ever
// written into a system directory such as /usr/bin.

#include <string>

struct ProgramDirectoryInfo {
    std::string path;    // real directory, ending with '/'; used to open files
    std::string display; // the same text lower-cased; only shown and logged
};

enum class ProgramDirectoryResult {
    Found,
    UnknownExecutable, // the executable's own path cannot be read (no /proc, say)
    NoDataDirectory,   // an installed copy whose data directory cannot be made;
                       // `path` of the info holds the one tried ("" without a home)
};

// Fills `out` with the directory for the running executable.
ProgramDirectoryResult FindProgramDirectory(ProgramDirectoryInfo& out);

// Where a copy of the program keeps its files.
enum class ProgramFilesPlace { BesideExecutable, UserData };

// The decision itself, from values: `executableDirectory` is the running
// executable's real directory, `buildDirectory` the real path of the build
// directory this executable was compiled for ("" when it no longer exists).
// A copy inside that build directory keeps its files beside itself unless it
// cannot write there; any other copy is an installed one.
ProgramFilesPlace ChooseProgramFilesPlace(const std::string& executableDirectory,
                                          const std::string& buildDirectory,
                                          bool executableDirectoryWritable);

// True when `path` is `directory` itself or lies below it. Both are absolute
// and free of "." and ".." parts; trailing slashes do not matter.
bool IsWithinDirectory(const std::string& path, const std::string& directory);

// The directory of a file path including its final '/', or "" for a bare name.
std::string DirectoryOf(const std::string& filePath);

// ASCII letters lower-cased; bytes of multibyte characters are left alone.
std::string LowerCaseAscii(std::string text);

// $XDG_DATA_HOME/kestrune-durvane/ from the variable's value (null when it is
// not set) and the home directory: a value that is not an absolute path is
// ignored, and ~/.local/share is the default. "" when neither is usable.
std::string UserDataDirectoryPath(const char* xdgDataHome, const std::string& home);

// UserDataDirectoryPath() for this process, created if missing. Empty when no
// home directory is known or the directory cannot be made.
std::string UserDataDirectory();
