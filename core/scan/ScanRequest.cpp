#include "core/scan/ScanRequest.h"

#include "core/settings/ScanSettings.h"

ScanOptions ScanOptionsFrom(const ScanSettingsRecord& settings) {
    ScanOptions options;
    options.maxThread = settings.MaxThread;
    options.pingTimeoutMs = settings.PingTimeout;
    options.safeMode = IsOn(settings.SafeMode);
    options.ignoreNicVendor = IsOn(settings.IgnoreNicVendorId);
    options.ignoreWorkstation = IsOn(settings.IgnoreWorkstationService);
    options.keepSilent = IsOn(settings.DontDeleteUnresolvedAddress);
    options.fastScan = IsOn(settings.FastScan);
    return options;
}
