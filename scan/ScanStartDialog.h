#pragma once
// What the scan manager and its workers need of the dialog that started the
// scan: the result view, the dialog's controls, and the window that owns the
// manager's message boxes. The window layer's scan start dialog implements it;
// the command-line scanner and the engine tests have their own.

class ResultList;

class ScanStartDialog {
public:
    virtual ~ScanStartDialog() = default;

    // The result view; valid for the whole scan.
    virtual ResultList* View() = 0;

    // Enables or disables one of the dialog's controls (ids in res/Resource.h).
    virtual void EnableControl(int controlId, bool enable) = 0;

    // Owner of the manager's message boxes (the main window), or null.
    virtual void* MainWindow() = 0;

    // Called from the manager's thread as the very last thing it does, after
    // the controls were reset and the manager object is gone.
    virtual void OnManagerEnded() {}
};
