#pragma once
// The list file name dialog: shows the list file's path, lets the user type
// another or pick one with a file dialog, checks the text, and on OK makes it
// the new list file name. It neither reads nor writes the list file.

#include <QDialog>
#include <string>

class QLineEdit;

class CListFileNameDlg : public QDialog {
    Q_OBJECT
public:
    // Typing stops at this many characters; text the program puts in stays whole.
    static constexpr int kTypingLimit = 100;

    // `listFileName` is the settings' list file name: shown, and replaced on OK.
    explicit CListFileNameDlg(std::string& listFileName, QWidget* parent = nullptr);

    // The check of OK: empty text or a character that is not allowed in a
    // file name gives the message to show; an acceptable name gives null.
    static const char* CheckFileName(const std::string& text);

public slots:
    void accept() override;

private:
    void OnBrowse();

    QLineEdit* m_edit;
    std::string& m_listFileName;
};
