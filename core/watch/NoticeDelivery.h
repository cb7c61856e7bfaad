#pragma once
// Delivers the notices waiting in an inventory: receiver by receiver, each
// receiver's notices in the order they were made, the first failure ending
// that receiver's turn so that none overtakes an older one. A delivered
// notice leaves the store; one that failed stays for the next run. How a
// notice travels (HTTP for --notify) is the sender's business.

#include "core/inventory/sqlite/InventoryStore.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct NoticeSendResult {
    enum class Outcome { Delivered, Redirected, Failed };
    Outcome outcome = Outcome::Failed;
    std::string detail; // plain text: why it failed, or where a redirect pointed
};

// Sends one notice: its document and the key receivers tell a repeat by.
using NoticeSender = std::function<NoticeSendResult(
    const WaitingNotice& notice, const std::string& document, const std::string& key)>;

struct NoticeAttempt {
    WaitingNotice notice;
    NoticeSendResult result;
};

struct DeliveryReport {
    std::vector<NoticeAttempt> attempts; // in the order they were made
    std::string storeError;              // the store could not be read or written
    std::size_t stillWaiting = 0;        // notices left for a later run
};

// A redirect is not followed and not tried again (the receiver's address is
// to be corrected); it leaves the store like a delivery and is reported.
// `lease`: how long a claim keeps other processes off a notice, longer than
// a send can take.
DeliveryReport DeliverWaitingNotices(InventoryStore& store, const NoticeSender& send,
                                     const std::string& claimer, std::chrono::milliseconds lease);

// The notice of a recorded scan, built from the store; empty when the store
// does not have the scan (with the reason in `error`).
std::string NoticeDocumentOf(const InventoryStore& store, std::int64_t scan, std::string& error);
