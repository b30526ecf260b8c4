#include "interaction/ARInteractionExtensions.h"

#include "interaction/ARActionFactory.h"
#include "interaction/ARAnimationVisitors.h"
#include "interaction/ARBasicAnimationManagerPlus.h"

namespace Novaro
{

std::unique_ptr<AREventActionFactory> ARInteractionExtensions::createActionFactory(ARObject* owner) const
{
    return std::make_unique<ARActionFactory>(owner);
}

void ARInteractionExtensions::findPathAnimations(
    osg::Node& content, std::vector<osg::ref_ptr<osg::AnimationPathCallback>>& callbacks,
    std::vector<osg::observer_ptr<osg::Node>>& nodes) const
{
    ARAnimationCallbackVisitor paths;
    content.accept(paths);
    callbacks = paths.getCallbacks();
    nodes = paths.getNodes();
}

osgAnimation::BasicAnimationManager*
ARInteractionExtensions::replaceAnimationManager(osg::Node& content) const
{
    ARAnimationsManagerVisitor managers(true);
    content.accept(managers);
    // The node that carries it now holds it; the object takes its own reference.
    return managers.getReplacement();
}

void ARInteractionExtensions::install()
{
    static const ARInteractionExtensions extensions;
    ARObjectExtensions::install(&extensions);
}

} // namespace Novaro
