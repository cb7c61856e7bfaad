#pragma once
// A finished scan as the inventory takes it in.

#include "core/ranges/AddressRange.h"
#include "core/scan/HostRecord.h"

#include <cstdint>
#include <string>
#include <vector>

struct RecordedScan {
    std::int64_t startedMs = 0; // Unix time in milliseconds
    std::int64_t endedMs = 0;
    std::vector<AddressRange> ranges;
    bool complete = true;         // false: stopped before the end of its ranges
    std::string settings;         // the options it ran with, as text
    std::vector<HostRecord> rows; // the answering addresses: their address and cells
    // The receivers told of the scan's changes (a notice waits for each in
    // the store), unless it brought none or is the store's first.
    std::vector<std::string> notify;
    // The site it was made at (empty: not told), and the id the site gave it,
    // by which a scan delivered twice is recorded once (empty: none).
    std::string site;
    std::string siteScan;
    // The server (an address without its password) the scan waits for in the
    // site's own store, when that could not be reached; empty: none.
    std::string forServer;
};
