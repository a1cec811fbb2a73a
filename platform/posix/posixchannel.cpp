#include "platform/platform.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Linux lets any process grow a pipe to this size.
const int WorkerPipeBytes = 1024 * 1024;

} // namespace

namespace platform {

WorkerChannel openWorkerChannel()
{
    WorkerChannel channel;
    // A library that prints to standard output must not end up inside a frame.
    const int output = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (output < 0)
        return channel;
    if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        close(output);
        return channel;
    }
    channel.output = output;
#ifdef F_SETPIPE_SZ
    // Clips are megabytes: a bigger pipe takes them in fewer turns of both event loops.
    fcntl(output, F_SETPIPE_SZ, WorkerPipeBytes);
#endif
    return channel;
}

} // namespace platform
