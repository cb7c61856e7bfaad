#pragma once
// vopal-scan's command line: the options of one run, as parsed from its
// arguments, and the exit statuses it shares with main.

#include "core/ranges/AddressRange.h"
#include "core/watch/ChangeWatch.h"

#include <string>
#include <vector>

inline constexpr int kExitUsage = 2;
inline constexpr int kExitChanges = 3;

enum class Format { Text, Csv, Json };

struct Options {
    std::vector<AddressRange> ranges;
    std::string listFile;
    bool hasList = false;
    int threads = -1;
    int rate = -1;
    int maxRate = -1;
    bool threadEngine = false;
    int timeout = -1;
    bool keepSilent = false;
    bool safeMode = false;
    bool cp932 = false;
    std::string database; // --db: where the scan is recorded
    bool changes = false;  // --changes
    std::string history;   // --history: the host whose timeline is printed
    Format format = Format::Text; // --format
    std::string site;             // --site; empty: the host name
    WatchOptions watch;           // --notify, --on-change, --on-change-timeout
    std::string watchFile;        // --watch
    bool timeoutGiven = false;    // --on-change-timeout
};

// Tells the user what is wrong with the arguments; kExitUsage.
int UsageError(const std::string& message);

// Returns -1 to go on, else the exit code (0 after --help).
int ParseArguments(int argc, char** argv, Options& options);
