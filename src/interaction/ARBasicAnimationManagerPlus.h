#pragma once

#include "scene/ARPausableAnimations.h"

#include <osg/Timer>
#include <osgAnimation/BasicAnimationManager>

namespace Novaro
{

// The content's skeletal and channel animations with a pause: while paused the animation time
// stands still, and on resuming it carries on from where it stood rather than jumping ahead by
// the time spent paused. The animation time is the frame's simulation time minus every pause so
// far (and minus the current one while paused). Pauses are timed on the scene clock (SceneClock),
// which follows the frame count when the player runs on a fixed time per frame.
class ARBasicAnimationManagerPlus : public osgAnimation::BasicAnimationManager, public ARPausableAnimations
{
public:
    ARBasicAnimationManagerPlus();
    // A copy of a manager found in loaded content: its animations, shared, start paused.
    explicit ARBasicAnimationManagerPlus(const osgAnimation::BasicAnimationManager& manager,
                                         const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    // Update traversal: links the animations to their targets once, then updates them at the
    // animation time. Other traversals only go on below.
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override;

    bool isPaused() const override { return _paused; }
    void setPaused(bool paused) override;
    void togglePaused() override { setPaused(!_paused); }

    // Seconds of simulation time spent paused before the current pause.
    double getPausedTime() const { return _pausedTime; }
    // The time the animations are updated at for a frame at 'simulationTime'.
    double animationTime(double simulationTime) const;

protected:
    ~ARBasicAnimationManagerPlus() override = default;

private:
    bool _paused = true;
    double _pausedTime = 0.0;
    osg::Timer_t _pauseStart = 0; // the pause clock's start
    // Seconds on the pause clock since its start.
    double pauseClockSeconds() const;
};

} // namespace Novaro
