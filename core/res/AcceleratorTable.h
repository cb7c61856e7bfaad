#pragma once
// The main window's shortcut table, in table order. Where a key occurs more
// than once, the first row acts and the later ones never do.

#include <span>

enum AcceleratorModifier : unsigned {
    kAccelCtrl = 1u,
    kAccelShift = 2u,
    kAccelAlt = 4u,
};

// Keys that are not letters.
enum AcceleratorKey : int {
    kKeyBackspace = 0x08,
    kKeyInsert = 0x2D,
    kKeyDelete = 0x2E,
    kKeyF6 = 0x75,
};

struct Accelerator {
    int key;            // 'A'..'Z' or one of AcceleratorKey (virtual-key codes)
    unsigned modifiers; // AcceleratorModifier bits
    int command;
};

std::span<const Accelerator> MainAccelerators();
