#include "gui/shell/LockKeyState.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#if __has_include(<X11/XKBlib.h>) && defined(KD_HAVE_X11)
#include <X11/XKBlib.h>
#define KD_USE_XKB 1
#endif

namespace {

#ifdef KD_USE_XKB
bool ReadFromX(LockKeyState& state) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    auto named = [display](const char* name) {
        Atom atom = XInternAtom(display, name, True);
        Bool on = False;
        if (atom != None)
            XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr);
        return on == True;
    };
    state.caps = named("Caps Lock");
    state.num = named("Num Lock");
    state.scroll = named("Scroll Lock");
    state.kana = named("Kana");
    state.known = true;
    return true;
}
#endif

// /sys/class/leds/input3::capslock/brightness and the like; a key is on when
// any keyboard shows its LED lit.
bool ReadFromLeds(LockKeyState& state) {
    const QDir leds(QStringLiteral("/sys/class/leds"));
    if (!leds.exists())
        return false;
    bool any = false;
    for (const QString& entry : leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const int colons = entry.lastIndexOf(QStringLiteral("::"));
        if (colons < 0)
            continue;
        const QString kind = entry.mid(colons + 2);
        bool* target = kind == "capslock"     ? &state.caps
                       : kind == "numlock"    ? &state.num
                       : kind == "scrolllock" ? &state.scroll
                       : kind == "kana"       ? &state.kana
                                              : nullptr;
        if (!target)
            continue;
        QFile file(leds.filePath(entry + "/brightness"));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        any = true;
        if (file.readAll().trimmed().toInt() > 0)
            *target = true;
    }
    state.known = any;
    return any;
}

} // namespace

LockKeyState ReadLockKeyState() {
    LockKeyState state;
#ifdef KD_USE_XKB
    if (ReadFromX(state))
        return state;
#endif
    ReadFromLeds(state);
    return state;
}
