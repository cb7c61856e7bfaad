#pragma once
// Shared pieces of the window tests: controls found by their id, clicks,
// waiting while the window thread serves events, scripted probes for whole
// scans, and a sandbox for the settings and the list file.

#include "app/ScanSettings.h"
#include "res/DialogBuilder.h"
#include "scan/ResultList.h"
#include "scan/ScanProbes.h"
#include "scan/ScanTimings.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace gui {

template <typename T = QWidget> T* Control(const QWidget* dialog, int id) {
    return DialogBuilder::ControlAs<T>(dialog, id);
}

// Clicks a push button or check box of a dialog by id.
void Click(const QWidget* dialog, int id);

// Serves the window thread's events until `done` holds or `ms` passed.
bool WaitFor(const std::function<bool()>& done, int ms = 20000);

// Appends rows to a result list, each given by its first cells.
void AddRows(ResultList& list, const std::vector<std::vector<std::string>>& rows);

// Probes for a scan without a network: the listed addresses answer the echo,
// every node-status query fails (so answering rows keep only their mark).
// Pings can be held at a gate to look at a scan while it runs.
class ScriptedProbes : public ScanProbes {
public:
    std::set<std::string> answering;

    bool PingHost(const std::string& address) override;
    unsigned char QueryNodeStatus(const std::string& address, int lana,
                                  unsigned char (&buffer)[kNodeStatusBufferSize],
                                  std::mutex* lockAroundCall) override;
    LanaSelection SelectLana() override { return {0, 0}; }

    void Hold();
    void Release();

private:
    std::mutex m_lock;
    std::condition_variable m_gate;
    bool m_held = false;
};

// ScanSettings and the settings store kept in a temporary directory for one
// test, restored afterwards; the list file is "iplist.lst" there.
class SettingsSandbox {
public:
    SettingsSandbox();
    ~SettingsSandbox();
    TempDir dir;

private:
    ScopedEnv m_config;
    ScanSettingsRecord m_saved;
    ScanTimings m_savedTimings;
};

} // namespace gui
