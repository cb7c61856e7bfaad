#pragma once
// One run of the diagnose dialog, without the window: the echo and the
// node-status query of one address text, and what the dialog then shows.
// Runs on any thread; it touches neither the result list nor a scan's lock.

#include <optional>
#include <string>

class StopSignal;

class ScanProbes;

struct DiagnoseResult {
    // The run's report, lines ended by "\r\n", as the result box shows it.
    std::string text;
    // True when the query answered and the value fields are to be filled;
    // false leaves every field as it was.
    bool decoded = false;
    // The values to show (UTF-8). An absent name leaves its field as it was.
    std::string macAddress;
    std::string vendor;
    std::optional<std::string> computerName;
    std::optional<std::string> domainName;
    std::string messengerNames;
};

// Pings `address`, then asks it for its node status through `lana` whatever
// the echo gave. The host's own messenger name is always left out and the
// vendor is always looked up, whatever the settings say. A failed query's
// text also goes to the run log.
// A raised `stop` (when given) cuts both waits short.
DiagnoseResult RunDiagnosis(ScanProbes& probes, const std::string& address, int lana,
                            int pingTimeoutMs, const StopSignal* stop = nullptr);
