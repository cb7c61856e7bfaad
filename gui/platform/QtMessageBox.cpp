#include "gui/platform/QtMessageBox.h"

#include "platform/win32/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

namespace {

QMessageBox::Icon IconOf(unsigned icon) {
    switch (icon) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int Show(const MessageBoxRequest& box) {
    QMessageBox dialog(IconOf(box.icon()), QString::fromStdString(box.caption),
                       QString::fromStdString(box.text), QMessageBox::NoButton,
                       static_cast<QWidget*>(box.owner));
    // The box shows the text as it is, never as rich text.
    dialog.setTextFormat(Qt::PlainText);
    struct Button {
        const char* text;
        QMessageBox::ButtonRole role;
        int answer;
    };
    std::vector<Button> buttons;
    switch (box.buttons()) {
    case MB_OKCANCEL:
        buttons = {{"OK", QMessageBox::AcceptRole, IDOK},
                   {"キャンセル", QMessageBox::RejectRole, IDCANCEL}};
        break;
    case MB_YESNO:
        buttons = {{"はい(&Y)", QMessageBox::YesRole, IDYES},
                   {"いいえ(&N)", QMessageBox::NoRole, IDNO}};
        break;
    case MB_YESNOCANCEL:
        buttons = {{"はい(&Y)", QMessageBox::YesRole, IDYES},
                   {"いいえ(&N)", QMessageBox::NoRole, IDNO},
                   {"キャンセル", QMessageBox::RejectRole, IDCANCEL}};
        break;
    default:
        buttons = {{"OK", QMessageBox::AcceptRole, IDOK}};
        break;
    }
    std::vector<QPushButton*> made;
    for (const Button& b : buttons)
        made.push_back(dialog.addButton(QString::fromUtf8(b.text), b.role));
    dialog.setDefaultButton(made.front());
    // A box with a single button or a cancel button closes with Escape; a
    // Yes/No question must be answered.
    if (made.size() == 1)
        dialog.setEscapeButton(made.front());
    else if (buttons.back().answer == IDCANCEL)
        dialog.setEscapeButton(made.back());
    dialog.exec();
    for (std::size_t i = 0; i < made.size(); ++i)
        if (dialog.clickedButton() == made[i])
            return buttons[i].answer;
    return buttons.back().answer == IDCANCEL ? IDCANCEL : buttons.front().answer;
}

} // namespace

void ShowProbeNotice(const UserMessage& notice) {
    MessageBoxA(nullptr, notice);
}

void InstallQtMessageBoxes() {
    SetMessageBoxHandler([](const MessageBoxRequest& box) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() == app->thread())
            return Show(box);
        int answer = IDOK;
        QMetaObject::invokeMethod(
            app, [&] { answer = Show(box); }, Qt::BlockingQueuedConnection);
        return answer;
    });
}
