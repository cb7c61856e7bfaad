#include "tests/support/GuiHarness.h"

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
