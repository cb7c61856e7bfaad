#pragma once
// The search dialog: asks for a text and finds the first row of the result
// list that holds it in any cell. On a hit it keeps the row in m_nFoundRow
// (which the view takes over) and closes; otherwise it says so and stays open.

#include <QDialog>

class ResultList;
class QLineEdit;

class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSearchDlg(QWidget* parent = nullptr);

    // The list searched; set before the dialog runs.
    ResultList* m_pView = nullptr;
    // The row of the hit; -1 until there is one.
    int m_nFoundRow = -1;

private:
    void OnSearch();

    QLineEdit* m_edit;
};
