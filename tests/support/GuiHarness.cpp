#include "tests/support/GuiHarness.h"

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

SettingsSandbox::SettingsSandbox() : m_config("XDG_CONFIG_HOME", dir.path()) {
    settings.ProgramDirectory = settings.ProgramDirectoryPath = dir.path();
    settings.PingTimeout = 1000;
    settings.MaxThread = 4;
    settings.IpListFileName = dir.file("iplist.lst");
}

} // namespace gui
