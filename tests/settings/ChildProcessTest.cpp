// Waiting for a child process with a limit: its status when it ends in time, and no child left
// behind when it does not.
#include "settings/ChildProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using Novaro::waitForChild;

TEST(ChildProcess, AChildThatEndsInTimeGivesItsStatusOneThatDoesNotIsKilledAndReaped)
{
    const pid_t quick = fork();
    if (quick == 0)
        _exit(3);
    const int status = waitForChild(quick, std::chrono::milliseconds(5000));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(3, WEXITSTATUS(status));

    const pid_t stuck = fork();
    if (stuck == 0)
    {
        for (;;)
            pause();
    }
    EXPECT_EQ(-1, waitForChild(stuck, std::chrono::milliseconds(100)));
    // Reaped: no such process any more, not even a zombie.
    EXPECT_EQ(-1, kill(stuck, 0));
    EXPECT_EQ(ESRCH, errno);
}
