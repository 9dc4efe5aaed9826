#include "platform/system/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace lumora {

namespace {
// The handler may only write to a pipe; the event loop reads it on the main thread.
int g_pipe[2] = {-1, -1};
QSocketNotifier* g_notifier = nullptr;
std::function<void(int)> g_onSignal;
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int sig) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(sig);
    if (g_pipe[1] >= 0) {
        ssize_t ignored = write(g_pipe[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void Drain() {
    unsigned char buf[16];
    ssize_t n;
    while ((n = read(g_pipe[0], buf, sizeof buf)) > 0)
        for (ssize_t i = 0; i < n; ++i)
            if (g_onSignal) g_onSignal(buf[i]);
}
} // namespace

void InstallCloseSignals(std::function<void(int signal)> onSignal) {
    g_onSignal = std::move(onSignal);
    if (g_pipe[0] < 0) {
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_pipe) != 0) return;
        g_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
        QObject::connect(g_notifier, &QSocketNotifier::activated, [] { Drain(); });
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals) sigaction(sig, &sa, nullptr);
}

void RemoveCloseSignals() {
    for (int sig : kSignals) signal(sig, SIG_DFL);
    delete g_notifier;
    g_notifier = nullptr;
    for (int& fd : g_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    g_onSignal = nullptr;
}

} // namespace lumora
