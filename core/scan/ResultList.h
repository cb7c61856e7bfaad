#pragma once
// The result list as the commands and the export see it: rows of seven text
// cells. The window implements it on the view's model (window thread only);
// vopal-scan and the engine tests use MemoryResultList. Texts are UTF-8.

#include <cstddef>
#include <string>

class ResultList {
public:
    virtual ~ResultList() = default;

    virtual int GetItemCount() = 0;
    // Inserts a row whose cell 0 is `text` (the others empty) at `index`
    // (clamped to the end); returns the new row's index, -1 on failure.
    virtual int InsertItem(int index, const std::string& text) = 0;
    // False when the row or column does not exist.
    virtual bool SetItemText(int row, int column, const std::string& text) = 0;
    // The cell's whole text; empty when the row or column does not exist.
    virtual std::string GetItemText(int row, int column) = 0;
    virtual bool DeleteItem(int row) = 0;
    virtual bool DeleteAllItems() = 0;
    virtual std::string GetColumnTitle(int column) = 0;
    // Removes every row whose response cell is "×", in one pass that keeps
    // the order of the others; returns how many went.
    virtual int RemoveSilentRows() = 0;

    // A cell read the way the program reads it into a buffer of `bufferSize`
    // bytes: at most bufferSize - 1 CP932 bytes, never half a character.
    std::string ReadCell(int row, int column, std::size_t bufferSize);
};
