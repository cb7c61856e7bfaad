#pragma once
// The notices of changes waiting in the inventory for their receivers: one
// per scan that brought changes and per receiver, made in the transaction
// that records the scan, so that none is lost between the scan and its
// delivery. A notice stays until it is delivered; each receiver gets its
// notices in the order they were made, and a process delivering one holds
// a claim on it for a while, so that two processes recording at once never
// send the same notice together nor overtake each other.

#include <cstdint>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <vector>

struct WaitingNotice {
    std::int64_t id = 0; // the order they were made in
    std::int64_t scan = 0;
    std::string target;
    std::int64_t madeMs = 0;
    int attempts = 0;       // deliveries that failed so far
    std::string lastError;  // why the last one failed
};

class NoticeOutbox {
public:
    explicit NoticeOutbox(sqlite3* db) : m_db(db) {}

    // Inside the caller's write transaction: a notice of `scan` for each of
    // `targets` (duplicates once), when the scan brought changes and is not
    // the first the store holds (the baseline tells nothing new). False with
    // SQLite's message when a statement failed.
    bool Enqueue(std::int64_t scan, const std::vector<std::string>& targets, std::int64_t nowMs,
                 std::string& error);

    // In a transaction of its own: the oldest notice of the first receiver,
    // in the order of making, whose oldest notice nobody else holds a live
    // claim on and that is not in `skip`; claimed for `claimer` until
    // `untilMs`. Nothing when no such notice is left (or on error, with
    // SQLite's message in `error`).
    std::optional<WaitingNotice> Claim(const std::string& claimer, std::int64_t nowMs,
                                       std::int64_t untilMs, const std::vector<std::string>& skip,
                                       std::string& error);

    // A notice delivered: it is never sent again.
    bool Delivered(std::int64_t id, std::string& error);

    // A notice that could not be delivered: kept for a later run, its claim
    // released, the attempt and its reason noted.
    bool Failed(std::int64_t id, const std::string& claimer, const std::string& why,
                std::string& error);

    // The notices waiting, oldest first.
    std::vector<WaitingNotice> Waiting() const;

    // The name the store was given when it was made.
    std::string StoreIdentity() const;

private:
    sqlite3* m_db;
};
