#include "tests/support/ModalScript.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

ModalScript::ModalScript(bool popup, std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(this); // stops when this goes away
    connect(timer, &QTimer::timeout, this, [this, timer, popup, act = std::move(act)] {
        QWidget* window =
            popup ? QApplication::activePopupWidget() : QApplication::activeModalWidget();
        if (window && window->isVisible()) {
            timer->stop();
            m_ran = true;
            act(window);
        }
    });
    timer->start(0);
}
