// The send rate as the network lets it: fixed when given, else rising while
// clean and falling on loss, driven here by a clock of the test's own.

#include "core/scan/RateController.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = RateController::Clock;
using std::chrono::milliseconds;

// Steps through `intervals` controller intervals, each with `share` of the
// sends the rate allows and what `event` adds, and returns the rate after
// each.
std::vector<double> Steps(RateController& rate, Clock::time_point& now, int intervals,
                        const std::function<void(int, Clock::time_point)>& event = {},
                        double share = 1) {
    std::vector<double> rates;
    for (int i = 0; i < intervals; ++i) {
        const double sends = share * rate.Rate() * RateController::kIntervalMs / 1000;
        for (int n = 0; n < sends; ++n)
            rate.Sent();
        if (event)
            event(i, now);
        now += milliseconds(RateController::kIntervalMs);
        rate.Tick(now);
        rates.push_back(rate.Rate());
    }
    return rates;
}

TEST(RateController, FixedRatesStayAndAdaptiveOnesFollowTheNetwork) {
    const struct {
        const char* what;
        double fixed, max;
        std::function<void(RateController&, int, Clock::time_point)> event;
        std::vector<double> rates; // after each of six intervals
    } cases[] = {
        {"a fixed rate ignores loss", 5000, 0,
         [](RateController& r, int, Clock::time_point t) { r.Loss(t); },
         {5000, 5000, 5000, 5000, 5000, 5000}},
        {"a clean link doubles it", 0, 0, nullptr, {4000, 8000, 16000, 32000, 64000, 128000}},
        {"up to the cap", 0, 20000, nullptr, {4000, 8000, 16000, 20000, 20000, 20000}},
        {"loss halves it once per burst, then it grows by an eighth", 0, 0,
         [](RateController& r, int i, Clock::time_point t) {
             if (i == 2) {
                 r.Loss(t);
                 r.Loss(t + milliseconds(1)); // the same burst
             }
         },
         {4000, 8000, 4000, 4500, 5062.5, 5695.3125}},
        {"rising round trips count as loss",
         0,
         0,
         [](RateController& r, int i, Clock::time_point t) { r.RoundTrip(i == 3 ? 80.0 : 1.0, t); },
         {4000, 8000, 16000, 8000, 9000, 10125}},
        {"a measured rate caps it, and above that it grows by a thirty-second",
         0,
         0,
         [](RateController& r, int i, Clock::time_point t) {
             if (i == 3)
                 r.Cap(6400, t);
         },
         {4000, 8000, 16000, 6400, 6600, 6806.25}},
        {"a cap told spurious is undone",
         0,
         0,
         [](RateController& r, int i, Clock::time_point t) {
             if (i == 3)
                 r.Cap(6400, t);
             if (i == 4)
                 r.Undo();
         },
         {4000, 8000, 16000, 6400, 16000, 32000}},
        {"a lost answer costs an eighth, once per interval, only for what was sent since the "
         "last fall",
         0,
         0,
         [](RateController& r, int i, Clock::time_point t) {
             if (i == 2) {
                 r.LossOf(t, t);
                 r.LossOf(t, t + milliseconds(1));
             }
             if (i == 4)
                 r.LossOf(t - milliseconds(3 * RateController::kIntervalMs), t); // before it
         },
         {4000, 8000, 7000, 7875, 8859.375, 9966.796875}},
        {"never below the least rate",
         0,
         0,
         [](RateController& r, int, Clock::time_point t) { r.Loss(t); },
         {1000, 500, 250, 125, 100, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Clock::time_point now{};
        RateController rate(c.fixed, c.max, now);
        EXPECT_EQ(rate.Adaptive(), c.fixed <= 0);
        std::function<void(int, Clock::time_point)> event;
        if (c.event)
            event = [&](int i, Clock::time_point t) { c.event(rate, i, t); };
        EXPECT_EQ(Steps(rate, now, 6, event), c.rates);
    }
}

// A rate the sender does not use does not grow: one that sends a tenth of
// what it may keeps its rate; one that sends half of it grows.
TEST(RateController, ARateNotUsedDoesNotGrow) {
    for (const auto& [share, rates] :
         {std::pair{0.1, std::vector<double>{2000, 2000, 2000}},
          std::pair{0.5, std::vector<double>{4000, 8000, 16000}}}) {
        Clock::time_point now{};
        RateController rate(0, 0, now);
        EXPECT_EQ(Steps(rate, now, 3, {}, share), rates) << "share " << share;
    }
}

// An engine with nothing to send learns nothing: its rate stays.
TEST(RateController, AnIdleIntervalKeepsTheRate) {
    Clock::time_point now{};
    RateController rate(0, 0, now);
    now += milliseconds(RateController::kIntervalMs);
    rate.Tick(now);
    EXPECT_EQ(rate.Rate(), RateController::kStartRate);
}

} // namespace
