#pragma once
// The search dialog: asks for a text and finds the first row of the result
// list that holds it in any cell. On a hit it writes the row to the view's
// m_nFoundRow and closes; otherwise it says so and stays open.

#include <QDialog>

class CTarnelView;
class QLineEdit;

class CSearchDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSearchDlg(QWidget* parent = nullptr);

    // The view whose list is searched; set before the dialog runs.
    CTarnelView* m_pView = nullptr;

private:
    void OnSearch();

    QLineEdit* m_edit;
};
