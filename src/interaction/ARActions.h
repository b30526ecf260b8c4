#pragma once

#include "interaction/ARAction.h"
#include "scene/ARModel.h"
#include "scene/ARMultimediaInterface.h"
#include "scene/ARVideo.h"

#include <string>

namespace Novaro
{

// The command classes. Each reads its parameters once in prepare() and then makes one call per
// execute(): on the target seen as the kind the command needs, or nothing when the target is
// unresolved or of another kind (a video command aimed at a model).
template <typename Target> class ARTargetAction : public ARAction
{
public:
    bool execute() override
    {
        Target* target = dynamic_cast<Target*>(getTarget());
        if (target == nullptr)
            return false;
        act(*target);
        return true;
    }

protected:
    virtual void act(Target& target) = 0;
};

// --- animations of the target's content, addressed by "animation_name" (empty: all)
class ARAnimationAction : public ARTargetAction<ARObject>
{
public:
    bool prepare() override;

protected:
    std::string _animationName;
};
class ARActionStartAnimation : public ARAnimationAction
{
    void act(ARObject& target) override;
};
class ARActionPauseAnimation : public ARAnimationAction
{
    void act(ARObject& target) override;
};
class ARActionStopAnimation : public ARAnimationAction
{
    void act(ARObject& target) override;
};
class ARActionRewindAnimation : public ARAnimationAction
{
    void act(ARObject& target) override;
};
class ARActionSetAnimationLoop : public ARAnimationAction
{
public:
    bool prepare() override;

private:
    void act(ARObject& target) override;
    bool _loop = false;
};
class ARActionChangeAnimationSpeed : public ARAnimationAction
{
public:
    bool prepare() override;

private:
    void act(ARObject& target) override;
    float _amount = 0.0f;
};
class ARActionSetAnimationSpeed : public ARAnimationAction
{
public:
    bool prepare() override;

private:
    void act(ARObject& target) override;
    float _speed = 0.0f;
};

// --- visibility
class ARActionHide : public ARTargetAction<ARObject>
{
    void act(ARObject& target) override;
};
class ARActionShow : public ARTargetAction<ARObject>
{
    void act(ARObject& target) override;
};

// --- video textures of the target's model, addressed by "video_name" (empty: all)
class ARVideoTextureAction : public ARTargetAction<ARObject>
{
public:
    bool prepare() override;

protected:
    std::string _videoName;
};
class ARActionPlayVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};
class ARActionPauseVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};
class ARActionTogglePauseVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};
class ARActionRewindVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};
class ARActionLoopVideo : public ARVideoTextureAction
{
public:
    bool prepare() override;

private:
    void act(ARObject& target) override;
    bool _loop = false;
};
class ARActionGoFullscreenVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};
class ARActionResignFullscreenVideo : public ARVideoTextureAction
{
    void act(ARObject& target) override;
};

// --- messages between objects; these need the source resolved
class ARActionNotify : public ARAction
{
public:
    bool prepare() override;
    bool execute() override;

private:
    std::string _message;
};
class ARActionSubscribe : public ARAction
{
public:
    bool execute() override;
};
class ARActionUnsubscribe : public ARAction
{
public:
    bool execute() override;
};

// --- video and audio objects
class ARActionPlay : public ARTargetAction<ARMultimediaInterface>
{
    void act(ARMultimediaInterface& target) override;
};
class ARActionPause : public ARTargetAction<ARMultimediaInterface>
{
    void act(ARMultimediaInterface& target) override;
};
class ARActionToggle : public ARTargetAction<ARMultimediaInterface>
{
    void act(ARMultimediaInterface& target) override;
};
class ARActionRewind : public ARTargetAction<ARMultimediaInterface>
{
    void act(ARMultimediaInterface& target) override;
};
class ARActionLoop : public ARTargetAction<ARMultimediaInterface>
{
public:
    bool prepare() override;

private:
    void act(ARMultimediaInterface& target) override;
    bool _loop = false;
};
class ARActionGoFullscreen : public ARTargetAction<ARVideo>
{
    void act(ARVideo& target) override;
};
class ARActionResignFullscreen : public ARTargetAction<ARVideo>
{
    void act(ARVideo& target) override;
};

// --- a model's menu and selection box
class ARActionHideMenu : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};
class ARActionShowMenu : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};
class ARActionToggleMenu : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};
class ARActionHideSelectionBox : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};
class ARActionShowSelectionBox : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};
class ARActionToggleSelectionBox : public ARTargetAction<ARModel>
{
    void act(ARModel& target) override;
};

} // namespace Novaro
