#include "ARShadowsManager.h"

namespace Novaro
{

ARShadowsManager::ARShadowsManager() { setName("ARShadowsManager"); }

void ARShadowsManager::setShadowedGroup(osg::Group* group)
{
    if (_shadowedGroup.valid())
        removeChild(_shadowedGroup.get());
    _shadowedGroup = group;
    if (group)
        addChild(group);
}

} // namespace Novaro
