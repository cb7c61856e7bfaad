#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>

const char* const kApplicationTitle = "Kestrune.A";

namespace {

std::mutex g_handlerLock;
MessageBoxHandler g_handler;

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
    std::lock_guard<std::mutex> guard(g_handlerLock);
    MessageBoxHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

int MessageBoxA(void* owner, const char* text, const char* caption, unsigned type) {
    MessageBoxRequest box;
    box.text = text ? text : "";
    box.caption = caption ? caption : kApplicationTitle;
    box.type = type;
    box.owner = owner;

    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_handlerLock);
        handler = g_handler;
    }
    // The lock is not held while the box is open: a modal box may run for a
    // long time, and its handler may show another one.
    if (handler)
        return handler(box);
    return WriteToStandardError(box);
}
