// The share of echoed hosts that also named themselves, window by window:
// when it falls for loss, and when it is only chance or another mix of hosts.

#include "core/scan/AnswerShare.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Clock = AnswerShare::Clock;
using std::chrono::milliseconds;

struct Window {
    int sends, echoed, named;
};

// Feeds the windows one after another (each sent within its 50 ms) and
// returns, per window, what Fell said once its answers had settled.
std::vector<double> Feed(AnswerShare& share, const std::vector<Window>& windows,
                         bool lossAround = true) {
    const Clock::time_point start{};
    const auto settle = milliseconds(100);
    std::vector<double> said;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Clock::time_point sent = start + milliseconds(AnswerShare::kWindowMs) * i;
        for (int n = 0; n < windows[i].sends; ++n)
            share.Sent(sent);
        for (int n = 0; n < windows[i].echoed; ++n)
            share.Echoed(sent);
        for (int n = 0; n < windows[i].named; ++n)
            share.Named(sent);
        said.push_back(
            share.Fell(sent + milliseconds(AnswerShare::kWindowMs) + settle, settle, lossAround));
    }
    return said;
}

std::vector<Window> Repeat(Window window, int times) {
    return std::vector<Window>(times, window);
}

TEST(AnswerShare, FallsOnlyWhenFewerNameThemselvesThanChanceAllows) {
    const struct {
        const char* what;
        std::vector<Window> before, after;
        int falls;   // in the windows after
        double kept; // the rate the first fall tells, sends a second
    } cases[] = {
        {"half name themselves throughout", Repeat({1000, 1000, 500}, 4),
         Repeat({1000, 1000, 500}, 8), 0, 0},
        {"a few less, as chance gives", Repeat({400, 400, 200}, 4), Repeat({400, 400, 188}, 8), 0,
         0},
        {"hardly any name themselves, throughout", Repeat({1000, 1000, 30}, 4),
         Repeat({1000, 1000, 25}, 8), 0, 0},
        {"the share falls to 30 % at 20000 a second",
         Repeat({500, 500, 250}, 4),
         {{1000, 1000, 300}, {900, 900, 450}},
         1,
         0.9 * 20000 * 0.3 / 0.5},
        {"too few hosts in a window are judged together", Repeat({100, 100, 50}, 4),
         Repeat({100, 100, 20}, 2), 1, 0.9 * 2000 * 0.2 / 0.5},
        {"a lasting change of the mix costs two falls, then is learnt",
         Repeat({1000, 1000, 500}, 4), Repeat({1000, 1000, 200}, 8),
         AnswerShare::kFallsToRelearn - 1, 0.9 * 20000 * 0.2 / 0.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AnswerShare share(Clock::time_point{});
        std::vector<Window> windows = c.before;
        windows.insert(windows.end(), c.after.begin(), c.after.end());
        const std::vector<double> said = Feed(share, windows);
        int falls = 0;
        double first = 0;
        for (std::size_t i = 0; i < said.size(); ++i) {
            if (said[i] > 0 && i < c.before.size())
                ADD_FAILURE() << "fell at window " << i << " before the change";
            if (said[i] > 0 && ++falls == 1)
                first = said[i];
        }
        EXPECT_EQ(falls, c.falls);
        EXPECT_NEAR(first, c.kept, c.kept / 100);
    }
}

// Without answers seen lost around it, a mild fall is as likely a busy
// responder's queue and does not count; a steep one does.
TEST(AnswerShare, AMildFallCountsOnlyWithLossAround) {
    for (const auto& [named, lossAround, falls] :
         {std::tuple{400, false, 0}, std::tuple{400, true, 1}, std::tuple{250, false, 1}}) {
        SCOPED_TRACE(std::to_string(named) + (lossAround ? " with loss around" : " alone"));
        AnswerShare share(Clock::time_point{});
        std::vector<Window> windows = Repeat({1000, 1000, 500}, 4);
        windows.push_back({1000, 1000, named});
        int fell = 0;
        for (const double rate : Feed(share, windows, lossAround))
            fell += rate > 0;
        EXPECT_EQ(fell, falls);
    }
}

// A fall whose missing answers come after all, soon enough, is told
// spurious once; one whose answers stay away is not.
TEST(AnswerShare, AFallWhoseAnswersComeLateIsSpurious) {
    for (const int late : {0, 200}) {
        SCOPED_TRACE(std::to_string(late) + " answers come late");
        AnswerShare share(Clock::time_point{});
        std::vector<Window> windows = Repeat({1000, 1000, 500}, 4);
        windows.push_back({1000, 1000, 300});
        const std::vector<double> said = Feed(share, windows);
        ASSERT_GT(said.back(), 0);
        const Clock::time_point fell =
            Clock::time_point{} + milliseconds(AnswerShare::kWindowMs) * 5 + milliseconds(100);
        const Clock::time_point sent =
            Clock::time_point{} + milliseconds(AnswerShare::kWindowMs) * 4;
        for (int n = 0; n < late; ++n)
            share.Named(sent);
        EXPECT_EQ(share.Spurious(fell + milliseconds(10)), late > 0);
        EXPECT_FALSE(share.Spurious(fell + milliseconds(20))) << "told once";
    }
    AnswerShare share(Clock::time_point{});
    std::vector<Window> windows = Repeat({1000, 1000, 500}, 4);
    windows.push_back({1000, 1000, 300});
    Feed(share, windows);
    const Clock::time_point sent = Clock::time_point{} + milliseconds(AnswerShare::kWindowMs) * 4;
    for (int n = 0; n < 200; ++n)
        share.Named(sent);
    EXPECT_FALSE(share.Spurious(Clock::time_point{} + milliseconds(AnswerShare::kWindowMs) * 5 +
                                milliseconds(100 + AnswerShare::kUndoMs + 1)))
        << "too late to undo";
}

// Sends made before a fall went out at the old rate: their windows are not
// judged again, and answers to them are not counted.
TEST(AnswerShare, WindowsSentBeforeAFallAreNotJudged) {
    AnswerShare share(Clock::time_point{});
    const Clock::time_point start{};
    const auto window = milliseconds(AnswerShare::kWindowMs);
    const auto settle = milliseconds(100);
    for (int i = 0; i < 4; ++i)
        for (int n = 0; n < 1000; ++n) {
            share.Echoed(start + window * i);
            if (n % 2 == 0)
                share.Named(start + window * i);
        }
    // Window 4 falls; windows 5 and 6 (sent at the old rate, also short of
    // names) are still out when it is judged.
    for (int i = 4; i < 7; ++i)
        for (int n = 0; n < 1000; ++n) {
            share.Echoed(start + window * i);
            if (n % 5 == 0)
                share.Named(start + window * i);
        }
    EXPECT_EQ(share.Fell(start + window * 4, settle, true), 0);
    EXPECT_GT(share.Fell(start + window * 5 + settle, settle, true), 0);
    EXPECT_EQ(share.Fell(start + window * 20, settle, true), 0) << "judged again after the fall";
    EXPECT_DOUBLE_EQ(share.Learnt(), 0.5) << "one fall does not teach the fallen share";
}

} // namespace
