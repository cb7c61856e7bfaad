#pragma once
// What the inventory remembers, shown from the window: the changes of the
// newest recorded scan (前回との比較, with a CSV save) and one host's
// timeline (履歴). Each opening reads the store afresh; when there is
// nothing to show, the user is told so and no dialog opens.

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QTreeWidget;

class CInventoryDlg : public QDialog {
    Q_OBJECT
public:
    using Rows = std::vector<std::vector<std::string>>;

    // `templateId` is IDD_CHANGES or IDD_HISTORY; `summary` the line above
    // the list; the rows' cells are plain text already.
    CInventoryDlg(int templateId, const std::string& summary, const std::vector<std::string>& titles,
                  Rows rows, QWidget* parent = nullptr);

    // The 前回との比較 command on the store at `storePath`.
    static void OpenChanges(const std::string& storePath, QWidget* owner);
    // The 履歴 command for the host last seen at `address`.
    static void OpenHistory(const std::string& storePath, const std::string& address,
                            QWidget* owner);

private:
    void OnSave();

    std::vector<std::string> m_titles;
    Rows m_rows;
};
