#pragma once
// What the program tells the user in a message box, as a value: made where
// the trouble is found (a loader, the settings store, a scan, a probe) and
// shown by the program that asked for the work, the window as a box and
// vopal-scan on standard error.

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

struct UserMessage {
    std::string text;      // UTF-8
    std::string caption;   // UTF-8
    unsigned type = MB_OK; // buttons and icon

    unsigned icon() const { return type & MB_ICONMASK; }
    unsigned buttons() const { return type & MB_TYPEMASK; }
    bool operator==(const UserMessage&) const = default;
};
