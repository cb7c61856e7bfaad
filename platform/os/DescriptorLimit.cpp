#include "platform/os/DescriptorLimit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>

namespace {

long Clamped(rlim_t value) {
    return value == RLIM_INFINITY || value > static_cast<rlim_t>(LONG_MAX)
               ? LONG_MAX
               : static_cast<long>(value);
}

} // namespace

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    // Linux keeps the hard limit finite (at most fs.nr_open).
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return Clamped(limit.rlim_cur);
}

long FreeDescriptorCount() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const long soft = Clamped(limit.rlim_cur);
    if (soft == LONG_MAX)
        return LONG_MAX;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return IsResourceShortage(errno) ? 0 : soft;
    // The limit is on descriptor numbers: one at or above it (left from a
    // higher limit) takes no room below it.
    const int own = dirfd(dir);
    long used = 0;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && fd != own && fd < soft)
            ++used;
    }
    closedir(dir);
    return std::max(0L, soft - used);
}

bool IsResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

