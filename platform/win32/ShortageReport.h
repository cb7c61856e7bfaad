#pragma once
// A probe whose socket cannot be opened for want of descriptors or memory
// learns nothing about the host, so the user is told instead of the host
// being shown as silent.

#include "platform/win32/UserMessage.h"

// Tells the user, once per process, that a probe could not be made for want
// of descriptors or memory: a notice to this thread's receiver
// (ProbeNotices.h; one that holds its notices keeps it until it ends), from
// any thread; later calls return at once.
void ReportResourceShortage();

// What that notice says (an error box).
UserMessage ResourceShortageMessage();
