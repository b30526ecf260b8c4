#include "scene/ARGeodeVisitor.h"

namespace Novaro
{

ARGeodeVisitor::ARGeodeVisitor() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

void ARGeodeVisitor::apply(osg::Node& node)
{
    if (osg::Geode* geode = node.asGeode())
    {
        _geode = geode;
        return;
    }
    traverse(node);
}

} // namespace Novaro
