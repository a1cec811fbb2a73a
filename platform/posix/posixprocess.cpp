#include "platform/platform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Linux lets any process grow a pipe to this size.
const int WorkerPipeBytes = 1024 * 1024;

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

WorkerChannel openWorkerChannel()
{
    // A library that prints to standard output must not end up inside a frame.
    const int output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (output < 0)
        return {};
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(output);
        return {};
    }
    // Clips are megabytes: a bigger pipe takes them in fewer turns of both event loops.
    fcntl(output, F_SETPIPE_SZ, WorkerPipeBytes);
    return {STDIN_FILENO, output};
}

void onEndRequest(std::function<void()> requested)
{
    endRequested = std::move(requested);
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
        endRequested();
    });
    struct sigaction action = {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction before = {};
        // A signal we were started with ignored (nohup, a background job) stays ignored.
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            sigaction(signal, &action, nullptr);
    }
}

} // namespace platform
