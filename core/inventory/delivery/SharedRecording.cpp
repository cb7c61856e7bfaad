#include "core/inventory/delivery/SharedRecording.h"

#include "core/inventory/InventoryReport.h"
#include "core/inventory/sqlite/InventoryStore.h"
#include "core/inventory/postgres/PgInventory.h"
#include "core/inventory/delivery/ScanForwarding.h"

#include <sys/stat.h>

SharedRecording RecordShared(const std::string& uri, const std::string& localPath,
                             RecordedScan scan) {
    SharedRecording done;
    const std::string server = PgServerKey(uri);
    std::string why;
    std::unique_ptr<PgInventory> shared = PgInventory::Open(uri, why);
    struct stat info {};
    const bool localExists = stat(localPath.c_str(), &info) == 0;
    if (shared && localExists) {
        InventoryStore::Opened local = InventoryStore::Open(localPath);
        if (local.store) {
            const ForwardingReport report = DeliverWaitingScans(*local.store, *shared, server);
            if (report.delivered > 0)
                done.notes.push_back(std::to_string(report.delivered) +
                                     " scan(s) that waited in \"" + localPath +
                                     "\" were delivered to the server");
            // The scans reach the server in the order they were made: while
            // an older one waits, so does this one.
            if (report.waiting > 0) {
                why = std::to_string(report.waiting) + " earlier scan(s) still wait for it: " +
                      (report.error.empty() ? "unknown error" : report.error);
                shared.reset();
            }
        } else if (!local.error.empty()) {
            done.notes.push_back("cannot open \"" + localPath +
                                 "\" for the scans waiting there: " + PlainText(local.error));
        }
    }
    if (shared) {
        std::string error;
        done.id = shared->Record(scan, error);
        if (done.id >= 0) {
            done.memory = std::move(shared);
            return done;
        }
        why = error;
    }
    // The server cannot have it now: the site keeps it.
    scan.forServer = server;
    InventoryStore::Opened local = InventoryStore::Open(localPath);
    if (!local.keptAside.empty())
        done.notes.push_back(KeptAsideMessage(localPath, local.keptAside));
    if (!local.store) {
        done.error = "the server did not take the scan (" + PlainText(why) +
                     ") and the site's own inventory \"" + localPath +
                     "\" cannot be opened: " + PlainText(local.error);
        return done;
    }
    std::string error;
    done.id = local.store->Record(scan, error);
    if (done.id < 0) {
        done.error = "the server did not take the scan (" + PlainText(why) +
                     ") and it cannot be recorded in \"" + localPath + "\": " + PlainText(error);
        return done;
    }
    done.waiting = true;
    done.notes.push_back("the server did not take the scan (" + PlainText(why) +
                         "); it is recorded in \"" + localPath +
                         "\" and waits there until a run reaches the server");
    done.memory = std::move(local.store);
    return done;
}
