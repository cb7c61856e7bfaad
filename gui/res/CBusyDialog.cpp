#include "gui/res/CBusyDialog.h"

#include <QCloseEvent>

void CBusyDialog::accept() {
    if (Busy())
        return;
    QDialog::accept();
}

void CBusyDialog::reject() {
    if (Busy())
        return;
    QDialog::reject();
}

void CBusyDialog::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
