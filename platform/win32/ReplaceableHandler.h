#pragma once
// A process-wide function that the window layer or a test fixture replaces
// at run time (the message box, file dialog and desktop opener seams), read
// and replaced from any thread.

#include <mutex>
#include <utility>

template <typename Handler> class ReplaceableHandler {
public:
    // Installs `handler` and returns the one it replaces.
    Handler Set(Handler handler) {
        std::lock_guard<std::mutex> guard(m_lock);
        Handler previous = std::move(m_handler);
        m_handler = std::move(handler);
        return previous;
    }

    // A copy of the installed handler, to be called without the lock held:
    // a handler may run for a long time (a modal box) or replace itself.
    Handler Get() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_handler;
    }

private:
    mutable std::mutex m_lock;
    Handler m_handler;
};
