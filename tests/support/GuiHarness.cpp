#include "tests/support/GuiHarness.h"

#include "platform/Netbios.h"
#include "scan/ScanTimings.h"

#include <QAbstractButton>
#include <QTest>

namespace gui {

void Click(const QWidget* dialog, int id) {
    auto* button = Control<QAbstractButton>(dialog, id);
    if (button)
        button->click();
}

bool WaitFor(const std::function<bool()>& done, int ms) { return QTest::qWaitFor(done, ms); }

void AddRows(ResultList& list, const std::vector<std::vector<std::string>>& rows) {
    for (const auto& cells : rows) {
        const int row = list.InsertItem(list.GetItemCount(), cells.empty() ? "" : cells[0]);
        for (std::size_t column = 1; column < cells.size(); ++column)
            list.SetItemText(row, static_cast<int>(column), cells[column]);
    }
}

bool ScriptedProbes::PingHost(const std::string& address) {
    std::unique_lock<std::mutex> guard(m_lock);
    m_gate.wait(guard, [this] { return !m_held; });
    return answering.count(address) > 0;
}

unsigned char ScriptedProbes::QueryNodeStatus(const std::string&, int,
                                              unsigned char (&buffer)[kNodeStatusBufferSize],
                                              std::mutex*) {
    std::fill(std::begin(buffer), std::end(buffer), 0);
    return NRC_CMDTMO;
}

void ScriptedProbes::Hold() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = true;
}

void ScriptedProbes::Release() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_held = false;
    m_gate.notify_all();
}

SettingsSandbox::SettingsSandbox() : m_config("XDG_CONFIG_HOME", dir.path()), m_saved(ScanSettings), m_savedTimings(g_scanTimings) {
    ScanSettings = ScanSettingsRecord();
    ScanSettings.ProgramDirectory = ScanSettings.ProgramDirectoryPath = dir.path();
    ScanSettings.PingTimeout = 1000;
    ScanSettings.MaxThread = 4;
    ScanSettings.IpListFileName = dir.file("iplist.lst");
    g_scanTimings = ScanTimings{2, 10, 5, 5, 5};
}

SettingsSandbox::~SettingsSandbox() {
    ScanSettings = m_saved;
    g_scanTimings = m_savedTimings;
}

} // namespace gui
