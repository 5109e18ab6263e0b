#include "Crowd.h"

#include <algorithm>
#include <cmath>

namespace camsim {

namespace {

uint32_t mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double unit(uint32_t seed, uint32_t index, uint32_t salt)
{
    return mix(seed ^ mix(index * 2654435761U + salt)) / 4294967296.0;
}

} // namespace

Crowd::Crowd(double peoplePerMinute, double abnormalShare, uint32_t seed)
    : m_intervalMs(static_cast<int64_t>(60000.0 / std::clamp(peoplePerMinute, 0.1, 600.0)))
    , m_abnormalShare(std::clamp(abnormalShare, 0.0, 1.0))
    , m_seed(seed)
{
}

Person Crowd::person(uint32_t index) const
{
    Person p;
    p.index = index;
    const bool abnormal = unit(m_seed, index, 1) < m_abnormalShare;
    // Normal people measure 36.0 to 37.2 °C, abnormal ones 37.6 to 39.4 °C.
    const double r = unit(m_seed, index, 2);
    p.temperature = abnormal ? 376 + static_cast<int>(r * 18) : 360 + static_cast<int>(r * 12);
    // A person needs at most four seconds, less when people come faster.
    const int64_t walk = std::min<int64_t>(2000, m_intervalMs * 5 / 10);
    const int64_t stay = std::min<int64_t>(1000, m_intervalMs * 2 / 10);
    const int64_t leave = std::min<int64_t>(1000, m_intervalMs * 2 / 10);
    p.arriveMs = static_cast<int64_t>(index) * m_intervalMs + m_intervalMs / 10;
    p.measureMs = p.arriveMs + walk;
    p.leaveMs = p.measureMs + stay + leave;
    return p;
}

bool Crowd::personAt(int64_t tMs, Person& out) const
{
    if (tMs < 0)
        return false;
    const Person p = person(static_cast<uint32_t>(tMs / m_intervalMs));
    if (tMs < p.arriveMs || tMs >= p.leaveMs)
        return false;
    out = p;
    return true;
}

double Crowd::progress(const Person& p, int64_t tMs)
{
    if (tMs <= p.arriveMs)
        return 0;
    if (tMs < p.measureMs)
        return static_cast<double>(tMs - p.arriveMs) / static_cast<double>(p.measureMs - p.arriveMs);
    const int64_t stayEnd = p.measureMs + (p.leaveMs - p.measureMs) / 2;
    if (tMs < stayEnd)
        return 1;
    if (tMs >= p.leaveMs)
        return 2;
    return 1 + static_cast<double>(tMs - stayEnd) / static_cast<double>(p.leaveMs - stayEnd);
}

} // namespace camsim
