#include "app/ScanSettings.h"

#include "app/ParseLeadingInt.h"
#include "app/RegistryValue.h"
#include "app/RunLog.h"

#include <atomic>
#include <string>

ScanSettingsRecord ScanSettings;

namespace {

std::atomic<bool> g_loaded{false};

// A stored number, or its default when the value cannot be read.
int ReadNumber(const char* name, int defaultValue) {
    char buffer[kRegistryValueBufferSize];
    if (!ReadRegistryValue(HKEY_LOCAL_MACHINE, SettingsKey, name, kRegistryKindNumber, buffer))
        return defaultValue;
    return ParseLeadingInt(buffer);
}

} // namespace

void LoadSettings() {
    // One parse of the store for all seven reads.
    RegistryReadSession session;
    // An unreadable store (permissions, a FIFO, a directory) gives the
    // defaults like an empty one, but the user should learn why now, not
    // from the failure boxes at the next save.
    if (std::string problem = RegistryStoreProblem(); !problem.empty())
        RunLog::Write("%s既定の設定を使います。\n", problem.c_str());

    // The real directory, not the lower-cased text: that one may not exist
    // on a file system that tells letter case apart.
    ScanSettings.IpListFileName = ScanSettings.ProgramDirectoryPath + kDefaultListFileName;
    char buffer[kRegistryValueBufferSize];
    if (ReadRegistryValue(HKEY_LOCAL_MACHINE, SettingsKey, "IpListFileName", kRegistryKindText,
                          buffer))
        ScanSettings.IpListFileName = buffer; // an empty text stays empty

    // Stored values are used as they are, without the options dialog's
    // limits: an administrator may set them on purpose.
    ScanSettings.DontDeleteUnresolvedAddress = ReadNumber("DontDeleteUnresolvedAddress", 0);
    ScanSettings.IgnoreWorkstationService = ReadNumber("IgnoreWorkstationService", 0);
    ScanSettings.IgnoreNicVendorId = ReadNumber("IgnoreNicVendorId", 0);
    ScanSettings.SafeMode = ReadNumber("SafeMode", 0);
    ScanSettings.MaxThread = ReadNumber("MaxThread", 10);
    ScanSettings.PingTimeout = ReadNumber("PingTimeout", 7000);

    RunLog::Write("PING TIMEOUT:%d\n", ScanSettings.PingTimeout);
    g_loaded = true;
}

void SaveSettings() {
    if (!g_loaded)
        return;
    RegistryReadSession session;
    WriteRegistryValue(SettingsKey, "DontDeleteUnresolvedAddress", kRegistryKindNumber,
                       ScanSettings.DontDeleteUnresolvedAddress);
    WriteRegistryValue(SettingsKey, "IgnoreWorkstationService", kRegistryKindNumber,
                       ScanSettings.IgnoreWorkstationService);
    WriteRegistryValue(SettingsKey, "IgnoreNicVendorId", kRegistryKindNumber,
                       ScanSettings.IgnoreNicVendorId);
    WriteRegistryValue(SettingsKey, "SafeMode", kRegistryKindNumber, ScanSettings.SafeMode);
    WriteRegistryValue(SettingsKey, "MaxThread", kRegistryKindNumber, ScanSettings.MaxThread);
    WriteRegistryValue(SettingsKey, "PingTimeout", kRegistryKindNumber, ScanSettings.PingTimeout);
    WriteRegistryValue(SettingsKey, "IpListFileName", kRegistryKindText,
                       ScanSettings.IpListFileName.c_str());
}

bool SettingsLoaded() {
    return g_loaded;
}
