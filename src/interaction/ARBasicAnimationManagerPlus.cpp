#include "interaction/ARBasicAnimationManagerPlus.h"

#include "interaction/ARIndexedLinkVisitor.h"

#include <osg/NodeVisitor>

namespace Novaro
{

ARBasicAnimationManagerPlus::ARBasicAnimationManagerPlus()
{
    _pauseClock.setStartTick();
    setLinkVisitor(new ARIndexedLinkVisitor);
}

ARBasicAnimationManagerPlus::ARBasicAnimationManagerPlus(const osgAnimation::BasicAnimationManager& manager,
                                                         const osg::CopyOp& copyop)
    : osgAnimation::BasicAnimationManager(manager, copyop)
{
    _pauseClock.setStartTick();
    setLinkVisitor(new ARIndexedLinkVisitor);
}

void ARBasicAnimationManagerPlus::setPaused(bool paused)
{
    if (paused == _paused)
        return;
    if (paused)
        _pauseClock.setStartTick();
    else
        _pausedTime += _pauseClock.time_s();
    _paused = paused;
}

double ARBasicAnimationManagerPlus::animationTime(double simulationTime) const
{
    double time = simulationTime - _pausedTime;
    if (_paused)
        time -= _pauseClock.time_s();
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
