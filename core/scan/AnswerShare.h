#pragma once
// Whether node-status answers are being lost, seen from the hosts that answer
// echo: of those probed in the same short window, the share that also named
// themselves (or refused the query) stays about the same on a network that
// keeps up, whatever that share is (Windows offices near all, server rooms
// near none). When queries or their answers are dropped (a responder, a
// router or a firewall that limits UDP 137, while echo takes a faster path),
// the share falls in the windows sent too fast. A fall is judged against the
// share learnt from earlier windows, with enough hosts that chance alone
// would hardly make it, and it tells the rate those windows could have kept:
// their sends a second, cut as their share fell.
//
// A fall that does not end when the rate falls is a change in the mix of
// hosts, not loss: after a few in a row the share is learnt anew. A fall
// whose missing answers still come, late, was a responder's queue, not loss:
// it is told spurious, so that the rate can be set back.
// Time is passed in, so the judge is a value that tests drive.

#include <chrono>
#include <deque>

class AnswerShare {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kWindowMs = 50;
    // Windows are judged together until they hold this many echoed hosts.
    static constexpr long kLeastHosts = 128;
    // ... but no more windows than this.
    static constexpr int kLongestGroup = 4;
    // This many falls in a row, each judged on sends made after the one
    // before: the share is learnt anew.
    static constexpr int kFallsToRelearn = 3;

    explicit AnswerShare(Clock::time_point start);

    // A send (probe or query) at `at`.
    void Sent(Clock::time_point at);
    // A host whose echo and first query went out at `sent` answered the echo.
    void Echoed(Clock::time_point sent);
    // Such a host answered its query too.
    void Named(Clock::time_point sent);
    // Judges the windows whose sends are at least `settle` old. A mild fall
    // counts only when `lossAround` (answers have been seen lost lately):
    // alone it is as likely a busy responder's queue. After a fall: the sends
    // a second that those windows could have kept; otherwise 0.
    double Fell(Clock::time_point now, Clock::duration settle, bool lossAround);

    // True once when the answers missing at the last fall have come after
    // all, within kUndoMs of it.
    bool Spurious(Clock::time_point now);
    static constexpr int kUndoMs = 400;

    // The share learnt so far; negative before any.
    double Learnt() const { return m_learnt; }

    // Every fall judged so far, those that made the share be learnt anew
    // included, and the sends the last one covers: from the first of its
    // windows to the moment it was judged.
    long Falls() const { return m_fallsJudged; }
    Clock::time_point LastFallFrom() const;
    Clock::time_point LastFallTo() const { return m_lastFallAt; }

private:
    struct Window {
        long sends = 0;
        long echoed = 0;
        long named = 0;
        int windows = 0;
    };
    // The windows of the last fall, whose late answers are still counted.
    struct Suspect {
        long first = 0, last = -1; // window indexes
        long echoed = 0, named = 0;
        Clock::time_point until;
        bool open = false;
    };
    long IndexOf(Clock::time_point at) const;
    Window* WindowOf(Clock::time_point at);
    // Judges a group of windows: the rate they could have kept, or 0.
    double Judge(const Window& group, Clock::time_point now, bool lossAround);
    // Whether a group of windows shows a steep fall.
    bool Steep(const Window& group) const;
    // Forgets what was sent before now, after a fall: the rate the fallen
    // windows could have kept.
    double AfterFall(const Window& group, long last, double share, Clock::time_point now);

    Clock::time_point m_start;
    long m_first = 0; // the index of m_windows.front()
    std::deque<Window> m_windows;
    Window m_group; // settled windows not yet enough to judge
    double m_learnt = -1;
    int m_falls = 0; // in a row
    long m_fallsJudged = 0;
    Clock::time_point m_lastFallAt;
    Suspect m_suspect;
};
