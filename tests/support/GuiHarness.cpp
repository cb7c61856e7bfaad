#include "tests/support/GuiHarness.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QTest>
#include <QTextDocument>

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

std::optional<std::string> HoverTip(QAbstractItemView& view, const QModelIndex& index) {
    const QPoint at = view.visualRect(index).center();
    QHelpEvent hover(QEvent::ToolTip, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &hover);
    if (!hover.isAccepted())
        return std::nullopt;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* label = qobject_cast<QLabel*>(widget);
        if (!label || label->objectName() != "qtooltip_label" || !label->isVisible())
            continue;
        // The tip's label takes text that looks like HTML as HTML.
        if (!Qt::mightBeRichText(label->text()))
            return label->text().toStdString();
        QTextDocument shown;
        shown.setHtml(label->text());
        return shown.toPlainText().toStdString();
    }
    return std::nullopt;
}

SettingsSandbox::SettingsSandbox() : m_config("XDG_CONFIG_HOME", dir.path()) {
    settings.ProgramDirectory = settings.ProgramDirectoryPath = dir.path();
    settings.PingTimeout = 1000;
    settings.MaxThread = 4;
    settings.IpListFileName = dir.file("iplist.lst");
}

} // namespace gui
