#include "settings/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <thread>

namespace Novaro
{

namespace
{

// How often the waiting process looks at the child.
const auto kPollPeriod = std::chrono::milliseconds(5);

} // namespace

int waitForChild(pid_t child, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;)
    {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return status;
        if (done < 0 && errno != EINTR)
            return 0;
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
}

} // namespace Novaro
