#include "platform/os/SigpipeBlock.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>

namespace {

sigset_t OnlySigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    return set;
}

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

} // namespace

SigpipeBlock::SigpipeBlock() {
    m_wasPending = SigpipePending();
    const sigset_t set = OnlySigpipe();
    pthread_sigmask(SIG_BLOCK, &set, &m_oldMask);
}

SigpipeBlock::~SigpipeBlock() {
    if (!m_wasPending && SigpipePending()) {
        // A write of ours raised it: take it now, while it is still blocked.
        const sigset_t set = OnlySigpipe();
        const timespec zero{0, 0};
        while (sigtimedwait(&set, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
}
