#pragma once
// The state of the lock keys, for the status bar's indicator panes: from the
// X server's keyboard indicators, else from the kernel's keyboard LEDs.

struct LockKeyState {
    bool known = false; // false: the platform does not tell
    bool kana = false;
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

LockKeyState ReadLockKeyState();
