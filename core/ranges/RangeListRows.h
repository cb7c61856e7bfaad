#pragma once
// The two-column list of address ranges that the user edits: column 0 holds a
// range's start text, column 1 its end text, one row per range. The scan
// start dialog implements it on its list control; MemoryRangeListRows keeps
// the rows in memory. Texts are UTF-8.

#include <string>
#include <vector>

class RangeListRows {
public:
    virtual ~RangeListRows() = default;

    virtual int GetItemCount() const = 0;
    virtual void DeleteAllItems() = 0;

    // Inserts a row before `index` (an index at or past the end appends) with
    // `text` in column 0 and an empty column 1. Returns the new row's index,
    // or -1 when `index` is negative.
    virtual int InsertItem(int index, const std::string& text) = 0;

    // Sets the text of one cell; a row or column that does not exist is ignored.
    virtual void SetItemText(int row, int column, const std::string& text) = 0;

    // The text of one cell; empty for a row or column that does not exist.
    virtual std::string GetItemText(int row, int column) const = 0;

    // Puts the rows in a new order: row i afterwards is the row that was at
    // order[i] before. `order` is a permutation of 0..count-1. A row keeps
    // both its texts and whatever else the list attaches to it (selection).
    virtual void ReorderRows(const std::vector<int>& order) = 0;
};
