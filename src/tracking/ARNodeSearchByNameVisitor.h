#pragma once

#include <osg/NodeVisitor>
#include <osg/ref_ptr>

#include <string>

namespace Novaro
{

// Finds a node by its exact name inside a loaded model. Objects use it to pick a sub-model and
// video objects to find their screen. When several nodes carry the name, the last one met in
// depth-first order wins; nodes below a match are not looked at. By default empty groups with the
// name are passed over, since exporters leave such placeholders behind next to the real geometry;
// marker tags are the exception: exporters write markers as dummies, which are empty transforms.
class ARNodeSearchByNameVisitor : public osg::NodeVisitor
{
public:
    enum EmptyGroups
    {
        SKIP_EMPTY_GROUPS,
        ACCEPT_EMPTY_GROUPS
    };

    explicit ARNodeSearchByNameVisitor(const std::string& name, EmptyGroups emptyGroups = SKIP_EMPTY_GROUPS);

    void apply(osg::Node& node) override;

    osg::Node* getNode() const { return _node.get(); }

private:
    std::string _name;
    EmptyGroups _emptyGroups;
    osg::ref_ptr<osg::Node> _node;
};

} // namespace Novaro
