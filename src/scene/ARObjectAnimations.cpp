// Animations of scene objects: the path animations and the first skeletal/channel animation
// manager found in the content, all under one name-addressed control. Everything starts paused
// and plays once.
#include "scene/ARObject.h"

#include "scene/ARObjectExtensions.h"

#include <osgAnimation/AnimationManagerBase>

namespace Novaro
{

namespace
{

// Counts the animations of a subgraph: path callbacks and the animations of osgAnimation
// managers, wherever they sit in a node's update-callback chain. Any of them keeps the object
// out of the optimizer, which would merge away the nodes they move.
class AnimationCounter : public osg::NodeVisitor
{
public:
    AnimationCounter() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

    void apply(osg::Node& node) override
    {
        for (osg::Callback* callback = node.getUpdateCallback(); callback != nullptr;
             callback = callback->getNestedCallback())
        {
            if (dynamic_cast<osg::AnimationPathCallback*>(callback) != nullptr)
                ++count;
            else if (auto* manager = dynamic_cast<osgAnimation::AnimationManagerBase*>(callback))
                count += manager->getAnimationList().size();
        }
        traverse(node);
    }

    size_t count = 0;
};

bool matches(const std::string& name, const std::string& wanted)
{
    return wanted.empty() || name == wanted;
}

// Puts a path animation back to its start and shows its first pose at once. A plain reset would
// only take effect on the next frame it plays, so a paused node would stay where it stood.
void rewindPath(osg::AnimationPathCallback& callback, osg::Node* node)
{
    callback.reset();
    callback._firstTime = callback._latestTime;
    callback._pauseTime = callback._latestTime;
    if (node != nullptr && callback.getAnimationPath() != nullptr)
        callback.update(*node);
}

} // namespace

void ARObject::setUpAnimations()
{
    AnimationCounter counter;
    accept(counter);
    if (counter.count > 0)
        _optimizeEnabled = false;

    const ARObjectExtensions* extensions = ARObjectExtensions::installed();
    _pathCallbacks.clear();
    _pathAnimatedNodes.clear();
    _animationManager = nullptr;
    _animationPause = nullptr;
    if (!extensions)
        return;
    extensions->findPathAnimations(*this, _pathCallbacks, _pathAnimatedNodes);
    for (osg::AnimationPathCallback* callback : _pathCallbacks)
    {
        if (callback->getAnimationPath() != nullptr)
            callback->getAnimationPath()->setLoopMode(osg::AnimationPath::NO_LOOPING);
        callback->setPause(true);
    }

    _animationManager = extensions->replaceAnimationManager(*this);
    _animationPause = dynamic_cast<ARPausableAnimations*>(_animationManager.get());
    if (_animationManager.valid())
    {
        for (osgAnimation::Animation* animation : _animationManager->getAnimationList())
            animation->setPlayMode(osgAnimation::Animation::ONCE);
        _animationManager->stopAll();
    }
}

std::vector<osg::AnimationPathCallback*> ARObject::selectPathAnimations(const std::string& name) const
{
    std::vector<osg::AnimationPathCallback*> selected;
    for (osg::AnimationPathCallback* callback : _pathCallbacks)
        if (matches(callback->getName(), name))
            selected.push_back(callback);
    return selected;
}

std::vector<osgAnimation::Animation*> ARObject::selectManagedAnimations(const std::string& name) const
{
    std::vector<osgAnimation::Animation*> selected;
    if (_animationManager.valid())
        for (osgAnimation::Animation* animation : _animationManager->getAnimationList())
            if (matches(animation->getName(), name))
                selected.push_back(animation);
    return selected;
}

void ARObject::playStoppedAnimations(const std::string& name)
{
    for (osgAnimation::Animation* animation : selectManagedAnimations(name))
        if (!_animationManager->isPlaying(animation))
            _animationManager->playAnimation(animation, 0, 1.0f);
}

void ARObject::startAnimation(const std::string& name)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        callback->setPause(false);
    if (_animationPause)
        _animationPause->setPaused(false);
    playStoppedAnimations(name);
}

void ARObject::togglePauseAnimation(const std::string& name)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        callback->setPause(!callback->getPause());
    if (_animationPause)
        _animationPause->togglePaused();
    playStoppedAnimations(name);
}

void ARObject::stopAnimation(const std::string& name)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        callback->setPause(true);
    if (_animationPause)
        _animationPause->setPaused(true);
}

void ARObject::rewindAnimation(const std::string& name)
{
    for (size_t i = 0; i < _pathCallbacks.size(); ++i)
        if (matches(_pathCallbacks[i]->getName(), name))
            rewindPath(*_pathCallbacks[i], _pathAnimatedNodes[i].get());
    if (_animationManager.valid())
    {
        if (name.empty())
            _animationManager->stopAll();
        else
            for (osgAnimation::Animation* animation : selectManagedAnimations(name))
                _animationManager->stopAnimation(animation);
    }
    // Playing from the start and pausing at once leaves the animations on their first pose.
    startAnimation(name);
    togglePauseAnimation(name);
}

void ARObject::setAnimationLoop(const std::string& name, bool loop)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        if (callback->getAnimationPath() != nullptr)
            callback->getAnimationPath()->setLoopMode(loop ? osg::AnimationPath::LOOP
                                                           : osg::AnimationPath::NO_LOOPING);
    for (osgAnimation::Animation* animation : selectManagedAnimations(name))
        animation->setPlayMode(loop ? osgAnimation::Animation::LOOP : osgAnimation::Animation::ONCE);
}

void ARObject::changeAnimationSpeed(const std::string& name, double amount)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        callback->setTimeMultiplier(callback->getTimeMultiplier() + amount);
}

void ARObject::setAnimationSpeed(const std::string& name, double speed)
{
    for (osg::AnimationPathCallback* callback : selectPathAnimations(name))
        callback->setTimeMultiplier(speed);
}

} // namespace Novaro
