#include "interaction/ARBasicAnimationManagerPlus.h"

#include "interaction/ARIndexedLinkVisitor.h"
#include "scene/SceneClock.h"

#include <osg/NodeVisitor>

namespace Novaro
{

ARBasicAnimationManagerPlus::ARBasicAnimationManagerPlus()
{
    _pauseStart = SceneClock::tick();
    setLinkVisitor(new ARIndexedLinkVisitor);
}

ARBasicAnimationManagerPlus::ARBasicAnimationManagerPlus(const osgAnimation::BasicAnimationManager& manager,
                                                         const osg::CopyOp& copyop)
    : osgAnimation::BasicAnimationManager(manager, copyop)
{
    _pauseStart = SceneClock::tick();
    setLinkVisitor(new ARIndexedLinkVisitor);
}

void ARBasicAnimationManagerPlus::setPaused(bool paused)
{
    if (paused == _paused)
        return;
    if (paused)
        _pauseStart = SceneClock::tick();
    else
        _pausedTime += pauseClockSeconds();
    _paused = paused;
}

double ARBasicAnimationManagerPlus::pauseClockSeconds() const
{
    return osg::Timer::instance()->delta_s(_pauseStart, SceneClock::tick());
}

double ARBasicAnimationManagerPlus::animationTime(double simulationTime) const
{
    double time = simulationTime - _pausedTime;
    if (_paused)
        time -= pauseClockSeconds();
    return time;
}

void ARBasicAnimationManagerPlus::operator()(osg::Node* node, osg::NodeVisitor* visitor)
{
    if (visitor != nullptr && visitor->getVisitorType() == osg::NodeVisitor::UPDATE_VISITOR &&
        visitor->getFrameStamp() != nullptr)
    {
        if (needToLink())
            link(node);
        update(animationTime(visitor->getFrameStamp()->getSimulationTime()));
    }
    traverse(node, visitor);
}

} // namespace Novaro
