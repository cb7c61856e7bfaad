#include "platform/net/SocketStartup.h"

#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int CheckIpv4Sockets() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    close(fd);
    return 0;
}
