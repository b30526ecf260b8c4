#include "scene/ARLightSourceVisitor.h"

namespace Novaro
{

ARLightSourceVisitor::ARLightSourceVisitor() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

void ARLightSourceVisitor::apply(osg::Node& node)
{
    if (osg::LightSource* lightSource = dynamic_cast<osg::LightSource*>(&node))
    {
        _lightSource = lightSource;
        return;
    }
    traverse(node);
}

} // namespace Novaro
