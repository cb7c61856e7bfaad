#pragma once
// vopal-scan run as the LAN tests run it: with a settings store of its own,
// its rows parsed from the CSV it prints.

#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The cells of one printed row, as the CSV holds them.
using ScanRow = std::vector<std::string>;

struct ScanRun {
    int exitCode = -1;
    std::string output;
    std::string errors;                  // standard error
    std::map<std::string, ScanRow> rows; // by address
    std::vector<std::string> order;
    std::chrono::steady_clock::duration stopTook{}; // from the first signal to the end
};

struct ScanSetup {
    std::optional<std::chrono::milliseconds> interruptAfter; // SIGINT after that long,
    // The signals then sent; more than one arrive together (sent while the
    // program is stopped, delivered when it goes on).
    std::vector<int> signals = {SIGINT};
    std::string store;  // the settings store's text; empty: none at all
    std::string nofile; // descriptor limit ("soft[:hard]"), set by prlimit
    std::string tmpdir;
    std::vector<std::string> environment; // more "NAME=value" for the program
};

// Runs vopal-scan with its own empty settings store (so the stored defaults
// apply), as the setup says.
ScanRun RunScan(const std::vector<std::string>& args, const ScanSetup& setup = {});

// The rows that differ between two runs (missing, extra or changed), a line
// each, at most `limit` of them; empty when they are the same.
std::string RowDifferences(const std::map<std::string, ScanRow>& got,
                           const std::map<std::string, ScanRow>& wanted, size_t limit = 40);
