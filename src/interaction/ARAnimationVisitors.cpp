#include "interaction/ARAnimationVisitors.h"

#include "interaction/ARBasicAnimationManagerPlus.h"

namespace Novaro
{

namespace
{

// A copy of an animation with copies of its channels, as the library's copy would make, but with
// the duration computed once: the library recomputes it over all channels at each channel it
// adds, which for tens of thousands of channels takes minutes.
osg::ref_ptr<osgAnimation::Animation> copyAnimation(const osgAnimation::Animation& animation)
{
    osg::ref_ptr<osgAnimation::Animation> copy = new osgAnimation::Animation;
    copy->setName(animation.getName());
    copy->setWeight(animation.getWeight());
    copy->setStartTime(animation.getStartTime());
    copy->setPlayMode(animation.getPlayMode());
    osgAnimation::ChannelList& channels = copy->getChannels();
    channels.reserve(animation.getChannels().size());
    for (const osg::ref_ptr<osgAnimation::Channel>& channel : animation.getChannels())
        channels.push_back(channel->clone());
    copy->computeDuration();
    if (copy->getDuration() != animation.getDuration())
        copy->setDuration(animation.getDuration());
    return copy;
}

// The manager's animations, copied, in a manager of the given kind; its targets are gathered once.
template <class Manager>
osg::ref_ptr<Manager> copyManager(const osgAnimation::AnimationManagerBase& manager, bool copyAnimations)
{
    osg::ref_ptr<Manager> copy = new Manager;
    copy->setName(manager.getName());
    copy->setAutomaticLink(manager.getAutomaticLink());
    for (const osg::ref_ptr<osgAnimation::Animation>& animation : manager.getAnimationList())
        copy->getAnimationList().push_back(copyAnimations ? copyAnimation(*animation) : animation);
    copy->buildTargetReference();
    copy->dirty(); // linked to the nodes at the first update, as a copy made by the library is
    return copy;
}

} // namespace

ARAnimationsManagerVisitor::ARAnimationsManagerVisitor(bool replace)
    : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN), _replace(replace)
{
}

void ARAnimationsManagerVisitor::apply(osg::Node& node)
{
    if (_manager.valid())
        return;
    auto* found = dynamic_cast<osgAnimation::AnimationManagerBase*>(node.getUpdateCallback());
    if (found == nullptr)
    {
        traverse(node);
        return;
    }
    _manager = copyManager<osgAnimation::BasicAnimationManager>(*found, true);
    if (_replace)
    {
        // Shares the copied animations, as they belong to this content alone.
        _replacement = copyManager<ARBasicAnimationManagerPlus>(*_manager, false);
        node.setUpdateCallback(_replacement.get());
    }
    else
        node.setUpdateCallback(_manager.get());
}

ARAnimationCallbackVisitor::ARAnimationCallbackVisitor()
    : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN)
{
}

void ARAnimationCallbackVisitor::apply(osg::Node& node)
{
    if (auto* callback = dynamic_cast<osg::AnimationPathCallback*>(node.getUpdateCallback()))
    {
        callback->setName(node.getName());
        _callbacks.push_back(callback);
        _nodes.push_back(&node);
    }
    traverse(node);
}

} // namespace Novaro
