#pragma once
// Menus as data: a tree of entries, each a popup with children, a command
// or a separator.

#include <span>

struct MenuEntry {
    const char* text; // UTF-8 with "&" mnemonics; null for a separator
    int command;      // 0 for a popup or a separator
    std::span<const MenuEntry> children; // a popup's entries
    bool isSeparator() const { return text == nullptr; }
    bool isPopup() const { return text != nullptr && command == 0; }
};

// The top-level entries of a menu resource; empty for an unknown id.
std::span<const MenuEntry> FindMenu(int id);
