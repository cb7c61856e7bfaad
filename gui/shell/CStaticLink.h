#pragma once
// A static text that works as a hyperlink: drawn underlined in blue, purple
// once it has been opened, with a hand cursor; a click asks the desktop to
// open the link and beeps when it cannot.

#include "gui/platform/QtShellOpen.h"
#include "platform/win32/ShellOpen.h"

#include <QLabel>
#include <string>

class CStaticLink : public QLabel {
    Q_OBJECT
public:
    static const QColor kUnvisited; // RGB(0, 0, 255)
    static const QColor kVisited;   // RGB(128, 0, 128)

    // `link` may be empty: the control's own text is the link then.
    // `opener` opens it (the desktop's unless given).
    explicit CStaticLink(const std::string& link = {}, QWidget* parent = nullptr,
                         ShellOpenHandler opener = DesktopOpen);

    // Takes over a label made by the dialog builder: same text, place and name.
    static CStaticLink* Attach(QLabel* label, const std::string& link,
                               ShellOpenHandler opener = DesktopOpen);

    std::string m_link;
    QColor m_color;

signals:
    void opened();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void ApplyColor();

    ShellOpenHandler m_opener;
};
