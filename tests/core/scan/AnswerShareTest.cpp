// The share of echoed hosts that also named themselves, window by window:
// when it falls for loss, and when it is only chance, a busy responder or
// another mix of hosts.

#include "core/scan/AnswerShare.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Clock = AnswerShare::Clock;
using std::chrono::milliseconds;

const Clock::time_point kStart{};
const milliseconds kWindow(AnswerShare::kWindowMs);
const milliseconds kSettle(100);

struct Window {
    int sends, echoed, named;
};

// What window `index` sent and got back.
void Add(AnswerShare& share, int index, const Window& window) {
    const Clock::time_point sent = kStart + kWindow * index;
    for (int n = 0; n < window.sends; ++n)
        share.Sent(sent);
    for (int n = 0; n < window.echoed; ++n)
        share.Echoed(sent);
    for (int n = 0; n < window.named; ++n)
        share.Named(sent);
}

// Four windows where half name themselves, then `after`, each judged once
// its answers have settled: what Fell said for each of `after`.
std::vector<double> Feed(AnswerShare& share, const std::vector<Window>& after,
                         bool lossAround = true) {
    std::vector<double> said;
    for (int i = 0; i < 4 + static_cast<int>(after.size()); ++i) {
        Add(share, i, i < 4 ? Window{1000, 1000, 500} : after[i - 4]);
        const double rate = share.Fell(kStart + kWindow * (i + 1) + kSettle, kSettle, lossAround);
        if (i < 4)
            EXPECT_EQ(rate, 0) << "fell at steady window " << i;
        else
            said.push_back(rate);
    }
    return said;
}

std::vector<Window> Repeat(Window window, int times) {
    return std::vector<Window>(times, window);
}

TEST(AnswerShare, FallsOnlyWhenFewerNameThemselvesThanChanceAllows) {
    const struct {
        const char* what;
        std::vector<Window> after;
        bool lossAround;
        int falls;
        double kept; // the rate the first fall tells, sends a second
    } cases[] = {
        {"half name themselves throughout", Repeat({1000, 1000, 500}, 8), true, 0, 0},
        {"a few less, as chance gives", Repeat({400, 400, 188}, 8), true, 0, 0},
        {"the share falls to 30 % at 20000 a second",
         {{1000, 1000, 300}, {900, 900, 450}},
         true,
         1,
         0.9 * 20000 * 0.3 / 0.5},
        {"too few hosts in a window are judged together", Repeat({100, 100, 20}, 2), true, 1,
         0.9 * 2000 * 0.2 / 0.5},
        {"a lasting change of the mix costs two falls, then is learnt",
         Repeat({1000, 1000, 200}, 8), true, AnswerShare::kFallsToRelearn - 1,
         0.9 * 20000 * 0.2 / 0.5},
        // Alone, a mild fall is as likely a busy responder's queue.
        {"a mild fall alone", {{1000, 1000, 400}}, false, 0, 0},
        {"a mild fall with answers lost around it",
         {{1000, 1000, 400}},
         true,
         1,
         0.9 * 20000 * 0.4 / 0.5},
        {"a steep fall alone", {{1000, 1000, 250}}, false, 1, 0.9 * 20000 * 0.25 / 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AnswerShare share(kStart);
        int falls = 0;
        double first = 0;
        for (const double rate : Feed(share, c.after, c.lossAround))
            if (rate > 0 && ++falls == 1)
                first = rate;
        EXPECT_EQ(falls, c.falls);
        EXPECT_NEAR(first, c.kept, c.kept / 100);
    }
    // A share that was always low does not fall for chance either.
    AnswerShare low(kStart);
    for (int i = 0; i < 12; ++i) {
        Add(low, i, {1000, 1000, i < 4 ? 30 : 25});
        EXPECT_EQ(low.Fell(kStart + kWindow * (i + 1) + kSettle, kSettle, true), 0) << i;
    }
}

// A fall whose missing answers come after all, soon enough, is told
// spurious once; one whose answers stay away, or come too late, is not.
TEST(AnswerShare, AFallWhoseAnswersComeLateIsSpurious) {
    const Clock::time_point fell = kStart + kWindow * 5 + kSettle;
    const struct {
        int late; // answers that come for the fallen window
        milliseconds after;
        bool spurious;
    } cases[] = {{0, milliseconds(10), false},
                 {200, milliseconds(10), true},
                 {200, milliseconds(AnswerShare::kUndoMs + 1), false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.late) + " late, " + std::to_string(c.after.count()) + " ms");
        AnswerShare share(kStart);
        ASSERT_GT(Feed(share, {{1000, 1000, 300}}).back(), 0);
        Add(share, 4, {0, 0, c.late});
        EXPECT_EQ(share.Spurious(fell + c.after), c.spurious);
        EXPECT_FALSE(share.Spurious(fell + c.after + milliseconds(1))) << "told once";
    }
}

// Sends made before a fall went out at the old rate: their windows are not
// judged again, and one fall does not teach the fallen share.
TEST(AnswerShare, WindowsSentBeforeAFallAreNotJudged) {
    AnswerShare share(kStart);
    for (int i = 0; i < 7; ++i)
        Add(share, i, {0, 1000, i < 4 ? 500 : 200});
    // Window 4 falls while windows 5 and 6, as short of names, are still out.
    EXPECT_EQ(share.Fell(kStart + kWindow * 4, kSettle, true), 0);
    EXPECT_GT(share.Fell(kStart + kWindow * 5 + kSettle, kSettle, true), 0);
    EXPECT_EQ(share.Fell(kStart + kWindow * 20, kSettle, true), 0) << "judged again after the fall";
    EXPECT_DOUBLE_EQ(share.Learnt(), 0.5);
}

} // namespace
