#include "platform/platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Carries a termination signal from its handler into the event loop.
int endSignalPipe[2] = {-1, -1};
std::function<void()> endRequested;

void onEndSignal(int)
{
    // Nothing but write() is safe here. A full socket already holds a wake-up.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(endSignalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

namespace platform {

void onEndRequest(std::function<void()> requested)
{
    endRequested = std::move(requested);
    if (endSignalPipe[0] >= 0)
        return;
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, endSignalPipe) != 0) {
        std::perror("tessel: no socket pair for signals");
        return;
    }
    auto *notifier =
        new QSocketNotifier(endSignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (read(endSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (endRequested)
            endRequested();
    });
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action = {};
        // A signal we were started with ignored (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

} // namespace platform
