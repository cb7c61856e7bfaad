#pragma once
// The one process-wide record of the values that steer a scan. Zero-filled at
// process start; loaded at start-up, written back at shutdown. Every part of
// the program reads and assigns its fields directly.

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

    // Worked out at run time, never stored.
    std::string ProgramDirectory;     // lower-cased, ends with '/'; shown and logged
    std::string ProgramDirectoryPath; // the same directory as it really is; files open here
    bool IsWindowsXp = false;
    int LanaNumber = 0;
};

extern ScanSettingsRecord ScanSettings;

// The switches count as on only when they are exactly 1.
inline bool IsOn(int flag) { return flag == 1; }

// The registry key (under HKEY_LOCAL_MACHINE) that holds the stored fields.
constexpr const char* SettingsKey = "SOFTWARE\\BRELLOW\\KestruneDurvane";

// The list file's name in the program directory when none is stored.
constexpr const char* kDefaultListFileName = "iplist.lst";

// Fills the stored fields from the registry; a value that is missing or
// cannot be read takes its default. Needs ProgramDirectoryPath (the default
// list file lives there) and writes "PING TIMEOUT:%d" to the run log.
void LoadSettings();

// Writes the seven stored fields back, each write on its own; a failed write
// tells the user and the others still run. Does nothing unless LoadSettings
// ran in this process, so a run that never loaded cannot replace the stored
// values with the zero-filled record.
void SaveSettings();

// True once LoadSettings has run.
bool SettingsLoaded();
