#pragma once
// vopal-scan's command line: the options of one run, as parsed from its
// arguments, and the exit statuses it shares with main.

#include "core/ranges/AddressRange.h"
#include "core/scan/ScanRequest.h"
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
    bool formatGiven = false;     // a --format at all: no table on a terminal
    // --names: the sources of the hosts' names, as ScanOptions::nameSources;
    // node status always among them.
    unsigned nameSources = ScanOptions::kAllNameSources;
    bool namesGiven = false;
    bool noDns = false; // -n: no DNS lookups, whatever --names says
    std::string site;             // --site; empty: the host name
    WatchOptions watch;           // --notify, --on-change, --on-change-timeout
    std::string watchFile;        // --watch
    bool timeoutGiven = false;    // --on-change-timeout
};

// Tells the user what is wrong with the arguments; kExitUsage.
int UsageError(const std::string& message);

// Returns -1 to go on, else the exit code (0 after --help).
int ParseArguments(int argc, char** argv, Options& options);

// The options given that the chosen engine does not use, each as a line to
// tell on standard error; the scan runs without them.
std::vector<std::string> IgnoredOptions(const Options& options);

// The sources a scan with these options asks for names.
unsigned NameSourcesOf(const Options& options);
