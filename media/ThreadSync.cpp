#include "media/ThreadSync.h"

#include <QEvent>
#include <QMetaMethod>
#include <QObject>
#include <QThread>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <typeinfo>

namespace {

// Qt 5.15's QAbstractMetaCallEvent (a private class) as the compiler lays it
// out: after the QEvent part (whose tail padding takes the int) the signal
// index, the sender and the semaphore of a blocking call.
struct MetaCallEventMirror : QEvent {
    MetaCallEventMirror()
        : QEvent(QEvent::None)
    {
    }
    int signalId = -1;
    const QObject* sender = nullptr;
    void* semaphore = nullptr;
};

struct MetaCallOffsets {
    std::ptrdiff_t signalId;
    std::ptrdiff_t sender;
};

const MetaCallOffsets& metaCallOffsets()
{
    static const MetaCallOffsets offsets = [] {
        const MetaCallEventMirror mirror;
        const auto* base = reinterpret_cast<const char*>(&mirror);
        return MetaCallOffsets { reinterpret_cast<const char*>(&mirror.signalId) - base,
            reinterpret_cast<const char*>(&mirror.sender) - base };
    }();
    return offsets;
}

constexpr bool kKnownLayout = QT_VERSION >= QT_VERSION_CHECK(5, 15, 0) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0);

} // namespace

bool ThreadSync::queuedCallOrigin(const QEvent* event, const QObject*& sender, int& signalIndex)
{
    if (!kKnownLayout || !event || event->type() != QEvent::MetaCall
        || std::strcmp(typeid(*event).name(), "14QMetaCallEvent") != 0)
        return false;
    const auto* bytes = reinterpret_cast<const char*>(event);
    std::memcpy(&signalIndex, bytes + metaCallOffsets().signalId, sizeof signalIndex);
    std::memcpy(&sender, bytes + metaCallOffsets().sender, sizeof sender);
    return true;
}

#if defined(__SANITIZE_THREAD__)

extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);

// Qt's hooks for signal spies (exported by QtCore, declared in its private headers).
struct QSignalSpyCallbackSet {
    typedef void (*BeginCallback)(QObject* caller, int signalOrMethodIndex, void** argv);
    typedef void (*EndCallback)(QObject* caller, int signalOrMethodIndex);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
Q_CORE_EXPORT void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callbackSet);

namespace {

// The sanitizer's synchronisation objects, one per (key, signal) pair. A
// fixed table outlives every sender, so a call still queued when its sender
// is deleted keeps its ordering; two pairs that share a cell order a little
// more than they need to.
constexpr std::uintptr_t kCells = 1u << 16;
char g_cells[kCells];

void* cell(const void* key, int index)
{
    std::uintptr_t h
        = reinterpret_cast<std::uintptr_t>(key) ^ (std::uintptr_t(unsigned(index)) * 0x9e3779b97f4a7c15ull);
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 32;
    return &g_cells[h & (kCells - 1)];
}

// Signal indices count the signals only, in the order of the methods.
int signalIndexOf(const QMetaMethod& signal)
{
    int index = 0;
    for (int i = 0; i < signal.methodIndex(); ++i)
        index += signal.enclosingMetaObject()->method(i).methodType() == QMetaMethod::Signal ? 1 : 0;
    return index;
}

const int kDestroyedIndex = 0; // QObject::destroyed(QObject*)
// The key of a thread's end, apart from its signals.
constexpr int kThreadEnd = -2;

int finishedIndex()
{
    static const int index = signalIndexOf(QMetaMethod::fromSignal(&QThread::finished));
    return index;
}

void onSignal(QObject* sender, int signalIndex, void**)
{
    __tsan_release(cell(sender, signalIndex));
    // A QThread is deleted after a wait() (detached threads and Qt's own wait
    // condition are invisible): its deletion is ordered after its end. Qt
    // emits destroyed() only when something listens; observeFinished()
    // serves the other cases.
    if (signalIndex == kDestroyedIndex)
        __tsan_acquire(cell(sender, kThreadEnd));
}

// After the slots connected directly to finished(), the thread's last work.
// The sender is not looked at (a thread's owner may delete it as soon as it
// has observed this); another class's signal of the same index only orders
// that object's deletion a little more.
void onSignalEnd(QObject* sender, int signalIndex)
{
    if (signalIndex == finishedIndex())
        __tsan_release(cell(sender, kThreadEnd));
}

bool onEvent(void** data)
{
    const auto* receiver = static_cast<const QObject*>(data[0]);
    const auto* event = static_cast<const QEvent*>(data[1]);
    const QObject* sender = nullptr;
    int signalIndex = -1;
    if (ThreadSync::queuedCallOrigin(event, sender, signalIndex))
        __tsan_acquire(sender ? cell(sender, signalIndex) : cell(receiver, -1));
    return false;
}

struct Installer {
    Installer()
    {
        static QSignalSpyCallbackSet callbacks { onSignal, nullptr, onSignalEnd, nullptr };
        qt_register_signal_spy_callbacks(&callbacks);
        QInternal::registerCallback(QInternal::EventNotifyCallback, onEvent);
    }
} g_installer;

} // namespace

void ThreadSync::publish(const void* key)
{
    __tsan_release(cell(key, -1));
}

void ThreadSync::observe(const void* key)
{
    __tsan_acquire(cell(key, -1));
}

void ThreadSync::observeFinished(const QThread* thread)
{
    __tsan_acquire(cell(thread, kThreadEnd));
}

#else

void ThreadSync::publish(const void*) { }

void ThreadSync::observe(const void*) { }

void ThreadSync::observeFinished(const QThread*) { }

#endif
