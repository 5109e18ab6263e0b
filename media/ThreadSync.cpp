#include "media/ThreadSync.h"

#if defined(__SANITIZE_THREAD__)

#include <QObject>
#include <QtGlobal>

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

char g_token;

void onSignal(QObject*, int, void**)
{
    __tsan_release(&g_token);
}

bool onEvent(void**)
{
    __tsan_acquire(&g_token);
    return false;
}

struct Installer {
    Installer()
    {
        static QSignalSpyCallbackSet callbacks { onSignal, nullptr, nullptr, nullptr };
        qt_register_signal_spy_callbacks(&callbacks);
        QInternal::registerCallback(QInternal::EventNotifyCallback, onEvent);
    }
} g_installer;

} // namespace

void ThreadSync::publish()
{
    __tsan_release(&g_token);
}

void ThreadSync::observe()
{
    __tsan_acquire(&g_token);
}

#else

void ThreadSync::publish() { }

void ThreadSync::observe() { }

#endif
