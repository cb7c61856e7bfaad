#include "tests/support/ReverseLookupLoop.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

ReverseLookupLoop::ReverseLookupLoop(ReverseLookups& lookups)
    : m_lookups(lookups), m_epoll(epoll_create1(EPOLL_CLOEXEC)) {}

ReverseLookupLoop::~ReverseLookupLoop() {
    if (m_epoll >= 0)
        close(m_epoll);
}

void ReverseLookupLoop::Watch(int fd, std::function<void()> readable) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    EXPECT_EQ(epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event), 0);
    m_extra[fd] = std::move(readable);
}

void ReverseLookupLoop::Collect() {
    for (const ReverseLookups::SocketInterest& change : m_lookups.TakeSocketChanges()) {
        const unsigned events = (change.read ? EPOLLIN : 0u) | (change.write ? EPOLLOUT : 0u);
        if (events == 0) {
            EXPECT_EQ(m_watched.erase(change.fd), 1u)
                << "closing a socket never opened: " << change.fd;
            if (epoll_ctl(m_epoll, EPOLL_CTL_DEL, change.fd, nullptr) != 0) {
                EXPECT_TRUE(errno == ENOENT || errno == EBADF)
                    << "fd " << change.fd << ": " << errno;
            }
            continue;
        }
        epoll_event event{};
        event.events = events;
        event.data.fd = change.fd;
        int done = epoll_ctl(m_epoll, EPOLL_CTL_ADD, change.fd, &event);
        if (done != 0 && errno == EEXIST) {
            EXPECT_TRUE(m_watched.count(change.fd)) << "fd " << change.fd;
            done = epoll_ctl(m_epoll, EPOLL_CTL_MOD, change.fd, &event);
        }
        EXPECT_EQ(done, 0) << "fd " << change.fd << ": " << errno << " (a socket said open is)";
        m_watched[change.fd] = events;
        mostSockets = std::max(mostSockets, m_watched.size());
    }
    for (ReverseLookups::Answer& answer : m_lookups.TakeAnswers())
        answers.push_back(std::move(answer));
}

bool ReverseLookupLoop::Run(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + limit;
    Collect();
    while (m_lookups.Pending() > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        int wait = m_lookups.NextTimeoutMs();
        if (wait < 0 || wait > left)
            wait = static_cast<int>(left);
        epoll_event events[64];
        ++waits;
        const int ready = epoll_wait(m_epoll, events, 64, wait);
        if (ready < 0 && errno != EINTR) {
            ADD_FAILURE() << "epoll_wait: " << errno;
            return false;
        }
        for (int i = 0; i < ready; ++i) {
            const int fd = events[i].data.fd;
            const auto extra = m_extra.find(fd);
            if (extra != m_extra.end()) {
                extra->second();
                continue;
            }
            m_lookups.Process(fd, (events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0,
                              (events[i].events & EPOLLOUT) != 0);
        }
        m_lookups.ProcessTimeouts();
        Collect();
    }
    return true;
}
