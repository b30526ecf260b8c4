#include "ARShadowsManager.h"

namespace Novaro
{

ARShadowsManager::ARShadowsManager()
{
    setName("ARShadowsManager");
}

void ARShadowsManager::setShadowedGroup(osg::Group* group)
{
    if (_shadowedGroup.valid())
        removeChild(_shadowedGroup.get());
    _shadowedGroup = group;
    if (group)
        addChild(group);
}

void ARShadowsManager::disable()
{
    _shadowedGroup = nullptr;
    removeChildren(0, getNumChildren());
    _mode = MODE_DIRECT;
    _enabled = false;
}

} // namespace Novaro
