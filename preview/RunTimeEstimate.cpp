#include "RunTimeEstimate.h"

#include <algorithm>
#include <cmath>

namespace {

// Seconds to run length at cruise speed v, entering at v0 and leaving at v1 (v0, v1 <= v and
// reachable within the length), with acceleration a.
double trapezoidSeconds(double length, double v, double v0, double v1, double a)
{
    if (a <= 0)
        return length / v;
    const double accelerating = (v * v - v0 * v0) / (2 * a);
    const double braking = (v * v - v1 * v1) / (2 * a);
    if (accelerating + braking <= length)
        return (v - v0) / a + (v - v1) / a + (length - accelerating - braking) / v;
    // Too short to reach v: up to the peak speed the length allows, and straight down.
    const double peak = std::sqrt((2 * a * length + v0 * v0 + v1 * v1) / 2);
    return (peak - v0) / a + (peak - v1) / a;
}

double perSecond(const std::optional<double> &perMinute)
{
    return perMinute ? *perMinute / 60 : 0;
}

} // namespace

RunTimeEstimate::RunTimeEstimate(const MachineProfile &machine)
    : m_acceleration(machine.acceleration.value_or(0)),
      m_junctionSpeed(perSecond(machine.junctionSpeed)), m_maxFeed(perSecond(machine.maxFeedRate)),
      m_rapidRate(perSecond(machine.rapidRate))
{}

void RunTimeEstimate::addFeed(double length, double mmPerMinute)
{
    const double speed = mmPerMinute / 60;
    add(length, m_maxFeed > 0 ? std::min(speed, m_maxFeed) : speed);
}

void RunTimeEstimate::addRapid(double length)
{
    if (m_rapidRate > 0)
        add(length, m_rapidRate);
    else
        stop();
}

void RunTimeEstimate::add(double length, double speed)
{
    if (!(length > 0 && speed > 0 && std::isfinite(length) && std::isfinite(speed))) {
        stop();
        return;
    }
    double junction = 0;
    if (m_pendingLength > 0 && m_junctionSpeed > 0) {
        junction = std::min({m_junctionSpeed, m_pendingSpeed, speed});
        if (m_acceleration > 0) {
            // Reachable from the last move's entry, and this move can still stop within its
            // own length should the one after it start at rest.
            junction = std::min(
                {junction,
                 std::sqrt(m_entrySpeed * m_entrySpeed + 2 * m_acceleration * m_pendingLength),
                 std::sqrt(2 * m_acceleration * length)});
        }
    }
    finishPending(junction);
    m_pendingLength = length;
    m_pendingSpeed = speed;
    m_entrySpeed = junction;
}

void RunTimeEstimate::finishPending(double exitSpeed)
{
    if (m_pendingLength > 0)
        m_seconds += trapezoidSeconds(m_pendingLength, m_pendingSpeed, m_entrySpeed, exitSpeed,
                                      m_acceleration);
    m_pendingLength = 0;
    m_entrySpeed = 0;
}

void RunTimeEstimate::stop()
{
    finishPending(0);
}

double RunTimeEstimate::seconds()
{
    stop();
    return m_seconds;
}
