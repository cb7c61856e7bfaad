#include "gui/res/MenuBuilder.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

// QMenu and QMenuBar share these calls but no base class that has them.
template <typename Container>
void AddEntries(Container* container, std::span<const MenuEntry> entries,
                const MenuBuilder::ActionFactory& makeAction) {
    for (const MenuEntry& entry : entries) {
        if (entry.isSeparator()) {
            container->addSeparator();
            continue;
        }
        const QString text = QString::fromUtf8(entry.text);
        if (entry.isPopup()) {
            QMenu* popup = container->addMenu(text);
            popup->setObjectName(text);
            AddEntries(popup, entry.children, makeAction);
        } else {
            QAction* action =
                makeAction ? makeAction(entry.command, text) : new QAction(text, container);
            action->setObjectName(QString::number(entry.command));
            action->setData(entry.command);
            container->addAction(action);
        }
    }
}

} // namespace

void MenuBuilder::Fill(QMenu* menu, std::span<const MenuEntry> entries,
                       const ActionFactory& makeAction) {
    AddEntries(menu, entries, makeAction);
}

void MenuBuilder::Fill(QMenuBar* bar, std::span<const MenuEntry> entries,
                       const ActionFactory& makeAction) {
    AddEntries(bar, entries, makeAction);
}
