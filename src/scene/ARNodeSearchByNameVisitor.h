#pragma once

#include <osg/NodeVisitor>
#include <osg/ref_ptr>

#include <string>

namespace Novaro
{

// Finds a node by its exact name inside a loaded model. Objects use it to pick a sub-model and
// video objects to find their screen. When several nodes carry the name, the last one met in
// depth-first order wins; nodes below a match are not looked at. Empty groups with the name are
// passed over, since exporters leave such placeholders behind.
class ARNodeSearchByNameVisitor : public osg::NodeVisitor
{
public:
    explicit ARNodeSearchByNameVisitor(const std::string& name);

    void apply(osg::Node& node) override;

    osg::Node* getNode() const { return _node.get(); }

private:
    std::string _name;
    osg::ref_ptr<osg::Node> _node;
};

} // namespace Novaro
