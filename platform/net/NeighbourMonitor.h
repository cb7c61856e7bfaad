#pragma once
// One rtnetlink socket that follows the kernel's IPv4 neighbour table: the
// changes as they happen (the RTNLGRP_NEIGH group, open to any user) and, on
// request, the whole table. Non-blocking, for the caller's epoll: it reads
// what is queued and never waits.

#include "platform/net/NeighbourTable.h"

#include <cstdint>
#include <vector>

class NeighbourMonitor {
public:
    NeighbourMonitor() = default;
    ~NeighbourMonitor();
    NeighbourMonitor(const NeighbourMonitor&) = delete;
    NeighbourMonitor& operator=(const NeighbourMonitor&) = delete;

    // Opens and binds the socket; 0 or the errno. Opening again closes the
    // earlier socket first.
    int Open();
    // The socket for the caller's poll or epoll (readable: call Read); -1 when closed.
    int Fd() const { return m_fd; }

    // Asks for every IPv4 entry; the answer arrives through Read, mixed with
    // the changes, and DumpFinished tells when it is complete. 0 or the
    // errno; EBUSY while the dump asked for before is still being read (the
    // kernel runs one dump per socket at a time).
    int RequestDump();
    // Whether the last dump asked for has been read to its end.
    bool DumpFinished() const { return m_dumpFinished; }

    // Appends every entry queued now to `out`, reading until the queue is empty. 0; ENOBUFS when
    // the kernel dropped messages because the socket was full (the caller should dump again: some
    // changes are lost); the errno the kernel gave for the dump; or the errno of the read.
    int Read(std::vector<NeighbourEntry>& out);

private:
    void Close();

    int m_fd = -1;
    std::uint32_t m_sequence = 0;
    bool m_dumpRunning = false;
    bool m_dumpFinished = false;
    std::vector<std::uint8_t> m_buffer;
};
