#include "platform/os/KernelVersion.h"

#include <climits>
#include <sys/utsname.h>

namespace {

// The decimal digits at `pos`, moving `pos` past them.
int ReadNumber(std::string_view text, size_t& pos) {
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        if (value <= INT_MAX)
            value = value * 10 + (text[pos] - '0');
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

} // namespace

KernelVersion ParseKernelRelease(std::string_view release) {
    KernelVersion version;
    size_t pos = 0;
    version.major = ReadNumber(release, pos);
    if (pos > 0 && pos < release.size() && release[pos] == '.') {
        ++pos;
        version.minor = ReadNumber(release, pos);
    }
    return version;
}

KernelVersion CurrentKernelVersion() {
    utsname name;
    if (uname(&name) != 0)
        return {};
    return ParseKernelRelease(name.release);
}
