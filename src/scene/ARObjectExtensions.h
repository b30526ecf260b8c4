#pragma once

#include <memory>
#include <vector>

#include <osg/AnimationPath>
#include <osg/observer_ptr>
#include <osgAnimation/BasicAnimationManager>

namespace Novaro
{

class ARObject;
class AREventActionFactory;

// What the interaction layer gives every scene object: the factory of its events' actions and
// the control of its content's animations. A scene object is built before anything else of the
// run exists, so the layer installs one instance for the whole process (at start-up, and again
// when an application is made); without it objects have no actions and no animation control.
class ARObjectExtensions
{
public:
    virtual ~ARObjectExtensions() = default;

    virtual std::unique_ptr<AREventActionFactory> createActionFactory(ARObject* owner) const = 0;
    // The path animations of the content, each named after the node it moves, with those nodes.
    virtual void findPathAnimations(osg::Node& content,
                                    std::vector<osg::ref_ptr<osg::AnimationPathCallback>>& callbacks,
                                    std::vector<osg::observer_ptr<osg::Node>>& nodes) const = 0;
    // Puts a pause-capable copy (an ARPausableAnimations) in place of the content's first
    // skeletal/channel animation manager and returns it; none when the content has none.
    virtual osgAnimation::BasicAnimationManager* replaceAnimationManager(osg::Node& content) const = 0;

    static void install(const ARObjectExtensions* extensions) { installed() = extensions; }
    static const ARObjectExtensions*& installed()
    {
        static const ARObjectExtensions* extensions = nullptr;
        return extensions;
    }

protected:
    ARObjectExtensions() = default;
    ARObjectExtensions(const ARObjectExtensions&) = default;
    ARObjectExtensions& operator=(const ARObjectExtensions&) = default;
};

} // namespace Novaro
