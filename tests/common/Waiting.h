#pragma once

// Waiting for something that a thread of the code under test brings about (a decoded picture, a
// captured frame, a drawn window), the way the player's frame loop meets it: update, look, and
// update again. What a test asserts is the event; the time limit only ends a wait that would never
// end (the code hung or lost the event), so it lies far beyond what any load makes of the wait.

#include <chrono>
#include <thread>

namespace NovaroTest
{

// Beyond any busy machine's delay, and below the test runner's own time-out of ten minutes.
constexpr std::chrono::minutes kHangGuard{3};

// Runs step() and then checks done(), a few milliseconds apart, until done() holds: true then,
// false only when the hang guard ran out.
template <typename Step, typename Done>
bool stepUntil(Step step, Done done, std::chrono::milliseconds pause = std::chrono::milliseconds(2))
{
    const auto guard = std::chrono::steady_clock::now() + kHangGuard;
    for (;;)
    {
        step();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > guard)
            return false;
        std::this_thread::sleep_for(pause);
    }
}

} // namespace NovaroTest
