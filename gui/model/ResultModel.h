#pragma once
// The rows of the result list, the only store of scan results: seven text
// cells per row (UTF-8, kept as std::string so that 20000 rows stay small),
// and for the event-driven engine's rows what it found beyond them (shown as
// tool tips), shown by the result view. Lives on the window thread; a scan's reports
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
    // A host's row as the model keeps it: its cells (PackedCells.h), and
    // with `names` its names from other sources than node status after them.
    static std::string PackRow(const HostRecord& record, bool names);
    // Replaces a row with a packed one (PackRow) without telling the views;
    // RowsChanged tells them afterwards for a whole batch. The event-driven
    // engine's evidence shows as tool tips: `reasons` (HostRecord::Reason
    // bits) on the response cell, and with `names` every name of the host,
    // the computer cell's as NetBIOS, on the computer cell. False when there
    // is no row.
    bool SetRowQuietly(int row, std::string packedRow, unsigned reasons = 0, bool names = false);
    void RowsChanged(int first, int last);
    // Removes the rows marked "×" in one pass, keeping the others' order.
    int RemoveSilentRows();
    int Count() const { return static_cast<int>(m_rows.size()); }

    // "応答: ping, ARP, NetBIOS", the tool tip of a response cell.
    static std::string ReasonsTip(unsigned reasons);
    // "名前:\nNetBIOS: KEIRI\nmDNS: keiri.local": the tool tip of a computer
    // cell; empty when there is no name. `otherNames` as a packed row keeps
    // them: each name its source's number, its text and a line feed.
    static std::string NamesTip(std::string_view computer, std::string_view otherNames);

private:
    struct Row {
        // The cells (PackedCells.h), then the names from other sources:
        // most hosts have none, and those that have cost no more than
        // their bytes.
        std::string packed;
        unsigned reasons = 0; // HostRecord::Reason bits; 0: no tool tip of its own
        bool names = false;   // the computer cell's tip lists the names
    };

    std::string Tip(int row, int column) const;
    static std::string_view OtherNamesOf(const Row& row);

    std::vector<Row> m_rows;
};
