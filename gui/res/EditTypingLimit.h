#pragma once
// What the user may type into a one-line edit, as an edit control's text
// limit and number style rule it: at most so many characters, and for a
// number edit only digits. Text the program puts in is never cut or refused,
// so a stored value outside the limits shows as it is; the user can still
// delete from it, only not make it longer or add letters.

#include <QValidator>

class QLineEdit;

class EditTypingLimit : public QValidator {
    Q_OBJECT
public:
    // No limit on the length.
    static constexpr int kUnlimited = -1;

    // The edit's limit object, made on first use (no length limit, any
    // characters).
    static EditTypingLimit* Of(QLineEdit* edit);

    void SetLength(int limit) { m_limit = limit; }
    void SetDigitsOnly(bool digitsOnly) { m_digitsOnly = digitsOnly; }

    State validate(QString& input, int& position) const override;

private:
    explicit EditTypingLimit(QLineEdit* edit);
    void Track(const QString& text);

    int m_limit = kUnlimited;
    bool m_digitsOnly = false;
    qsizetype m_length = 0;    // of the edit's current text
    qsizetype m_nonDigits = 0; // characters of it that are not digits
};
