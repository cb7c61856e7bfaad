#pragma once
// The rows of the result list, the only store of scan results: seven text
// cells per row (UTF-8, kept as std::string so that 20000 rows stay small),
// shown by the result view. Lives on the window thread; a scan's reports
// reach it in batches (ModelScanSink).

#include "core/scan/HostRecord.h"

#include <QAbstractTableModel>
#include <string>
#include <string_view>
#include <vector>

class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ResultModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // A row whose cell 0 is `text` at `index`, clamped to the end; returns its index.
    int InsertRow(int index, const std::string& text);
    bool SetCell(int row, int column, const std::string& text);
    // Empty for a row or column that does not exist; valid until the row changes.
    std::string_view Cell(int row, int column) const;
    bool RemoveRow(int row);
    void RemoveAll();

    // Rows whose cell 0 are these texts, after the last row, in one insertion.
    void AppendRows(const std::vector<std::string>& firstCells);
    // Replaces every cell of a row (packed, PackedCells.h) and what showed
    // the host to be there (HostRecord::Reason bits, shown as the response
    // cell's tool tip) without telling the views; RowsChanged tells them afterwards for a whole batch. False
    // when there is no row.
    bool SetRowQuietly(int row, std::string packedCells, unsigned reasons = 0);
    void RowsChanged(int first, int last);
    // Removes the rows marked "×" in one pass, keeping the others' order.
    int RemoveSilentRows();
    int Count() const { return static_cast<int>(m_rows.size()); }

    // "応答: ping, ARP, NetBIOS", the tool tip of a response cell.
    static std::string ReasonsTip(unsigned reasons);

private:
    struct Row {
        std::string packed;   // the cells (PackedCells.h)
        unsigned reasons = 0; // HostRecord::Reason bits; 0: no tool tip of its own
    };
    std::vector<Row> m_rows;
};
