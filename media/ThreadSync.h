#pragma once
// Hand-overs between threads that go through Qt (queued calls, thread ends,
// blocking invocations) are ordered by locks inside the Qt library. In a build
// with the thread sanitizer those locks are invisible, since the library is not
// instrumented; these calls tell the sanitizer about the ordering Qt gives.
// They do nothing in other builds.
//
// In a sanitizer build the library also hooks Qt itself: every signal
// emission publishes, every event delivery observes. A queued call copies its
// arguments after the emission has begun, so a type that crosses threads in
// queued calls publishes in its copy constructor too.

namespace ThreadSync {

// Everything this thread did so far happens before whatever a later observe()
// on any thread does.
void publish();
void observe();

} // namespace ThreadSync
