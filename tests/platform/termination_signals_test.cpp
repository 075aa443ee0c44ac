// Log-out, shut-down and Ctrl+C as requests the program's loop serves: the first signal waits
// in the pipe, a second one ends the process where it stands. Each case runs in a child
// process, as the handlers are process-wide.
#include "platform/posix/termination_signals.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lumora::platform::posix {
namespace {

// Runs `body` in a child and returns its wait status.
template <typename Body>
int inChild(Body body) {
    const pid_t child = fork();
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

TEST(TerminationSignals, TheFirstIsARequestAndTheSecondEndsAtOnce) {
    for (int first : {SIGTERM, SIGHUP, SIGINT}) {
        const int status = inChild([first] {
            const int fd = catchTerminationSignals();
            if (fd < 0)
                return 10;
            if (takeTerminationSignal(fd) != 0)
                return 11;
            raise(first);  // handled before raise returns
            if (takeTerminationSignal(fd) != first)
                return 12;
            raise(SIGTERM);  // while ending: no second chance
            return 13;
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << first << " exit " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), SIGTERM) << first;
    }
}

}  // namespace
}  // namespace lumora::platform::posix
