#pragma once

#include <osg/AnimationPath>
#include <osg/NodeVisitor>
#include <osg/observer_ptr>
#include <osgAnimation/BasicAnimationManager>

#include <vector>

namespace Novaro
{

class ARBasicAnimationManagerPlus;

// Finds the first skeletal/channel animation manager in a subgraph. With 'replace' on, the node
// that carries it gets a pause-capable copy instead (the original is left to whoever else holds
// it), and nothing below that node is searched: one manager drives one skeleton.
class ARAnimationsManagerVisitor : public osg::NodeVisitor
{
public:
    explicit ARAnimationsManagerVisitor(bool replace);

    void apply(osg::Node& node) override;

    osgAnimation::BasicAnimationManager* getManager() const { return _manager.get(); }
    ARBasicAnimationManagerPlus* getReplacement() const { return _replacement.get(); }

private:
    osg::ref_ptr<osgAnimation::BasicAnimationManager> _manager;
    osg::ref_ptr<ARBasicAnimationManagerPlus> _replacement;
    bool _replace;
};

// Collects the path animations of a subgraph, each named after the node it moves, so that
// actions can address them by that name.
class ARAnimationCallbackVisitor : public osg::NodeVisitor
{
public:
    ARAnimationCallbackVisitor();

    void apply(osg::Node& node) override;

    const std::vector<osg::ref_ptr<osg::AnimationPathCallback>>& getCallbacks() const { return _callbacks; }
    // The node each callback moves, in the same order.
    const std::vector<osg::observer_ptr<osg::Node>>& getNodes() const { return _nodes; }

private:
    std::vector<osg::ref_ptr<osg::AnimationPathCallback>> _callbacks;
    std::vector<osg::observer_ptr<osg::Node>> _nodes;
};

} // namespace Novaro
