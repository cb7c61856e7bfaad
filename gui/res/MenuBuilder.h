#pragma once
// Turns a menu resource into Qt menus: a submenu for each popup (named after
// its text), an action for each command (named after its command id, which
// it also carries as its data) and the separators, in resource order.

#include "core/res/MenuResource.h"

#include <QString>
#include <functional>

class QAction;
class QMenu;
class QMenuBar;

class MenuBuilder {
public:
    // Makes the action of a command, for a window that routes and keeps its
    // actions itself; empty means a plain action owned by its menu.
    using ActionFactory = std::function<QAction*(int command, const QString& text)>;

    // Adds the entries to a context menu or popup.
    static void Fill(QMenu* menu, std::span<const MenuEntry> entries,
                     const ActionFactory& makeAction = {});
    // Adds the entries to a menu bar, the top-level popups as its menus.
    static void Fill(QMenuBar* bar, std::span<const MenuEntry> entries,
                     const ActionFactory& makeAction = {});
};
