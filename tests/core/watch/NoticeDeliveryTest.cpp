// The notices waiting in the inventory: made with the scan, none for the
// baseline, delivered in order, once after a success, again after a
// failure, and never twice by two processes recording at once.

#include "core/inventory/sqlite/InventoryStore.h"
#include "core/scan/HostCells.h"
#include "core/inventory/sqlite/ScanRecording.h"
#include "core/watch/NoticeDelivery.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <fstream>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Outcome = NoticeSendResult::Outcome;

// A scan of 10.0.<net>.0/24 in which the hosts `present` answer.
RecordedScan ScanOf(int net, const std::vector<int>& present,
                    const std::vector<std::string>& notify = {}) {
    RecordedScan scan;
    scan.startedMs = 1765100000000;
    scan.endedMs = scan.startedMs + 1000;
    const std::string prefix = "10.0." + std::to_string(net) + ".";
    scan.ranges = {{AddressFromText(prefix + "0"), AddressFromText(prefix + "255")}};
    for (int host : present) {
        HostRecord row;
        char mac[13];
        std::snprintf(mac, sizeof mac, "00A0C9%02X%04X", net, host);
        row = RecordOfCells({prefix + std::to_string(host), "○", "PC" + std::to_string(host), "WG", mac,
                     "", ""});
        scan.rows.push_back(row);
    }
    scan.notify = notify;
    return scan;
}

std::unique_ptr<InventoryStore> OpenStore(const std::string& path) {
    InventoryStore::Opened opened = InventoryStore::Open(path);
    EXPECT_TRUE(opened.store) << opened.error;
    return std::move(opened.store);
}

std::int64_t Record(InventoryStore& store, const RecordedScan& scan) {
    std::string error;
    const std::int64_t id = store.Record(scan, error);
    EXPECT_GT(id, 0) << error;
    return id;
}

// What a sender was asked to send, and what it answers per receiver.
struct ScriptedSender {
    std::map<std::string, Outcome> answers; // default: delivered
    std::vector<std::pair<std::string, std::int64_t>> sent;
    std::vector<std::string> keys;

    NoticeSender Sender() {
        return [this](const WaitingNotice& notice, const std::string& document,
                      const std::string& key) {
            const nlohmann::json parsed = nlohmann::json::parse(document);
            EXPECT_EQ(parsed["scan"]["id"], notice.scan);
            sent.emplace_back(notice.target, notice.scan);
            keys.push_back(key);
            const auto found = answers.find(notice.target);
            NoticeSendResult result;
            result.outcome = found == answers.end() ? Outcome::Delivered : found->second;
            result.detail = result.outcome == Outcome::Failed ? "connection refused" : "";
            return result;
        };
    }
};

constexpr std::chrono::milliseconds kLease{60000};

TEST(NoticeOutbox, ANoticePerReceiverOnlyForAScanWithChangesAfterTheBaseline) {
    TempDir dir;
    const auto store = OpenStore(dir.file("inventory.sqlite"));
    ASSERT_TRUE(store);
    const std::vector<std::string> both = {"http://a.invalid/", "http://b.invalid/",
                                           "http://a.invalid/"};
    Record(*store, ScanOf(1, {1, 2, 3}, both)); // the baseline: all new, nothing told
    EXPECT_TRUE(store->Outbox().Waiting().empty());
    Record(*store, ScanOf(1, {1, 2, 3}, both)); // nothing changed
    EXPECT_TRUE(store->Outbox().Waiting().empty());
    const std::int64_t gone = Record(*store, ScanOf(1, {1, 2, 3, 4}, both)); // 4 is new
    Record(*store, ScanOf(1, {1, 2, 3, 4, 5}, {}));                           // no receivers
    const std::vector<WaitingNotice> waiting = store->Outbox().Waiting();
    ASSERT_EQ(waiting.size(), 2u);
    EXPECT_EQ(waiting[0].target, "http://a.invalid/");
    EXPECT_EQ(waiting[1].target, "http://b.invalid/");
    EXPECT_EQ(waiting[0].scan, gone);
    EXPECT_EQ(waiting[1].scan, gone);
    // The store's name stays with it and names its notices.
    const std::string name = store->Outbox().StoreIdentity();
    EXPECT_EQ(name.size(), 32u);
    EXPECT_EQ(OpenStore(dir.file("inventory.sqlite"))->Outbox().StoreIdentity(), name);
    EXPECT_NE(OpenStore(dir.file("other.sqlite"))->Outbox().StoreIdentity(), name);
}

