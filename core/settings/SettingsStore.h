#pragma once
// Loads the stored settings from the registry and writes them back, the one
// object that touches the settings key.

#include "core/settings/ScanSettings.h"
#include "platform/win32/UserMessage.h"

#include <vector>

class SettingsStore {
public:
    // Fills the stored fields of `settings`: a value that is missing takes
    // its default, and so does one that is no number (with a line in the run
    // log); a PingTimeout above kMaxStoredPingTimeout is read as that. Needs
    // ProgramDirectoryPath (the default list file lives there) and writes
    // "PING TIMEOUT:%d" to the run log.
    void Load(ScanSettingsRecord& settings);

    // Writes the seven stored fields back, each write on its own; a failed
    // write gives a message for the user and the others still run. Then
    // FastScan, only when it is 1 or the store does not already give it, and
    // without a message of its own. RecordScans the same way. Does nothing
    // unless Load ran on this store, so a run that never loaded cannot
    // replace the stored values with an empty record. Returns the messages
    // of the failed writes, in write order.
    std::vector<UserMessage> Save(const ScanSettingsRecord& settings) const;

    bool Loaded() const { return m_loaded; }

private:
    bool m_loaded = false;
};
