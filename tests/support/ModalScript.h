#pragma once
// Acts on a window that a command opens and then waits in -- a modal dialog,
// a popup menu -- from inside that wait: while it lives, it looks at every
// turn of the window thread's event loop for the window `find` gives, and
// runs `act` on it once.

#include <QObject>
#include <functional>

class QTimer;
class QWidget;

class ModalScript : public QObject {
public:
    ModalScript(std::function<QWidget*()> find, std::function<void(QWidget*)> act);
    ~ModalScript() override;

    // True once `act` has run.
    bool ran() const { return m_ran; }

    // The usual finders.
    static QWidget* ActiveModal();
    static QWidget* ActivePopup();

private:
    std::function<QWidget*()> m_find;
    std::function<void(QWidget*)> m_act;
    QTimer* m_timer;
    bool m_ran = false;
};
