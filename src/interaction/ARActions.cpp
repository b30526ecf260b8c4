#include "interaction/ARActions.h"

#include "scene/ARModel.h"
#include "scene/ARMultimediaInterface.h"
#include "scene/ARObject.h"
#include "scene/ARVideo.h"

namespace Novaro
{

namespace
{

const unsigned int allNodeMaskBits = 0xFFFFFFFF;

// Hidden nodes come back with the mask 1 rather than all bits, as the toggle always did.
void toggleNodeMask(osg::Node* node)
{
    if (node != nullptr)
        node->setNodeMask(node->getNodeMask() == 0 ? 1 : 0);
}

void setNodeMask(osg::Node* node, unsigned int mask)
{
    if (node != nullptr)
        node->setNodeMask(mask);
}

} // namespace

bool ARAnimationAction::prepare()
{
    const bool prepared = ARAction::prepare();
    _animationName = getParameter("animation_name");
    return prepared;
}

void ARActionStartAnimation::act(ARObject& target)
{
    target.startAnimation(_animationName);
}

void ARActionPauseAnimation::act(ARObject& target)
{
    target.togglePauseAnimation(_animationName);
}

void ARActionStopAnimation::act(ARObject& target)
{
    target.stopAnimation(_animationName);
}

void ARActionRewindAnimation::act(ARObject& target)
{
    target.rewindAnimation(_animationName);
}

bool ARActionSetAnimationLoop::prepare()
{
    const bool prepared = ARAnimationAction::prepare();
    _loop = getFlagParameter("loop");
    return prepared;
}

void ARActionSetAnimationLoop::act(ARObject& target)
{
    target.setAnimationLoop(_animationName, _loop);
}

bool ARActionChangeAnimationSpeed::prepare()
{
    const bool prepared = ARAnimationAction::prepare();
    _amount = getNumberParameter("amount");
    return prepared;
}

void ARActionChangeAnimationSpeed::act(ARObject& target)
{
    target.changeAnimationSpeed(_animationName, _amount);
}

bool ARActionSetAnimationSpeed::prepare()
{
    const bool prepared = ARAnimationAction::prepare();
    _speed = getNumberParameter("speed");
    return prepared;
}

void ARActionSetAnimationSpeed::act(ARObject& target)
{
    target.setAnimationSpeed(_animationName, _speed);
}

void ARActionHide::act(ARObject& target)
{
    target.hide();
}

void ARActionShow::act(ARObject& target)
{
    target.show();
}

bool ARVideoTextureAction::prepare()
{
    const bool prepared = ARAction::prepare();
    _videoName = getParameter("video_name");
    return prepared;
}

void ARActionPlayVideo::act(ARObject& target)
{
    target.playVideo(_videoName);
}

void ARActionPauseVideo::act(ARObject& target)
{
    target.pauseVideo(_videoName);
}

void ARActionTogglePauseVideo::act(ARObject& target)
{
    target.togglePauseVideo(_videoName);
}

void ARActionRewindVideo::act(ARObject& target)
{
    target.rewindVideo(_videoName);
}

bool ARActionLoopVideo::prepare()
{
    const bool prepared = ARVideoTextureAction::prepare();
    _loop = getFlagParameter("loop");
    return prepared;
}

void ARActionLoopVideo::act(ARObject& target)
{
    target.loopVideo(_loop, _videoName);
}

void ARActionGoFullscreenVideo::act(ARObject& target)
{
    target.goFullscreenVideo(_videoName);
}

void ARActionResignFullscreenVideo::act(ARObject& target)
{
    target.resignFullscreenVideo(_videoName);
}

bool ARActionNotify::prepare()
{
    const bool prepared = ARAction::prepare();
    _message = getParameter("message");
    return prepared;
}

bool ARActionNotify::execute()
{
    if (getSource() == nullptr)
        return false;
    getSource()->notify(_message);
    return true;
}

bool ARActionSubscribe::execute()
{
    if (getSource() == nullptr || getTarget() == nullptr)
        return false;
    getTarget()->subscribe(getSource());
    return true;
}

bool ARActionUnsubscribe::execute()
{
    if (getSource() == nullptr || getTarget() == nullptr)
        return false;
    getTarget()->unsubscribe(getSource());
    return true;
}

void ARActionPlay::act(ARMultimediaInterface& target)
{
    target.play();
}

void ARActionPause::act(ARMultimediaInterface& target)
{
    target.pause();
}

void ARActionToggle::act(ARMultimediaInterface& target)
{
    target.togglePause();
}

void ARActionRewind::act(ARMultimediaInterface& target)
{
    target.rewind();
}

bool ARActionLoop::prepare()
{
    const bool prepared = ARAction::prepare();
    _loop = getFlagParameter("loop");
    return prepared;
}

void ARActionLoop::act(ARMultimediaInterface& target)
{
    target.setLoop(_loop);
}

void ARActionGoFullscreen::act(ARVideo& target)
{
    target.goFullscreen();
}

void ARActionResignFullscreen::act(ARVideo& target)
{
    target.resignFullscreen();
}

void ARActionHideMenu::act(ARModel& target)
{
    setNodeMask(target.getMenu(), 0);
}

void ARActionShowMenu::act(ARModel& target)
{
    setNodeMask(target.getMenu(), allNodeMaskBits);
}

void ARActionToggleMenu::act(ARModel& target)
{
    toggleNodeMask(target.getMenu());
}

void ARActionHideSelectionBox::act(ARModel& target)
{
    setNodeMask(target.getSelectionBox(), 0);
}

void ARActionShowSelectionBox::act(ARModel& target)
{
    setNodeMask(target.getSelectionBox(), allNodeMaskBits);
}

void ARActionToggleSelectionBox::act(ARModel& target)
{
    toggleNodeMask(target.getSelectionBox());
}

} // namespace Novaro
