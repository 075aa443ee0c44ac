#include "platform/posix/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace lumora::platform::posix {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Written by the handler only; plain ints and atomics, as a handler may touch nothing else.
volatile sig_atomic_t writeEnd = -1;
volatile sig_atomic_t received = 0;

void onSignal(int signal) {
    if (received != 0) {
        // Already ending and asked again: the person (or the desktop) does not want to wait.
        ::signal(signal, SIG_DFL);
        raise(signal);
        return;
    }
    received = signal;
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds a wake-up: nothing is lost by dropping this one.
    [[maybe_unused]] const ssize_t ignored = write(writeEnd, &byte, 1);
    errno = saved;
}

}  // namespace

int catchTerminationSignals() {
    static int readEnd = -1;
    if (readEnd >= 0)
        return readEnd;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    writeEnd = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls go on: the loop, not the interrupted call, serves the request.
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
    readEnd = fds[0];
    return readEnd;
}

int takeTerminationSignal(int fd) {
    unsigned char byte = 0;
    return read(fd, &byte, 1) == 1 ? byte : 0;
}

}  // namespace lumora::platform::posix
