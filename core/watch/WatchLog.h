#pragma once
// The run log of unattended scans: one UTF-8 text file beside the inventory
// (vopal-scan.log), appended to by every run that records there, so that
// an administrator finds what each run told and what its command said. A
// line per entry, each with the local time; a text of many lines (a
// command's standard error) is written as indented lines. Texts are plain:
// control characters as '.', bytes that are no UTF-8 as U+FFFD. When the
// file has grown past a limit it is moved to ".1" (the one before is
// dropped) and a new one is started.

#include <cstddef>
#include <string>

class WatchLog {
public:
    static constexpr const char* kFileName = "vopal-scan.log";
    static constexpr std::size_t kLimitBytes = 1024 * 1024;

    // The log beside `inventory` (a file path).
    static std::string PathBeside(const std::string& inventory);

    explicit WatchLog(std::string path, std::size_t limitBytes = kLimitBytes)
        : m_path(std::move(path)), m_limit(limitBytes) {}

    // Appends "YYYY/MM/DD hh:mm:ss text" and, for each line of `detail`,
    // "    | line". False when the file cannot be written (the caller tells
    // it once; the scan goes on).
    bool Write(const std::string& text, const std::string& detail = "");

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::size_t m_limit;
};

// A receiver's address as messages and logs show it: scheme, host and port
// only, since the rest of a webhook's address (and a user:password) is
// often its secret; "…" tells that something was left out.
std::string ReceiverName(const std::string& url);
