#pragma once
// The values that steer the program: the stored ones (under their registry
// names) and a few worked out at start-up. One value of it belongs to the
// application, which hands it to whoever needs it; SettingsStore loads and
// saves it.

#include <string>

struct ScanSettingsRecord {
    // Stored under the settings key, each under its own name.
    int PingTimeout = 0;                 // ms, one ICMP echo request
    int MaxThread = 0;                   // concurrently running workers, minus one
    int SafeMode = 0;                    // 1: node-status queries one at a time
    int IgnoreNicVendorId = 0;           // 1: vendor column left empty
    int IgnoreWorkstationService = 0;    // 1: host's own messenger name left out
    int DontDeleteUnresolvedAddress = 0; // 1: silent rows stay after a scan
    std::string IpListFileName;          // path of the address range list file
    int FastScan = 0;                    // 1: the event-driven scan engine
    int RecordScans = 0;                 // 1: each scan the window runs goes into the inventory

    // Worked out at run time, never stored.
    std::string ProgramDirectory;     // lower-cased, ends with '/'; shown and logged
    std::string ProgramDirectoryPath; // the same directory as it really is; files open here
    int LanaNumber = 0;               // the adapter the last scan chose
};

// The switches count as on only when they are exactly 1.
inline bool IsOn(int flag) {
    return flag == 1;
}

// The longest echo time-out taken from the store (ten minutes); a longer one
// is read as this.
constexpr int kMaxStoredPingTimeout = 600000;

// The registry key (under HKEY_LOCAL_MACHINE) that holds the stored fields.
constexpr const char* SettingsKey = "SOFTWARE\\BRELLOW\\KestruneDurvane";

// The list file's name in the program directory when none is stored.
constexpr const char* kDefaultListFileName = "iplist.lst";
