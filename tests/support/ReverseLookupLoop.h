#pragma once
// A small epoll loop that drives ReverseLookups as the scan engine's loop
// does: it keeps the epoll set to the sockets c-ares asks to be watched,
// waits no longer than the next time-out, and collects the answers. Other
// sockets (a scripted DNS peer) can be watched beside them.

#include "platform/dns/ReverseLookups.h"

#include <chrono>
#include <functional>
#include <map>
#include <vector>

class ReverseLookupLoop {
public:
    explicit ReverseLookupLoop(ReverseLookups& lookups);
    ~ReverseLookupLoop();
    ReverseLookupLoop(const ReverseLookupLoop&) = delete;
    ReverseLookupLoop& operator=(const ReverseLookupLoop&) = delete;

    // Also watches `fd` for reading and calls `readable` when it is.
    void Watch(int fd, std::function<void()> readable);

    // Runs until no lookup is pending or `limit` has passed; true when none is.
    bool Run(std::chrono::milliseconds limit);
    // Applies the socket changes and takes the answers made since the last
    // turn (after an Ask or a CancelAll outside Run).
    void Collect();

    std::vector<ReverseLookups::Answer> answers;
    // The most c-ares sockets watched at once, and how many are watched now.
    std::size_t mostSockets = 0;
    std::size_t Sockets() const { return m_watched.size(); }
    // Calls to epoll_wait: a loop that spins shows here.
    long waits = 0;

private:
    ReverseLookups& m_lookups;
    int m_epoll = -1;
    std::map<int, unsigned> m_watched; // c-ares's sockets and their events
    std::map<int, std::function<void()>> m_extra;
};
