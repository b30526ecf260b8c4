#include "scene/SceneClock.h"

namespace Novaro
{

namespace
{
SceneClock::TickSource& tickSource()
{
    static SceneClock::TickSource source;
    return source;
}
} // namespace

void SceneClock::setTickSource(TickSource source)
{
    tickSource() = std::move(source);
}

osg::Timer_t SceneClock::tick()
{
    const TickSource& source = tickSource();
    return source ? source() : osg::Timer::instance()->tick();
}

} // namespace Novaro