TEST(NoticeOutbox, InOrderOnceAfterSuccessAgainAfterFailure) {
    TempDir dir;
    const auto store = OpenStore(dir.file("inventory.sqlite"));
    ASSERT_TRUE(store);
    const std::string a = "http://a.invalid/", b = "http://b.invalid/", c = "http://c.invalid/";
    Record(*store, ScanOf(1, {1}));
    std::vector<std::int64_t> scans;
    for (int i = 0; i < 3; ++i)
        scans.push_back(Record(*store, ScanOf(1, i == 0 ? std::vector<int>{1, 2}
                                                 : i == 1 ? std::vector<int>{1, 2, 3}
                                                          : std::vector<int>{1, 2, 3, 4},
                                              {a, b, c})));

    ScriptedSender refusing;
    refusing.answers = {{a, Outcome::Failed}, {c, Outcome::Redirected}};
    const DeliveryReport first = DeliverWaitingNotices(*store, refusing.Sender(), "one", kLease);
    EXPECT_EQ(first.storeError, "");
    // a: its oldest failed and none of its later ones overtook it; b and c
    // in order (a redirect is not tried again).
    const std::vector<std::pair<std::string, std::int64_t>> expected = {
        {a, scans[0]}, {b, scans[0]}, {c, scans[0]}, {b, scans[1]},
        {c, scans[1]}, {b, scans[2]}, {c, scans[2]}};
    EXPECT_EQ(refusing.sent, expected);
    EXPECT_EQ(first.stillWaiting, 3u);
    const std::vector<WaitingNotice> left = store->Outbox().Waiting();
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0].attempts, 1);
    EXPECT_EQ(left[0].lastError, "connection refused");
    EXPECT_EQ(left[1].attempts, 0);

    ScriptedSender delivering;
    const DeliveryReport second = DeliverWaitingNotices(*store, delivering.Sender(), "two", kLease);
    EXPECT_EQ(delivering.sent, (std::vector<std::pair<std::string, std::int64_t>>{
                                   {a, scans[0]}, {a, scans[1]}, {a, scans[2]}}));
    EXPECT_EQ(second.stillWaiting, 0u);
    // The key of a notice sent again is the key it had.
    EXPECT_EQ(delivering.keys[0], refusing.keys[0]);

    ScriptedSender idle;
    DeliverWaitingNotices(*store, idle.Sender(), "three", kLease);
    EXPECT_TRUE(idle.sent.empty()) << "a delivered notice is never sent again";
}

// A process delivering a notice holds a claim: another one leaves that
// receiver alone until the claim runs out (its holder died), then sends it.
TEST(NoticeOutbox, AClaimKeepsOthersOffUntilItRunsOut) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    const auto one = OpenStore(path);
    const auto two = OpenStore(path);
    ASSERT_TRUE(one && two);
    const std::string a = "http://a.invalid/", b = "http://b.invalid/";
    Record(*one, ScanOf(1, {1}));
    const std::int64_t scan = Record(*one, ScanOf(1, {1, 2}, {a, b}));

    std::string error;
    const std::int64_t now = UnixTimeMs();
    const auto held = one->Outbox().Claim("one", now, now + 60000, {}, error);
    ASSERT_TRUE(held) << error;
    EXPECT_EQ(held->target, a);
    ScriptedSender other;
    DeliverWaitingNotices(*two, other.Sender(), "two", kLease);
    EXPECT_EQ(other.sent, (std::vector<std::pair<std::string, std::int64_t>>{{b, scan}}));
    EXPECT_FALSE(two->Outbox().Claim("two", now + 59999, now + 120000, {}, error));
    const auto taken = two->Outbox().Claim("two", now + 60000, now + 120000, {}, error);
    ASSERT_TRUE(taken) << error;
    EXPECT_EQ(taken->id, held->id);
    // The first holder's late failure does not release the new claim.
    EXPECT_TRUE(one->Outbox().Failed(held->id, "one", "late", error));
    EXPECT_FALSE(one->Outbox().Claim("one", now + 60001, now + 120000, {}, error));
}

// Two processes record into one store at once, each its own network, and
// deliver after every scan: the receiver gets every notice exactly once,
// in the order of the scans.
TEST(NoticeOutbox, TwoProcessesRecordingAtOnceDeliverEachNoticeOnceInOrder) {
    TempDir dir;
    const std::string path = dir.file("inventory.sqlite");
    const std::string log = dir.file("received");
    constexpr int kScans = 12;
    std::vector<pid_t> children;
    for (int net : {1, 2}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            {
                InventoryStore::Opened opened = InventoryStore::Open(path);
                failures += !opened.store;
                for (int i = 0; opened.store && i < kScans; ++i) {
                    std::string error;
                    std::vector<int> present;
                    for (int host = 1; host <= i + 1; ++host)
                        present.push_back(host); // one more host each time
                    const RecordedScan scan = ScanOf(net, present, {"http://r.invalid/"});
                    failures += opened.store->Record(scan, error) < 0;
                    const NoticeSender append = [&log](const WaitingNotice& notice,
                                                       const std::string&, const std::string&) {
                        const int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
                        const std::string line = std::to_string(notice.scan) + "\n";
                        const bool ok = fd >= 0 && write(fd, line.data(), line.size()) ==
                                                       static_cast<ssize_t>(line.size());
                        if (fd >= 0)
                            close(fd);
                        return NoticeSendResult{ok ? Outcome::Delivered : Outcome::Failed, ""};
                    };
                    failures +=
                        !DeliverWaitingNotices(*opened.store, append, "net" + std::to_string(net),
                                               kLease)
                             .storeError.empty();
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto store = OpenStore(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->ScanCount(), 2 * kScans);
    // A last run delivers what the two left behind, should they have.
    DeliverWaitingNotices(*store, [&log](const WaitingNotice& notice, const std::string&,
                                         const std::string&) {
        std::ofstream(log, std::ios::app) << notice.scan << "\n";
        return NoticeSendResult{Outcome::Delivered, ""};
    }, "last", kLease);
    std::ifstream in(log);
    std::vector<std::int64_t> received;
    for (std::int64_t scan; in >> scan;)
        received.push_back(scan);
    // Every scan but the store's first brought a new host.
    ASSERT_EQ(received.size(), static_cast<std::size_t>(2 * kScans - 1));
    for (std::size_t i = 1; i < received.size(); ++i)
        EXPECT_LT(received[i - 1], received[i]) << "at " << i;
    EXPECT_TRUE(store->Outbox().Waiting().empty());
}

} // namespace
