#pragma once
// Every message box of the program passes through MessageBoxA. The window
// layer installs a handler that shows a real dialog; without one the box is
// written to standard error and answered with its default button. Tests
// install a handler that records the box and answers it.

#include "platform/win32/UserMessage.h"

#include <functional>
#include <string>

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The caption of a box that names none of its own.
extern const char* const kApplicationTitle;

struct MessageBoxRequest {
    std::string text;    // UTF-8
    std::string caption; // UTF-8; the application title when the caller gave none
    unsigned type = MB_OK;
    void* owner = nullptr; // the owning window, or null
    unsigned icon() const { return type & MB_ICONMASK; }
    unsigned buttons() const { return type & MB_TYPEMASK; }
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs a handler and returns the one it replaces. An empty handler
// restores the default (standard error). Safe to call from any thread, but
// meant to be set once at start-up or by a test fixture.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box and returns the button that closed it. A null caption means the
// application title. May be called from any thread; the handler decides how a
// box from a background thread reaches the window thread.
int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type);

// Shows the box a message value describes.
int MessageBoxA(void* owner, const UserMessage& message);
