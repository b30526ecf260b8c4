#include "ARAnimationVisitors.h"

#include "ARBasicAnimationManagerPlus.h"

namespace Novaro
{

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
    _manager = new osgAnimation::BasicAnimationManager(*found);
    if (_replace)
    {
        _replacement = new ARBasicAnimationManagerPlus(*_manager);
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
