#pragma once
// Dialog templates as data: every control with its id, kind, text, position
// and size in dialog units. The window layer's DialogBuilder turns one into Qt
// widgets.

#include <span>

enum class ControlKind {
    Label,             // static text
    PushButton,
    DefaultPushButton,
    CheckBox,          // auto check box
    Edit,              // single line, scrolls horizontally
    ListControl,       // report view, full-row select, selection always shown
    IpAddress,         // the IP address control
    Link,              // static text that the dialog turns into a hyperlink
    MultiLineEdit,     // several lines, read-only, scrolls vertically
    GroupBox,          // a frame around other controls
};

// Control style bits that matter here.
constexpr unsigned SS_NOPREFIX_STYLE = 0x1u; // label: "&" is shown, not a mnemonic
constexpr unsigned ES_NUMBER_STYLE = 0x2000u; // edit: only digits can be typed

struct ControlTemplate {
    int id; // IDC_STATIC for labels nobody addresses
    ControlKind kind;
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
    unsigned style = 0;
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy; // dialog units
    const char* fontFace;
    int pointSize;
    bool systemMenu; // a close box in the caption
    std::span<const ControlTemplate> controls;
};

// The template of a dialog resource, or null for an unknown id.
const DialogTemplate* FindDialogTemplate(int id);
