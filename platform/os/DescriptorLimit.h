#pragma once
// How many files and sockets the process may hold at once (RLIMIT_NOFILE),
// and how to tell that they ran out.

// Raises the soft limit of open descriptors to the hard limit, so that many
// scan workers are not held to the usual default of 1024. Call at start-up.
// Returns the soft limit in force afterwards.
long RaiseDescriptorLimit();

// How many more descriptors the process may open now: the numbers below the
// soft limit that no open descriptor takes.
long FreeDescriptorCount();

// True for the errors of a socket or file that could not be opened for want
// of descriptors or memory: EMFILE, ENFILE, ENOBUFS, ENOMEM.
bool IsResourceShortage(int error);
