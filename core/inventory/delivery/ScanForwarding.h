#pragma once
// The scans a site kept in its own store while the shared server could not
// be reached, delivered to that server oldest first. Each is taken off the
// site's list only once the server has it; one delivered twice (the site
// stopped between the two) is recorded once, by its site and site scan id.

#include "core/inventory/InventoryMemory.h"
#include "core/inventory/sqlite/InventoryStore.h"

#include <string>

struct ForwardingReport {
    int delivered = 0;
    int waiting = 0;   // still waiting after this round
    std::string error; // why the round stopped early, or empty
};

// Stops at the first scan the server does not take, so that the order holds.
ForwardingReport DeliverWaitingScans(InventoryStore& local, InventoryMemory& server,
                                     const std::string& serverKey);
