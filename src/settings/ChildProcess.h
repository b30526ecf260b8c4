#pragma once

#include <chrono>
#include <sys/types.h>

namespace Novaro
{

// Waits at most 'limit' for the child process to end. Its wait status (waitpid's); -1 when it had
// not ended by then, in which case it is killed and reaped, so that no child outlives its use; and
// 0 when something else reaped it first (nothing is known against it). Looks every 5 ms, which
// is as late as an end is noticed.
int waitForChild(pid_t child, std::chrono::milliseconds limit);

} // namespace Novaro
