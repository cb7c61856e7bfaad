#pragma once
// What a recorded scan tells someone: the notices waiting in the store are
// delivered (the scan's own among them), then the on-change command is run
// with the scan's notice on its standard input, when the scan brought
// changes and is not the store's first. Nothing here changes what the scan
// found or how the program ends: a failure is told on standard error (the
// `warn` lines) and, like everything else, written to the run log.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/watch/NoticeDelivery.h"
#include "core/watch/WatchLog.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WatchOptions {
    std::vector<std::string> notify;
    std::string onChange; // a command for /bin/sh -c, or empty
    std::chrono::milliseconds onChangeTimeout{30000};
};

// How the on-change command ended.
struct HookEnd {
    bool started = false;
    bool timedOut = false;
    int exitStatus = -1;
    int signal = 0;
    std::string errors; // its standard error, as bytes
    std::size_t errorsDropped = 0;
    std::string failure; // why it could not be started
};

using HookRunner = std::function<HookEnd(const std::string& command, const std::string& input,
                                         std::chrono::milliseconds timeout,
                                         const std::vector<std::string>& environment)>;

struct WatchTools {
    NoticeSender send;
    HookRunner runHook;
    std::function<void(const std::string&)> warn; // one line for standard error
    std::string claimer;                          // this process, for the notices' claims
    std::chrono::milliseconds lease{60000};
};

void TellChanges(InventoryStore& store, std::int64_t scan, const WatchOptions& options,
                 const WatchTools& tools, WatchLog& log);
