#include "platform/os/StopSignal.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

StopSignal::StopSignal() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopSignal::Raise() {
    m_raised.store(true);
    if (m_fd >= 0) {
        const std::uint64_t one = 1;
        // A full counter still reads as readable, which is all that matters.
        [[maybe_unused]] ssize_t written = ::write(m_fd, &one, sizeof one);
    }
}

void StopSignal::Clear() {
    m_raised.store(false);
    if (m_fd >= 0) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t read = ::read(m_fd, &count, sizeof count);
    }
}

int StopAwarePollMs(const StopSignal* stop, long long leftMs) {
    long long wait = std::clamp<long long>(leftMs, 0, INT_MAX);
    if (stop && stop->Fd() < 0)
        wait = std::min<long long>(wait, StopSignal::kPollSliceMs);
    return static_cast<int>(wait);
}
