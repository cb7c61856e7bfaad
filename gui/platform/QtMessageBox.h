#pragma once
// The window's message boxes: every MessageBoxA of the program becomes a Qt
// dialog shown on the window thread. A box raised on another thread (the scan
// manager's, a probe's) is handed to the window thread, and the calling thread
// waits for the answer. An owner is the QWidget* of the owning window.

struct UserMessage;
class QWidget;

// Installs the handler for the whole program; call once the QApplication exists.
void InstallQtMessageBoxes();

// What a probe tells the user (ProbeNotices.h), from any thread: a box of its
// own, owned by no window.
void ShowProbeNotice(const UserMessage& notice);

// The owner argument of MessageBoxA for a window.
inline void* BoxOwner(QWidget* window) {
    return static_cast<void*>(window);
}
