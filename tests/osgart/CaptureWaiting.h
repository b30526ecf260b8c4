#pragma once

// Drives a capture video's update until a condition holds, as the frame loop would.

#include "CaptureVideo.h"
#include "Waiting.h"

namespace NovaroTest
{

// Whether the condition came to hold while the video was updated as the frame loop would (false
// only when the wait hung).
template <typename Condition> inline bool updateUntil(osgART::CaptureVideo& video, Condition condition)
{
    return stepUntil([&] { video.update(); }, condition);
}

} // namespace NovaroTest
