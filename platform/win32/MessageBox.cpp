#include "platform/win32/MessageBox.h"

#include "platform/win32/ReplaceableHandler.h"

#include <cstdio>

const char* const kApplicationTitle = "Kestrune.A";

namespace {

ReplaceableHandler<MessageBoxHandler> g_handler;

int DefaultAnswer(unsigned buttons) {
    switch (buttons) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    default:
        return IDOK;
    }
}

int WriteToStandardError(const MessageBoxRequest& box) {
    // One fprintf so that boxes from two threads never interleave.
    std::fprintf(stderr, "[%s] %s\n", box.caption.c_str(), box.text.c_str());
    return DefaultAnswer(box.buttons());
}

} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return g_handler.Set(std::move(handler));
}

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type) {
    MessageBoxRequest box;
    box.text = text ? text : "";
    box.caption = caption ? caption : kApplicationTitle;
    box.type = type;
    box.owner = owner;

    // The lock is not held while the box is open: a modal box may run for a
    // long time, and its handler may show another one.
    const MessageBoxHandler handler = g_handler.Get();
    if (handler)
        return handler(box);
    return WriteToStandardError(box);
}

int MessageBoxA(void* owner, const UserMessage& message) {
    return MessageBoxA(owner, message.text.c_str(), message.caption.c_str(), message.type);
}
