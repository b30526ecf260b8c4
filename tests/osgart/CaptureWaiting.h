#pragma once

// Drives a capture video's update until a condition holds, as the frame loop would.

#include "CaptureVideo.h"

#include <chrono>
#include <thread>

namespace NovaroTest
{

// Whether 'condition' held within 'seconds' of updates about 100 times a second.
template <typename Condition>
bool updateUntil(osgART::CaptureVideo& video, Condition condition, double seconds = 10.0)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline)
    {
        video.update();
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace NovaroTest
