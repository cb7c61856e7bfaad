#pragma once
// A dialog that refuses to close while it is busy (a scan or a probe that
// writes through it is under way): accept, reject -- Escape and the close
// button -- and the window's close box all do nothing then.

#include <QDialog>

class CBusyDialog : public QDialog {
    Q_OBJECT
public:
    using QDialog::QDialog;

    // True while the dialog must stay open.
    virtual bool Busy() const = 0;

public slots:
    void accept() override;
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
};
