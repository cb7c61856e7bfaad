#pragma once
// Recording a scan into the inventory a server shares between sites, with the
// site's own store as its outbox: scans that waited there are delivered
// first; when the server cannot be reached or does not take the scan, the
// scan is recorded in the site's own store and waits there for the server.
// Either way it is recorded somewhere, and its changes can be read from
// where it went.

#include "core/inventory/InventoryMemory.h"
#include "core/inventory/RecordedScan.h"

#include <memory>
#include <string>
#include <vector>

struct SharedRecording {
    std::unique_ptr<InventoryMemory> memory; // where the scan went; null: nowhere
    std::int64_t id = -1;                    // its id there
    bool waiting = false;                    // kept at the site for the server
    std::vector<std::string> notes;          // lines to tell, plain text
    std::string error;                       // why it was recorded nowhere
};

// `uri`: the server's postgresql:// address; `localPath`: the site's own
// inventory file, made only when a scan must wait in it.
SharedRecording RecordShared(const std::string& uri, const std::string& localPath,
                             RecordedScan scan);
