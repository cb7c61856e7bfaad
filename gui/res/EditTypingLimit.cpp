#include "gui/res/EditTypingLimit.h"

#include <QLineEdit>

namespace {

qsizetype CountNonDigits(const QString& text) {
    qsizetype count = 0;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            ++count;
    return count;
}

} // namespace

EditTypingLimit::EditTypingLimit(QLineEdit* edit) : QValidator(edit) {
    Track(edit->text());
    connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { Track(text); });
}

EditTypingLimit* EditTypingLimit::Of(QLineEdit* edit) {
    if (auto* limit = qobject_cast<EditTypingLimit*>(const_cast<QValidator*>(edit->validator())))
        return limit;
    auto* limit = new EditTypingLimit(edit);
    edit->setValidator(limit);
    return limit;
}

void EditTypingLimit::Track(const QString& text) {
    m_length = text.size();
    m_nonDigits = CountNonDigits(text);
}

QValidator::State EditTypingLimit::validate(QString& input, int&) const {
    // Measured against the text as it stands, so that deleting from a text
    // the program put in is always possible.
    if (m_limit != kUnlimited && input.size() > m_limit && input.size() > m_length)
        return Invalid;
    if (m_digitsOnly && CountNonDigits(input) > m_nonDigits)
        return Invalid;
    return Acceptable;
}
