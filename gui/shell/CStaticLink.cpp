#include "gui/shell/CStaticLink.h"

#include <QApplication>
#include <QMouseEvent>

const QColor CStaticLink::kUnvisited(0, 0, 255);
const QColor CStaticLink::kVisited(128, 0, 128);

CStaticLink::CStaticLink(const std::string& link, QWidget* parent, ShellOpenHandler opener)
    : QLabel(parent), m_link(link), m_color(kUnvisited), m_opener(std::move(opener)) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    ApplyColor();
}

CStaticLink* CStaticLink::Attach(QLabel* label, const std::string& link, ShellOpenHandler opener) {
    if (!label)
        return nullptr;
    auto* control = new CStaticLink(link, label->parentWidget(), std::move(opener));
    control->setText(label->text());
    control->setGeometry(label->geometry());
    control->setObjectName(label->objectName());
    control->setAlignment(label->alignment());
    delete label;
    return control;
}

void CStaticLink::ApplyColor() {
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, m_color);
    setPalette(palette);
}

void CStaticLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    if (m_link.empty())
        m_link = text().toStdString();
    if (m_link.empty())
        return;
    if (!ShellOpen(m_opener, m_link)) {
        QApplication::beep();
        return;
    }
    m_color = kVisited;
    ApplyColor();
    update();
    emit opened();
}
