#pragma once

#include <osg/Timer>

#include <functional>

namespace Novaro
{

// The clock that timed scene behaviour reads: head-up texts that go after some seconds and the
// pause of animations. It is the system clock unless the player runs on a fixed time per frame,
// when it follows the frame count like the frames' simulation time does, so that both agree.
namespace SceneClock
{
using TickSource = std::function<osg::Timer_t()>;
// Where the clock reads its ticks from now on; an empty source means the system clock.
void setTickSource(TickSource source);
osg::Timer_t tick();
} // namespace SceneClock

} // namespace Novaro
