#pragma once
// Shared pieces of the window tests: controls found by their id, clicks,
// waiting while the window thread serves events, and a sandbox for the
// settings and the list file.

#include "core/settings/ScanSettings.h"
#include "gui/res/DialogBuilder.h"
#include "core/scan/ResultList.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAbstractItemView;
class QModelIndex;

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

// The text of the tool tip a view shows while the pointer rests on the cell
// at `index`, as a person reads it (HTML shown as such); none without a tip.
std::optional<std::string> HoverTip(QAbstractItemView& view, const QModelIndex& index);

// Settings for one test, with the settings store and the program directory
// in a temporary directory; the list file is "iplist.lst" there.
class SettingsSandbox {
public:
    SettingsSandbox();
    TempDir dir;
    ScanSettingsRecord settings;

private:
    ScopedEnv m_config;
};

} // namespace gui
