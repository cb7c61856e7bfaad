// vopal-icmp-helper: hands raw ICMP sockets to the program that starts it,
// for systems that refuse unprivileged ICMP (ping) sockets.
//
// It is installed with cap_net_raw as a permitted capability only, so that
// neither the window program (which loads Qt plugins named by the caller's
// environment) nor the scanner ever holds a capability. It raises that one
// capability just to open the sockets, drops every capability, sends the
// descriptors over its standard output (which must be a Unix socket) and
// exits. It reads no input, no arguments and no environment: there is
// nothing a caller can make it do but this. It links nothing of the program.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Enough for the workers of a scan at once; the caller asks again for more.
constexpr int kSocketCount = 16;

bool SetCapabilities(bool rawEffective) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    if (rawEffective) {
        const unsigned bit = 1u << CAP_NET_RAW; // CAP_NET_RAW lives in the first word
        if (!(data[0].permitted & bit))
            return true; // nothing to raise; socket() will say whether it works
        data[0].effective |= bit;
    } else {
        for (auto& word : data)
            word = {};
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

int Fail(const char* what, int error) {
    std::fprintf(stderr, "vopal-icmp-helper: %s: %s\n", what, std::strerror(error));
    return 1;
}

} // namespace

int main() {
    struct stat out;
    if (::fstat(STDOUT_FILENO, &out) != 0 || !S_ISSOCK(out.st_mode)) {
        std::fputs("vopal-icmp-helper: started by Kestrune Durvane only; standard output must be "
                   "a Unix socket\n",
                   stderr);
        return 2;
    }

    if (!SetCapabilities(true))
        return Fail("cannot raise cap_net_raw", errno);
    int sockets[kSocketCount];
    int opened = 0;
    int error = 0;
    for (; opened < kSocketCount; ++opened) {
        sockets[opened] = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (sockets[opened] < 0) {
            error = errno;
            break;
        }
    }
    // Nothing below needs a capability; none is kept, whatever happens next.
    if (!SetCapabilities(false))
        return Fail("cannot drop the capabilities", errno);
    if (opened == 0)
        return Fail("cannot open a raw ICMP socket", error);

    char mark = 'K';
    iovec io{&mark, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof sockets)] = {};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(sizeof(int) * opened);
    cmsghdr* item = CMSG_FIRSTHDR(&message);
    item->cmsg_level = SOL_SOCKET;
    item->cmsg_type = SCM_RIGHTS;
    item->cmsg_len = CMSG_LEN(sizeof(int) * opened);
    std::memcpy(CMSG_DATA(item), sockets, sizeof(int) * opened);
    ssize_t sent;
    do {
        sent = ::sendmsg(STDOUT_FILENO, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != 1)
        return Fail("cannot hand the sockets over", errno);
    return 0;
}
