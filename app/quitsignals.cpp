#include "app/quitsignals.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <qt_windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
std::function<void(const char *)> g_handler;

// In the event loop: the caller's handler, or the end of the run.
void deliver(const char *name)
{
    if (g_handler)
        g_handler(name);
    else
        QCoreApplication::quit();
}

#ifdef Q_OS_WIN
bool g_installed = false;

// Windows calls this on a thread of its own: the event's name is posted to
// the event loop, which does the work.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const char *name = nullptr;
    switch (event) {
    case CTRL_C_EVENT: name = "Ctrl+C"; break;
    case CTRL_BREAK_EVENT: name = "Ctrl+Break"; break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: name = "console close"; break;
    default: return FALSE;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return FALSE;
    QMetaObject::invokeMethod(app, [name] { deliver(name); }, Qt::QueuedConnection);
    // Windows ends the process as soon as this returns from a close event
    // (and at the latest after about five seconds): waiting here gives the
    // event loop the time to close the databases in order; the process then
    // ends from main().
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        ::Sleep(4500);
    return TRUE;
}
#else
int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the signal's number into the pipe wakes
// the loop.
void onSignal(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    }
    return "a signal";
}
#endif
} // namespace

#ifdef Q_OS_WIN
void quitOnSignals(std::function<void(const char *name)> handler)
{
    g_handler = std::move(handler);
    if (g_installed)
        return;
    g_installed = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}
#else
void quitOnSignals(std::function<void(const char *name)> handler)
{
    g_handler = std::move(handler);
    if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[1], &byte, 1);
        deliver(signalName(byte));
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
#endif
