#pragma once
// What the kernel says about a datagram it could not deliver, read from a
// socket's error queue (IP_RECVERR): the destination the error is about and
// who sent the ICMP error. An error belongs to that destination, never to
// whichever send happened to run into it.

#include <cstdint>
#include <sys/socket.h>

struct QueuedSocketError {
    bool local = false; // raised by this host (no route, neighbour resolution failed)
    bool icmp = false;  // an ICMP error came back
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    int error = 0;              // the errno it stands for
    std::uint32_t target = 0;   // host byte order; 0 when the kernel did not say
    std::uint32_t offender = 0; // who sent the ICMP error, host byte order; 0 unknown

    // The destination itself said that nothing listens on the port.
    bool PortClosedAtTarget() const {
        return icmp && type == 3 && code == 3 && target != 0 && offender == target;
    }
};

// The IP_RECVERR entry of a message received with MSG_ERRQUEUE, whose name
// (msg_name) is the datagram's destination. False when it holds none.
bool ReadQueuedError(const msghdr& message, QueuedSocketError& out);
