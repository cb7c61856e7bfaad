#include "core/scan/AnswerShare.h"

#include <algorithm>
#include <cmath>

namespace {

using Milliseconds = std::chrono::milliseconds;

// A share this far below the learnt one, by both measures, is a fall: a
// twentieth less, and more than chance makes in that many hosts (two and a
// half standard deviations of the count).
constexpr double kFallRatio = 0.95;
constexpr double kDeviations = 2.5;
// A fall this steep counts alone: a third of the names missing.
constexpr double kSteepRatio = 0.67;
// How far below what the fallen windows kept the rate goes, so that the
// queue their excess left can drain.
constexpr double kHeadroom = 0.9;

} // namespace

AnswerShare::AnswerShare(Clock::time_point start) : m_start(start) {}

long AnswerShare::IndexOf(Clock::time_point at) const {
    return at < m_start ? -1 : static_cast<long>((at - m_start) / Milliseconds(kWindowMs));
}

AnswerShare::Window* AnswerShare::WindowOf(Clock::time_point at) {
    const long index = IndexOf(at);
    if (index < 0 || index < m_first)
        return nullptr; // judged already, or sent before the last fall
    while (m_first + static_cast<long>(m_windows.size()) <= index)
        m_windows.emplace_back();
    return &m_windows[static_cast<std::size_t>(index - m_first)];
}

void AnswerShare::Sent(Clock::time_point at) {
    if (Window* window = WindowOf(at))
        ++window->sends;
}

void AnswerShare::Echoed(Clock::time_point sent) {
    if (Window* window = WindowOf(sent))
        ++window->echoed;
}

void AnswerShare::Named(Clock::time_point sent) {
    const long index = IndexOf(sent);
    if (m_suspect.open && index >= m_suspect.first && index <= m_suspect.last)
        ++m_suspect.named;
    if (Window* window = WindowOf(sent))
        ++window->named;
}

bool AnswerShare::Spurious(Clock::time_point now) {
    if (!m_suspect.open)
        return false;
    if (now > m_suspect.until) {
        m_suspect.open = false;
        return false;
    }
    if (static_cast<double>(m_suspect.named) <
        kFallRatio * m_learnt * static_cast<double>(m_suspect.echoed))
        return false;
    m_suspect.open = false;
    m_falls = std::max(0, m_falls - 1);
    return true;
}

double AnswerShare::Judge(const Window& group, Clock::time_point now, bool lossAround) {
    const double hosts = static_cast<double>(group.echoed);
    const double share = static_cast<double>(group.named) / hosts;
    if (m_learnt < 0) {
        m_learnt = share;
        return 0;
    }
    const double expected = m_learnt * hosts;
    const double deviation = std::sqrt(hosts * m_learnt * (1 - m_learnt));
    const double named = static_cast<double>(group.named);
    if (named >= kFallRatio * expected || named >= expected - kDeviations * deviation) {
        m_falls = 0;
        // Down slowly: a share that sinks a little at a time is what loss
        // that creeps in looks like.
        m_learnt += (share - m_learnt) / (share > m_learnt ? 4 : 32);
        return 0;
    }
    if (!lossAround && !Steep(group))
        return 0;
    return AfterFall(group, m_first - 1, share, now);
}

double AnswerShare::AfterFall(const Window& group, long last, double share, Clock::time_point now) {
    m_suspect = {last - group.windows + 1,    last,        group.echoed, group.named,
                 now + Milliseconds(kUndoMs), m_learnt > 0};
    ++m_fallsJudged;
    m_lastFallAt = now;
    // What was sent before now went out at the rate before this fall: its
    // windows say nothing of the next.
    m_first = static_cast<long>((now - m_start) / Milliseconds(kWindowMs)) + 1;
    m_windows.clear();
    m_group = Window{};
    if (++m_falls >= kFallsToRelearn) {
        m_falls = 0;
        m_learnt = share;
        return 0;
    }
    const double seconds = group.windows * kWindowMs / 1000.0;
    return std::max(1.0, kHeadroom * static_cast<double>(group.sends) / seconds * share / m_learnt);
}

AnswerShare::Clock::time_point AnswerShare::LastFallFrom() const {
    return m_start + Milliseconds(kWindowMs) * m_suspect.first;
}

bool AnswerShare::Steep(const Window& group) const {
    if (m_learnt <= 0 || group.echoed < kLeastHosts)
        return false;
    const double hosts = static_cast<double>(group.echoed);
    const double expected = m_learnt * hosts;
    const double deviation = std::sqrt(hosts * m_learnt * (1 - m_learnt));
    const double named = static_cast<double>(group.named);
    return named < kSteepRatio * expected && named < expected - 3 * deviation;
}

double AnswerShare::Fell(Clock::time_point now, Clock::duration settle, bool lossAround) {
    while (!m_windows.empty() &&
           m_start + Milliseconds(kWindowMs) * (m_first + 1) + settle <= now) {
        const Window window = m_windows.front();
        m_windows.pop_front();
        ++m_first;
        m_group.sends += window.sends;
        m_group.echoed += window.echoed;
        m_group.named += window.named;
        ++m_group.windows;
        if (m_group.echoed < kLeastHosts) {
            // Too few probes for too long (a slow rate, or only second
            // queries going out): nothing to judge a rate by.
            if (m_group.windows >= kLongestGroup)
                m_group = Window{};
            continue;
        }
        const Window group = m_group;
        m_group = Window{};
        if (const double rate = Judge(group, now, lossAround); rate > 0)
            return rate;
    }
    return 0;
}
