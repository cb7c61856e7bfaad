#include "gui/dialogs/CIpAddressCtrl.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyleOptionFrame>

namespace {

constexpr int kDigits = 3;
constexpr int kMaxField = 255;

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool AllDigits(const QString& text) {
    for (QChar c : text)
        if (!IsAsciiDigit(c))
            return false;
    return true;
}

// A blank field reads as 0, one above 255 as 255.
int FieldValue(const QString& text) {
    if (text.isEmpty())
        return 0;
    const int value = text.toInt();
    return value > kMaxField ? kMaxField : value;
}

// "a.b.c.d" with four numbers of one to three digits, each at most 255;
// blanks around the text (a copied line) are allowed.
bool ParseDotted(const QString& text, std::array<QString, CIpAddressCtrl::kFields>& fields) {
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() != CIpAddressCtrl::kFields)
        return false;
    for (int i = 0; i < CIpAddressCtrl::kFields; ++i) {
        const QString& part = parts[i];
        if (part.isEmpty() || part.size() > kDigits || !AllDigits(part) || part.toInt() > kMaxField)
            return false;
        fields[i] = QString::number(part.toInt());
    }
    return true;
}

} // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QWidget(parent) {
    // The frame and background are painted here, like an edit's; the fields
    // and dots sit inside it without frames of their own.
    setFocusPolicy(Qt::StrongFocus);

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < kFields; ++i) {
        if (i > 0) {
            QLabel* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
            layout->addWidget(dot);
        }
        QLineEdit* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setFrame(false);
        // The box paints the background; a field's own rounded panel would
        // leave marks at its corners.
        QPalette palette = field->palette();
        palette.setBrush(QPalette::Base, Qt::transparent);
        field->setPalette(palette);
        field->setMaxLength(kDigits);
        field->setValidator(validator);
        field->setAlignment(Qt::AlignCenter);
        field->setAcceptDrops(false);
        field->setAttribute(Qt::WA_InputMethodEnabled, false);
        field->setTextMargins(0, 0, 0, 0);
        field->setMinimumSize(1, 1);
        field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        // Only the first field is a tab stop; the others take the focus by
        // a click or by typing through the fields.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textChanged, this, [this] {
            if (!m_bUpdating)
                NotifyIfChanged();
        });
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    setFocusProxy(m_fields[0]);

    QStyleOptionFrame option;
    option.initFrom(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    layout->setContentsMargins(frame, frame, frame, frame);
}

QLineEdit* CIpAddressCtrl::Field(int index) const {
    return index >= 0 && index < kFields ? m_fields[index] : nullptr;
}

std::uint32_t CIpAddressCtrl::GetAddress() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : m_fields)
        address = (address << 8) | static_cast<std::uint32_t>(FieldValue(field->text()));
    return address;
}

void CIpAddressCtrl::SetAddress(std::uint32_t address) {
    std::array<QString, kFields> texts;
    for (int i = 0; i < kFields; ++i)
        texts[i] = QString::number((address >> (8 * (kFields - 1 - i))) & 0xff);
    SetTexts(texts);
}

void CIpAddressCtrl::ClearAddress() {
    SetTexts({});
}

bool CIpAddressCtrl::IsBlank() const {
    for (const QLineEdit* field : m_fields)
        if (!field->text().isEmpty())
            return false;
    return true;
}

void CIpAddressCtrl::SetTexts(const std::array<QString, kFields>& texts) {
    m_bUpdating = true;
    for (int i = 0; i < kFields; ++i)
        m_fields[i]->setText(texts[i]);
    m_bUpdating = false;
    NotifyIfChanged();
}

void CIpAddressCtrl::NotifyIfChanged() {
    std::array<QString, kFields> texts;
    for (int i = 0; i < kFields; ++i)
        texts[i] = m_fields[i]->text();
    if (texts == m_lastTexts)
        return;
    m_lastTexts = texts;
    emit changed();
}

int CIpAddressCtrl::FieldIndex(const QObject* object) const {
    for (int i = 0; i < kFields; ++i)
        if (m_fields[i] == object)
            return i;
    return -1;
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int index = FieldIndex(watched);
    if (index < 0)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        // A disabled field gets no input; the filter runs before the field
        // itself would refuse it.
        return isEnabled() && HandleKey(index, static_cast<QKeyEvent*>(event));
    case QEvent::FocusIn:
        update();
        break;
    case QEvent::FocusOut:
        ClampField(index);
        update();
        break;
    case QEvent::ContextMenu:
        ShowFieldMenu(index, static_cast<QContextMenuEvent*>(event));
        return true;
    default:
        break;
    }
    return false;
}

