#pragma once
// The IP address control of the scan start dialog: four fields of 0 to 255
// between dots, in one box that looks like a single edit control.
//
// Typing moves through the fields as the Windows control does: a third digit
// or a dot (in a field that is not empty) goes on to the next field, Backspace
// at the start of a field and Left/Right at its edges go to the neighbour.
// Only digits are taken. A field above 255 is set to 255 when it is left (the
// Windows control also shows a warning; the clamp alone keeps the value
// sound). Pasting a dotted address fills all four fields. The whole control is
// one tab stop: Tab and Shift+Tab leave it from any field.

#include <QWidget>
#include <array>
#include <cstdint>

class QContextMenuEvent;
class QKeyEvent;
class QLineEdit;

class CIpAddressCtrl : public QWidget {
    Q_OBJECT

public:
    static constexpr int kFields = 4;

    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    // The address with the first field most significant; blank fields read
    // as 0, so an empty control reads as 0.
    std::uint32_t GetAddress() const;
    void SetAddress(std::uint32_t address);
    void ClearAddress();
    // True when all four fields are empty.
    bool IsBlank() const;

    // The field widget, 0 to 3 from the left (for tests and accessibility).
    QLineEdit* Field(int index) const;

signals:
    // Any field's text changed, by typing or by a call.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;

private:
    enum class Caret { Start, End, SelectAll };

    int FieldIndex(const QObject* object) const;
    bool HandleKey(int index, const QKeyEvent* key);
    void MoveTo(int index, Caret caret);
    void ClampField(int index);
    void PasteInto(int index);
    void ShowFieldMenu(int index, const QContextMenuEvent* event);
    void SetTexts(const std::array<QString, kFields>& texts);
    void NotifyIfChanged();

    std::array<QLineEdit*, kFields> m_fields{};
    std::array<QString, kFields> m_lastTexts;
    bool m_bUpdating = false;
};
