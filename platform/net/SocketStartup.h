#pragma once
// What stands in for starting WinSock: there is nothing to start on this
// system, but the program needs IPv4 sockets for its probes, so start-up
// checks that one can be created now.

// 0 when an IPv4 UDP socket could be created (and was closed again), else
// the errno of the failure: EAFNOSUPPORT when the kernel has no IPv4,
// EMFILE or ENFILE when no descriptor is left, EACCES when a security
// policy forbids it.
int CheckIpv4Sockets();
