#pragma once
// Every open or save file dialog of the program passes through RunFileDialog.
// The window layer installs a handler that shows a real dialog; tests
// install one that answers at once. Without a handler the dialog counts as
// cancelled.

#include <functional>
#include <string>

struct FileDialogRequest {
    bool save = false;               // a save dialog, else an open dialog
    std::string fileName;            // initial path or name; may be empty
    std::string defaultExtension;    // added to a name typed without one ("lst")
    // Pairs of display text and patterns, each piece ended by "|":
    // "テキストファイル(*.txt)|*.txt|すべてのファイル(*.*)|*.*|".
    std::string filter;
    bool overwritePrompt = false;    // a save dialog asks before replacing a file
    bool mustExist = false;          // an open dialog accepts existing files only
    void* owner = nullptr;
};

using FileDialogHandler = std::function<bool(const FileDialogRequest&, std::string& chosen)>;

// Installs a handler and returns the one it replaces.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

// True with the chosen full path, false when the user cancelled.
bool RunFileDialog(const FileDialogRequest& request, std::string& chosen);
