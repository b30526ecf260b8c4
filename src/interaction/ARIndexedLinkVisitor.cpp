#include "interaction/ARIndexedLinkVisitor.h"

#include <osg/Drawable>
#include <osg/Geode>
#include <osgAnimation/AnimationUpdateCallback>

namespace Novaro
{

void ARIndexedLinkVisitor::apply(osg::Node& node)
{
    // Materials and other state animated through the state set are few: the library links them.
    if (osg::StateSet* state = node.getStateSet())
        handle_stateset(state);
    for (osg::Callback* callback = node.getUpdateCallback(); callback;
         callback = callback->getNestedCallback())
        if (auto* target = dynamic_cast<osgAnimation::AnimationUpdateCallbackBase*>(callback))
            linkByName(*target);
    traverse(node);
}

void ARIndexedLinkVisitor::apply(osg::Geode& geode)
{
    for (unsigned int index = 0; index < geode.getNumDrawables(); ++index)
        if (osg::StateSet* state = geode.getDrawable(index)->getStateSet())
            handle_stateset(state);
    apply(static_cast<osg::Node&>(geode));
}

void ARIndexedLinkVisitor::linkByName(osgAnimation::AnimationUpdateCallbackBase& target)
{
    // A nameless target would take every nameless channel: the library refuses it too.
    const std::string& name = target.getName();
    if (name.empty())
        return;
    indexChannels();
    const auto found = _channelsByTarget.find(name);
    if (found == _channelsByTarget.end())
        return;
    for (osgAnimation::Channel* channel : found->second)
        if (target.link(channel))
            ++_nbLinkedTarget;
}

void ARIndexedLinkVisitor::indexChannels()
{
    std::vector<std::pair<const osgAnimation::Animation*, size_t>> current;
    current.reserve(_animations.size());
    for (const osg::ref_ptr<osgAnimation::Animation>& animation : _animations)
        current.emplace_back(animation.get(), animation->getChannels().size());
    if (current == _indexed)
        return;
    _indexed = current;
    _channelsByTarget.clear();
    for (const osg::ref_ptr<osgAnimation::Animation>& animation : _animations)
        for (const osg::ref_ptr<osgAnimation::Channel>& channel : animation->getChannels())
            _channelsByTarget[channel->getTargetName()].push_back(channel.get());
}

} // namespace Novaro