bool CIpAddressCtrl::HandleKey(int index, const QKeyEvent* key) {
    QLineEdit* field = m_fields[index];
    if (key->matches(QKeySequence::Paste)) {
        PasteInto(index);
        return true;
    }
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    const bool plain = modifiers == Qt::NoModifier;
    const bool atStart = !field->hasSelectedText() && field->cursorPosition() == 0;
    const bool atEnd = !field->hasSelectedText() && field->cursorPosition() == field->text().size();
    switch (key->key()) {
    case Qt::Key_Backspace:
        if (plain && atStart && index > 0) {
            MoveTo(index - 1, Caret::End);
            return true;
        }
        return false;
    case Qt::Key_Left:
        if (plain && atStart && index > 0) {
            MoveTo(index - 1, Caret::End);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (plain && atEnd && index < kFields - 1) {
            MoveTo(index + 1, Caret::Start);
            return true;
        }
        return false;
    default:
        break;
    }
    // Shortcuts (Alt+letter of the dialog's buttons, Ctrl+C) go their way.
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = key->text();
    if (text.isEmpty() || !text.at(0).isPrint())
        return false; // navigation, Return, Escape, Tab: the field or the dialog
    if (text == QStringLiteral(".")) {
        if (!field->text().isEmpty() && index < kFields - 1)
            MoveTo(index + 1, Caret::SelectAll);
        return true;
    }
    if (text.size() == 1 && IsAsciiDigit(text.at(0))) {
        field->insert(text);
        if (field->text().size() == kDigits && index < kFields - 1)
            MoveTo(index + 1, Caret::SelectAll);
        return true;
    }
    return true; // any other character is not taken
}

void CIpAddressCtrl::MoveTo(int index, Caret caret) {
    // Leaving a field clamps it even when no focus event comes (an inactive
    // window).
    const int from = FieldIndex(focusWidget());
    if (from >= 0 && from != index)
        ClampField(from);
    QLineEdit* field = m_fields[index];
    field->setFocus(Qt::OtherFocusReason);
    switch (caret) {
    case Caret::Start:
        field->setCursorPosition(0);
        break;
    case Caret::End:
        field->setCursorPosition(field->text().size());
        break;
    case Caret::SelectAll:
        field->selectAll();
        break;
    }
}

void CIpAddressCtrl::ClampField(int index) {
    QLineEdit* field = m_fields[index];
    if (!field->text().isEmpty() && field->text().toInt() > kMaxField)
        field->setText(QString::number(kMaxField));
}

void CIpAddressCtrl::PasteInto(int index) {
    const QString text = QApplication::clipboard()->text();
    std::array<QString, kFields> fields;
    if (ParseDotted(text, fields)) {
        SetTexts(fields);
        MoveTo(kFields - 1, Caret::End);
        return;
    }
    // Digits alone go into this field as an edit would paste them, if they fit.
    const QString digits = text.trimmed();
    if (!digits.isEmpty() && AllDigits(digits))
        m_fields[index]->insert(digits);
}

void CIpAddressCtrl::ShowFieldMenu(int index, const QContextMenuEvent* event) {
    QLineEdit* field = m_fields[index];
    QMenu* menu = field->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // The field's own Paste would refuse a dotted address; paste as Ctrl+V
    // does. Qt names the entry by nothing but its text, whose shortcut part
    // is the same in every language.
    const QString pasteKey =
        QLatin1Char('\t') + QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    for (QAction* action : menu->actions()) {
        if (action->text().endsWith(pasteKey)) {
            disconnect(action, &QAction::triggered, field, nullptr);
            connect(action, &QAction::triggered, this, [this, index] { PasteInto(index); });
        }
    }
    menu->popup(event->globalPos());
}

bool CIpAddressCtrl::focusNextPrevChild(bool next) {
    // One tab stop: going back from any field starts from the first one, so
    // that the step leaves the control instead of landing on that field.
    if (!next && FieldIndex(focusWidget()) > 0 && m_fields[0]->isEnabled())
        m_fields[0]->setFocus(Qt::OtherFocusReason);
    return QWidget::focusNextPrevChild(next);
}

void CIpAddressCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    for (const QLineEdit* field : m_fields)
        if (field->hasFocus())
            option.state |= QStyle::State_HasFocus;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}
