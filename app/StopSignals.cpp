#include "app/StopSignals.h"

#include <QSocketNotifier>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
constexpr int kSignals[] = { SIGTERM, SIGINT, SIGHUP };
// The handler may only do async-signal-safe work: it writes the signal's
// number into a pipe that the event loop watches.
int g_pipe[2] = { -1, -1 };

extern "C" void onStopSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}
#endif

} // namespace

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
#ifndef _WIN32
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onSigActivated);
    struct sigaction action { };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
#endif
}

StopSignals::~StopSignals()
{
#ifndef _WIN32
    if (!m_notifier)
        return;
    struct sigaction action { };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int number : kSignals)
        ::sigaction(number, &action, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
#endif
}

void StopSignals::onSigActivated()
{
#ifndef _WIN32
    unsigned char byte = 0;
    int first = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (first == 0)
            first = byte;
    }
    if (first == 0 || m_requested)
        return;
    m_requested = true;
    emit sigStopRequested(first);
#endif
}
