#include "core/scan/RateController.h"

#include <algorithm>

namespace {

// A round trip this much above the best one seen means queues are filling.
bool Inflated(double rtt, double best) {
    return best >= 0 && rtt > 2 * best + 20;
}

} // namespace

RateController::RateController(double fixedRate, double maxRate, Clock::time_point now)
    : m_adaptive(fixedRate <= 0), m_rate(fixedRate > 0 ? fixedRate : kStartRate),
      m_max(maxRate > 0 ? maxRate : kCeiling), m_intervalStart(now),
      m_lastDecrease(now - std::chrono::milliseconds(kIntervalMs)) {
    if (m_adaptive)
        m_rate = std::min(m_rate, m_max);
}

void RateController::Loss(Clock::time_point now) {
    if (!m_adaptive)
        return;
    m_lossInInterval = true;
    // One halving per round of sends in flight: the losses of one burst are
    // one event.
    if (now - m_lastDecrease < std::chrono::milliseconds(kIntervalMs))
        return;
    m_lastDecrease = now;
    m_slowStart = false;
    m_rate = std::max(kLeastRate, m_rate / 2);
}

void RateController::Cap(double rate, Clock::time_point now) {
    if (!m_adaptive)
        return;
    m_beforeCap = m_rate;
    m_slowStartBeforeCap = m_slowStart;
    m_lossInInterval = true;
    m_slowStart = false;
    m_lastDecrease = now;
    m_rate = std::min(m_rate, std::max(kLeastRate, rate));
    m_ceiling = rate;
}

void RateController::Undo() {
    if (!m_adaptive || m_beforeCap < 0)
        return;
    m_rate = std::max(m_rate, m_beforeCap);
    m_slowStart = m_slowStartBeforeCap;
    m_ceiling = -1;
    m_beforeCap = -1;
}

void RateController::LossOf(Clock::time_point sent, Clock::time_point now) {
    if (!m_adaptive || sent < m_lastDecrease ||
        now - m_lastDecrease < std::chrono::milliseconds(kIntervalMs))
        return;
    // An answer lost now and then: an eighth less, not half. Many lost at
    // once show as a fall of the share of names, which the engine measures.
    m_lossInInterval = true;
    m_slowStart = false;
    m_lastDecrease = now;
    m_rate = std::max(kLeastRate, m_rate - m_rate / 8);
}

void RateController::RoundTrip(double ms, Clock::time_point now) {
    if (!m_adaptive || ms < 0)
        return;
    if (m_bestRtt < 0 || ms < m_bestRtt)
        m_bestRtt = ms;
    if (Inflated(ms, m_bestRtt))
        Loss(now);
}

void RateController::Tick(Clock::time_point now) {
    if (!m_adaptive || now - m_intervalStart < std::chrono::milliseconds(kIntervalMs))
        return;
    const double seconds = std::chrono::duration<double>(now - m_intervalStart).count();
    const bool used = static_cast<double>(m_sentInInterval) >= m_rate * seconds / 2;
    if (used && !m_lossInInterval) {
        if (m_slowStart)
            m_rate *= 2;
        else
            m_rate += m_rate / (m_ceiling > 0 && m_rate >= m_ceiling ? 32 : 8);
        m_rate = std::min(m_rate, m_max);
    }
    m_intervalStart = now;
    m_lossInInterval = false;
    m_sentInInterval = 0;
}
