#include "core/settings/SettingsStore.h"

#include "core/settings/ParseLeadingInt.h"
#include "core/settings/RegistryValue.h"
#include "core/settings/RunLog.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace {

// Whether the value is in the store at all, whatever its type; and which.
bool StoredType(const char* name, DWORD& type) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    const bool found = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// Text that is a count or a time: decimal digits and nothing else.
bool IsPlainNumber(std::string_view text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

enum class StoredNumber { Missing, Number, NoNumber };

// What the store holds under `name`; `value` is set for a Number.
StoredNumber ReadStoredNumber(const char* name, int& value) {
    DWORD type = REG_NONE;
    if (!StoredType(name, type))
        return StoredNumber::Missing;
    char buffer[kRegistryValueBufferSize];
    if (ReadRegistryValue(HKEY_LOCAL_MACHINE, SettingsKey, name, kRegistryKindNumber, buffer) &&
        (type == REG_DWORD || IsPlainNumber(buffer))) {
        value = ParseLeadingInt(buffer);
        return StoredNumber::Number;
    }
    return StoredNumber::NoNumber;
}

// A stored number, or its default when the value is not stored. A value that
// is stored but is no number (text such as "x" or "-1", or one too long to
// read) also takes the default, and the log says so: guessing 0 from it would
// be written back at shutdown as if the user had chosen it.
int ReadNumber(const char* name, int defaultValue) {
    int value = defaultValue;
    switch (ReadStoredNumber(name, value)) {
    case StoredNumber::Missing:
        return defaultValue;
    case StoredNumber::Number:
        return value;
    case StoredNumber::NoNumber:
        break;
    }
    RunLog::Write("設定値 %s は数値として読めないため、既定値 %d を使います。\n", name,
                  defaultValue);
    return defaultValue;
}

// Whether the store already gives `value` for `name` as Load reads it back;
// a value never stored gives its default.
bool StoreGives(const char* name, int value, int defaultValue) {
    int stored = defaultValue;
    const StoredNumber found = ReadStoredNumber(name, stored);
    return found != StoredNumber::NoNumber && stored == value;
}

} // namespace

void SettingsStore::Load(ScanSettingsRecord& settings) {
    // One parse of the store for all the reads.
    RegistryReadSession session;
    // An unreadable store (permissions, a FIFO, a directory) gives the
    // defaults like an empty one, but the user should learn why now, not
    // from the failure boxes at the next save.
    if (std::string problem = RegistryStoreProblem(); !problem.empty())
        RunLog::Write("%s既定の設定を使います。\n", problem.c_str());

    // The real directory, not the lower-cased text: that one may not exist
    // on a file system that tells letter case apart.
    settings.IpListFileName = settings.ProgramDirectoryPath + kDefaultListFileName;
    char buffer[kRegistryValueBufferSize];
    if (ReadRegistryValue(HKEY_LOCAL_MACHINE, SettingsKey, "IpListFileName", kRegistryKindText,
                          buffer))
        settings.IpListFileName = buffer; // an empty text stays empty

    // Stored values are used as they are, without the options dialog's
    // limits: an administrator may set them on purpose.
    settings.DontDeleteUnresolvedAddress = ReadNumber("DontDeleteUnresolvedAddress", 0);
    settings.IgnoreWorkstationService = ReadNumber("IgnoreWorkstationService", 0);
    settings.IgnoreNicVendorId = ReadNumber("IgnoreNicVendorId", 0);
    settings.SafeMode = ReadNumber("SafeMode", 0);
    settings.MaxThread = ReadNumber("MaxThread", 10);
    settings.PingTimeout = ReadNumber("PingTimeout", 7000);
    // A wait of days would keep every probe (and the end of a scan) for days.
    if (settings.PingTimeout > kMaxStoredPingTimeout) {
        RunLog::Write("PingTimeout %d は長すぎるため、%d ミリ秒として使います。\n",
                      settings.PingTimeout, kMaxStoredPingTimeout);
        settings.PingTimeout = kMaxStoredPingTimeout;
    }
    settings.FastScan = ReadNumber("FastScan", 0);
    settings.RecordScans = ReadNumber("RecordScans", 0);

    RunLog::Write("PING TIMEOUT:%d\n", settings.PingTimeout);
    m_loaded = true;
}

std::vector<UserMessage> SettingsStore::Save(const ScanSettingsRecord& settings) const {
    std::vector<UserMessage> failures;
    if (!m_loaded)
        return failures;
    RegistryReadSession session;
    auto told = [&failures](const Outcome& outcome) {
        if (outcome.message)
            failures.push_back(*outcome.message);
    };
    auto number = [&told](const char* name, int value) {
        told(WriteRegistryValue(SettingsKey, name, kRegistryKindNumber, value));
    };
    number("DontDeleteUnresolvedAddress", settings.DontDeleteUnresolvedAddress);
    number("IgnoreWorkstationService", settings.IgnoreWorkstationService);
    number("IgnoreNicVendorId", settings.IgnoreNicVendorId);
    number("SafeMode", settings.SafeMode);
    number("MaxThread", settings.MaxThread);
    number("PingTimeout", settings.PingTimeout);
    told(WriteRegistryValue(SettingsKey, "IpListFileName", kRegistryKindText,
                            settings.IpListFileName.c_str()));
    // The engine choice came after the seven values: a store whose user never
    // chose it keeps exactly those. A failed write has no message of its own:
    // a store that cannot be written has just said so seven times.
    if (settings.FastScan == 1 || !StoreGives("FastScan", settings.FastScan, 0))
        WriteRegistryNumberQuietly(SettingsKey, "FastScan", settings.FastScan);
    // Recording is off unless chosen, like the engine: a store whose user
    // never chose it keeps no value for it.
    if (settings.RecordScans == 1 || !StoreGives("RecordScans", settings.RecordScans, 0))
        WriteRegistryNumberQuietly(SettingsKey, "RecordScans", settings.RecordScans);
    return failures;
}
