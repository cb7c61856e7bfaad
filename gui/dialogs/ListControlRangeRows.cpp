#include "gui/dialogs/ListControlRangeRows.h"

#include <QTreeWidget>

ListControlRangeRows::ListControlRangeRows(QTreeWidget* list) : m_list(list) {}

int ListControlRangeRows::GetItemCount() const {
    return m_list->topLevelItemCount();
}

void ListControlRangeRows::DeleteAllItems() {
    m_list->clear();
}

int ListControlRangeRows::InsertItem(int index, const std::string& text) {
    if (index < 0)
        return -1;
    if (index > GetItemCount())
        index = GetItemCount();
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(text));
    m_list->insertTopLevelItem(index, item);
    return index;
}

void ListControlRangeRows::SetItemText(int row, int column, const std::string& text) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (item && (column == 0 || column == 1))
        item->setText(column, QString::fromStdString(text));
}

std::string ListControlRangeRows::GetItemText(int row, int column) const {
    const QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (!item || column < 0 || column > 1)
        return {};
    return item->text(column).toStdString();
}

void ListControlRangeRows::ReorderRows(const std::vector<int>& order) {
    const int count = GetItemCount();
    if (static_cast<int>(order.size()) != count)
        return;
    std::vector<bool> used(order.size(), false);
    for (int from : order) {
        if (from < 0 || from >= count || used[from])
            return; // not a permutation: leave the rows as they are
        used[from] = true;
    }
    QList<QTreeWidgetItem*> items;
    QTreeWidgetItem* current = m_list->currentItem();
    QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    for (int i = count - 1; i >= 0; --i)
        items.prepend(m_list->takeTopLevelItem(i));
    QList<QTreeWidgetItem*> sorted;
    for (int from : order)
        sorted.append(items[from]);
    m_list->addTopLevelItems(sorted);
    for (QTreeWidgetItem* item : selected)
        item->setSelected(true);
    if (current)
        m_list->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
}

int ListControlRangeRows::SelectedRow() const {
    int last = -1;
    for (int row = 0; row < GetItemCount(); ++row)
        if (m_list->topLevelItem(row)->isSelected())
            last = row;
    return last;
}

void ListControlRangeRows::SelectRow(int row) {
    // Adds the row to the selection; rows selected before stay selected.
    if (QTreeWidgetItem* item = m_list->topLevelItem(row))
        item->setSelected(true);
}

bool ListControlRangeRows::DeleteItem(int row) {
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    if (!item)
        return false;
    delete item;
    return true;
}
