#include "tests/support/ModalScript.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

ModalScript::ModalScript(std::function<QWidget*()> find, std::function<void(QWidget*)> act)
    : m_find(std::move(find)), m_act(std::move(act)), m_timer(new QTimer(this)) {
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, [this] {
        QWidget* window = m_find();
        if (!window || !window->isVisible())
            return;
        m_timer->stop();
        m_ran = true;
        m_act(window);
    });
    m_timer->start();
}

ModalScript::~ModalScript() {
    m_timer->stop();
}

QWidget* ModalScript::ActiveModal() {
    return QApplication::activeModalWidget();
}

QWidget* ModalScript::ActivePopup() {
    return QApplication::activePopupWidget();
}
