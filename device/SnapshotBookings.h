#pragma once
// The snapshots booked for the video frames of given seconds, kept in the
// order they were booked. A plain container: the preview worker keeps it under
// its media mutex and serves it on the preview thread.

#include "device/AlarmSnapshot.h"

#include <QtGlobal>

#include <deque>
#include <vector>

struct SnapshotBooking {
    AlarmSnapshot::Request request;
    qint64 second = 0; // camera-local second whose frames serve the booking
    qint64 dueMs = 0; // steady-clock time by which a frame should have served it
};

class SnapshotBookings {
public:
    // A frame serves a booking once it is this far into the booked second.
    static constexpr qint64 kServeAfterMs = 1500;
    // Bookings beyond this many are refused; the caller then snapshots at once.
    static constexpr int kMaxPending = 256;
    // A booking for a second further ahead of the stream than this falls due
    // no later: the person was measured already, and a clock that far off
    // would otherwise hold the booking for hours.
    static constexpr qint64 kMaxLeadMs = 10000;

    // Whether a frame stamped `pts` serves a booking for `second`.
    static bool serves(qint64 pts, qint64 second);
    // When a booking for `second`, made at steady-clock time `nowMs` while the
    // newest frame is stamped `pts` (0: none yet), falls due.
    static qint64 dueTime(qint64 second, qint64 pts, qint64 nowMs);

    // False when kMaxPending bookings wait already.
    bool add(const SnapshotBooking& booking);
    // Removes and returns, in booking order, every booking a frame stamped
    // `pts` serves.
    std::vector<SnapshotBooking> takeServedBy(qint64 pts);
    // Removes and returns, in booking order, every booking overdue by more
    // than `graceMs` at steady-clock time `nowMs`.
    std::vector<SnapshotBooking> takeOverdue(qint64 nowMs, qint64 graceMs);
    // Removes and returns every booking, in booking order.
    std::vector<SnapshotBooking> takeAll();
    bool isEmpty() const { return m_bookings.empty(); }
    int size() const { return int(m_bookings.size()); }

private:
    template <typename Pred> std::vector<SnapshotBooking> takeIf(Pred pred);

    std::deque<SnapshotBooking> m_bookings;
};
