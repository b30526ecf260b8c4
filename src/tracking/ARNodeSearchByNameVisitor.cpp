#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/Group>

namespace Novaro
{

ARNodeSearchByNameVisitor::ARNodeSearchByNameVisitor(const std::string& name, EmptyGroups emptyGroups)
    : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN), _name(name), _emptyGroups(emptyGroups)
{
    setTraversalMask(0xFFFFFFFF);
}

void ARNodeSearchByNameVisitor::apply(osg::Node& node)
{
    if (node.getName() == _name)
    {
        const osg::Group* group = node.asGroup();
        const bool emptyGroup = group != nullptr && group->getNumChildren() == 0;
        if (!emptyGroup || _emptyGroups == ACCEPT_EMPTY_GROUPS)
        {
            _node = &node;
            return;
        }
    }
    traverse(node);
}

} // namespace Novaro
