#pragma once

#include "scene/ARObjectExtensions.h"

namespace Novaro
{

// The interaction layer's part of every scene object: an ARActionFactory for its events and the
// animation visitors of the animation management, with the pause-capable manager.
class ARInteractionExtensions : public ARObjectExtensions
{
public:
    std::unique_ptr<AREventActionFactory> createActionFactory(ARObject* owner) const override;
    void findPathAnimations(osg::Node& content,
                            std::vector<osg::ref_ptr<osg::AnimationPathCallback>>& callbacks,
                            std::vector<osg::observer_ptr<osg::Node>>& nodes) const override;
    osgAnimation::BasicAnimationManager* replaceAnimationManager(osg::Node& content) const override;

    // Installs the one instance for every scene object made from now on.
    static void install();
};

} // namespace Novaro
