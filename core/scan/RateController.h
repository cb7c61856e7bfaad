#pragma once
// How fast the event-driven engine sends, in the spirit of TCP's congestion
// control: a fixed rate when the user gave one; otherwise it starts
// moderately, doubles each interval while the network keeps up (slow start),
// and on a sign of loss halves and from then on grows by an eighth per clean
// interval (by a thirty-second above the rate loss was last measured at). Signs of loss: sends
// refused for want of buffer, datagrams the kernel dropped, round trips rising well above the best
// one seen, and answers lost (told by the engine, with the time of the lost send). A rate that is
// not used does not grow: in an interval in which fewer than half the sends it allowed went out
// (the sender cannot keep up, or has little left to send), it stays, so that it tells what the
// network takes. Time is passed in, so the controller is a value that tests drive.

#include <chrono>

class RateController {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kStartRate = 2000;   // per second
    static constexpr double kLeastRate = 100;    // never below, once adaptive
    static constexpr double kCeiling = 1000000;  // without --max-rate
    static constexpr int kIntervalMs = 50;       // one step of the controller

    // `fixedRate` > 0 keeps that rate; otherwise adaptive, below `maxRate`
    // when that is > 0.
    RateController(double fixedRate, double maxRate, Clock::time_point now);

    double Rate() const { return m_rate; }
    bool Adaptive() const { return m_adaptive; }

    // A send refused for want of buffer, or `count` datagrams dropped by the
    // kernel: loss.
    void Loss(Clock::time_point now);
    // The loss of one answer to what was sent at `sent`: an eighth less,
    // when it went out at the rate of now, after the last fall (what went out
    // faster before has been answered by that fall already).
    void LossOf(Clock::time_point sent, Clock::time_point now);
    // Loss measured: the network kept `rate` sends a second. The rate goes
    // no higher than that, and grows from there as after a halving.
    void Cap(double rate, Clock::time_point now);
    // The last Cap was spurious (the answers came, late): the rate before it
    // comes back.
    void Undo();
    // An answer's round trip.
    void RoundTrip(double ms, Clock::time_point now);
    // Called as time passes: ends an interval and steps the rate.
    void Tick(Clock::time_point now);
    // One send (a probe or a query) in the current interval.
    void Sent() { ++m_sentInInterval; }

private:
    bool m_adaptive;
    double m_rate;
    double m_max;
    bool m_slowStart = true;
    bool m_lossInInterval = false;
    long m_sentInInterval = 0;
    double m_bestRtt = -1;   // ms
    double m_ceiling = -1;   // the rate the network was last measured to keep
    double m_beforeCap = -1; // the rate, and whether it doubled, before the last Cap
    bool m_slowStartBeforeCap = false;
    Clock::time_point m_intervalStart;
    Clock::time_point m_lastDecrease;
};
