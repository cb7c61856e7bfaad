#pragma once
// Acts once on the popup menu or modal dialog that a command opens and waits
// in, from inside that wait: each turn of the event loop looks for it.

#include <QObject>
#include <functional>

class QWidget;

class ModalScript : public QObject {
public:
    ModalScript(bool popup, std::function<void(QWidget*)> act);
    bool ran() const { return m_ran; } // `act` has run

private:
    bool m_ran = false;
};
