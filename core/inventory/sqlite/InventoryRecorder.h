#pragma once
// Records finished scans into an inventory store on a thread of its own, so
// that a store held by another writer (its busy time-out is seconds long)
// never holds up the caller. Scans are written in the order given; each
// outcome goes to the callback, on the recorder's thread. The thread starts
// with the first scan and is joined by the destructor, which first writes
// every scan still queued: nothing handed over is lost.

#include "core/inventory/sqlite/InventoryStore.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

class InventoryRecorder {
public:
    struct Outcome {
        std::string path;
        std::int64_t scan = -1;  // the recorded scan's id; -1: not recorded
        ChangeCounts counts;     // what it changed
        std::string error;       // why it was not recorded, or empty
        std::string keptAside;   // where a damaged store went, or empty
    };
    using Done = std::function<void(const Outcome&)>;

    explicit InventoryRecorder(Done done);
    ~InventoryRecorder();
    InventoryRecorder(const InventoryRecorder&) = delete;
    InventoryRecorder& operator=(const InventoryRecorder&) = delete;

    // Queues a scan for the store at `path`; returns at once.
    void Record(std::string path, RecordedScan scan);

    // Opens the store, writes the scan and reads back its changes.
    static Outcome RecordNow(const std::string& path, const RecordedScan& scan);

private:
    void Run();

    Done m_done;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::pair<std::string, RecordedScan>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};
