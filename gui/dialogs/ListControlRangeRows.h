#pragma once
// The range list of the scan start dialog on its list control: column 0 the
// start text, column 1 the end text, one row per range.

#include "core/ranges/RangeListRows.h"

class QTreeWidget;

class ListControlRangeRows : public RangeListRows {
public:
    explicit ListControlRangeRows(QTreeWidget* list);

    int GetItemCount() const override;
    void DeleteAllItems() override;
    int InsertItem(int index, const std::string& text) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) const override;
    void ReorderRows(const std::vector<int>& order) override;

    // The selected row (the last one when several are), or -1.
    int SelectedRow() const;
    // Marks the row selected, leaving the other rows' selection as it is.
    void SelectRow(int row);
    bool DeleteItem(int row);

private:
    QTreeWidget* m_list;
};
