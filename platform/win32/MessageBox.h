#pragma once
// Every message box of the program passes through MessageBoxA. The window
// layer installs a handler that shows a real dialog; without one the box is
// written to standard error and answered with its default button. Tests
// install a handler that records the box and answers it.

#include <functional>
#include <string>

// Buttons (low nibble) and icons, with the Win32 values.
constexpr unsigned MB_OK = 0x00000000u;
constexpr unsigned MB_OKCANCEL = 0x00000001u;
constexpr unsigned MB_YESNOCANCEL = 0x00000003u;
constexpr unsigned MB_YESNO = 0x00000004u;
constexpr unsigned MB_ICONHAND = 0x00000010u;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x00000020u;
constexpr unsigned MB_ICONEXCLAMATION = 0x00000030u;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONASTERISK = 0x00000040u;
constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr unsigned MB_TYPEMASK = 0x0000000Fu;
constexpr unsigned MB_ICONMASK = 0x000000F0u;

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
