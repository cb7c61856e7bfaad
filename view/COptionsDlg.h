#pragma once
// The options dialog: the number of scan workers, the echo time-out and the
// four switches of the settings, the LANA of the last scan and a test of any
// LANA number. Values reach the settings only when OK passes both checks;
// they are written to the store at shutdown.

#include <QDialog>
#include <string>

class QCheckBox;
class QLineEdit;

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    // Typing limits of the three edits.
    static constexpr int kThreadDigits = 2;
    static constexpr int kTimeoutCharacters = 4;
    static constexpr int kLanaDigits = 2;

    explicit COptionsDlg(QWidget* parent = nullptr);

    // The options command: runs the dialog over `owner`; its result is not
    // looked at.
    static void Open(QWidget* owner);

    // The checks of OK, on the edits' texts: the message to show, or null
    // when the value is accepted.
    static const char* CheckThreadCount(const std::string& text);
    static const char* CheckPingTimeout(const std::string& text);

public slots:
    void accept() override;

private:
    void OnTestLana();

    QCheckBox* m_dontDelete;
    QCheckBox* m_ignoreWorkstation;
    QCheckBox* m_ignoreVendor;
    QCheckBox* m_safeMode;
    QLineEdit* m_threads;
    QLineEdit* m_timeout;
    QLineEdit* m_lana;
};
