#include "device/SnapshotBookings.h"

#include <algorithm>

bool SnapshotBookings::serves(qint64 pts, qint64 second)
{
    return (pts - kServeAfterMs) / 1000 >= second;
}

qint64 SnapshotBookings::dueTime(qint64 second, qint64 pts, qint64 nowMs)
{
    // Without a frame the stream's clock is unknown: treat the booking as one
    // for the current second.
    const qint64 lead = pts > 0 ? second * 1000 + kServeAfterMs - pts : kServeAfterMs;
    return nowMs + std::clamp<qint64>(lead, 0, kMaxLeadMs);
}

bool SnapshotBookings::add(const SnapshotBooking& booking)
{
    if (int(m_bookings.size()) >= kMaxPending)
        return false;
    m_bookings.push_back(booking);
    return true;
}

template <typename Pred> std::vector<SnapshotBooking> SnapshotBookings::takeIf(Pred pred)
{
    std::vector<SnapshotBooking> taken;
    for (auto it = m_bookings.begin(); it != m_bookings.end();) {
        if (pred(*it)) {
            taken.push_back(std::move(*it));
            it = m_bookings.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

std::vector<SnapshotBooking> SnapshotBookings::takeServedBy(qint64 pts)
{
    return takeIf([pts](const SnapshotBooking& b) { return serves(pts, b.second); });
}

std::vector<SnapshotBooking> SnapshotBookings::takeOverdue(qint64 nowMs, qint64 graceMs)
{
    return takeIf([nowMs, graceMs](const SnapshotBooking& b) { return nowMs - b.dueMs > graceMs; });
}

std::vector<SnapshotBooking> SnapshotBookings::takeAll()
{
    return takeIf([](const SnapshotBooking&) { return true; });
}
