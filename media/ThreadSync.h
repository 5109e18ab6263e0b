#pragma once
// Hand-overs between threads that go through Qt (queued calls, thread ends,
// blocking invocations) are ordered by locks inside the Qt library. In a build
// with the thread sanitizer those locks are invisible, since the library is not
// instrumented; these calls tell the sanitizer about the ordering Qt gives.
// They do nothing in other builds. Any thread.
//
// In a sanitizer build the library also hooks Qt itself, per event: a signal
// emission publishes under its sender and signal, and the delivery of a queued
// call that this emission posted observes the same sender and signal, so a
// slot is ordered after what its emitter did before emitting, and after
// nothing else. Qt offers no hook on the posting thread that sees the event
// object itself, hence the key of sender and signal. A queued call posted
// without a signal (QMetaObject::invokeMethod) observes the key of its
// receiver: the caller publishes it (publish(receiver)) before invoking. The
// functor itself is stored by invokeMethod after any publish the caller can
// make; scripts/tsan.supp covers that copy.

class QEvent;
class QObject;
class QThread;

namespace ThreadSync {

// Everything this thread did so far happens before whatever a later
// observe(key) on any thread does. Keys are addresses; any object will do.
void publish(const void* key);
void observe(const void* key);
// After QThread::wait(): everything the thread did, up to the end of its
// finished() signal, happens before what this thread does next. Deleting a
// QThread does the same by itself.
void observeFinished(const QThread* thread);

// The sender and signal index of a queued call (a QEvent::MetaCall event);
// false for any other event. Queued calls posted by invokeMethod have no
// sender and signal index -1.
bool queuedCallOrigin(const QEvent* event, const QObject*& sender, int& signalIndex);

} // namespace ThreadSync
