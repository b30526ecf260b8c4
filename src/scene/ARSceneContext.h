#pragma once

#include <string>
#include <vector>

namespace osg
{
class ImageStream;
}

namespace Novaro
{

class ARObject;
class SceneData;

// What a scene object needs from the run it plays in: the scene record and the temporary folder
// (for its video textures), the full-window video panel, and the other objects of the scene (for
// the actions that name them). The application implements it; objects keep it as their context.
class ARSceneContext
{
public:
    virtual ~ARSceneContext() = default;

    // None when the scene settings failed to load.
    virtual SceneData* getSceneConfiguration() const = 0;
    virtual const std::string& getTemporaryDirectory() const = 0;
    virtual void showFullscreenVideo(osg::ImageStream* stream) = 0;
    // Takes that stream off the full-window panel (any video without a stream).
    virtual void hideFullscreenVideo(osg::ImageStream* stream) = 0;
    // The scene's objects, in order of first registration.
    virtual const std::vector<ARObject*>& getObjects() const = 0;

protected:
    ARSceneContext() = default;
    ARSceneContext(const ARSceneContext&) = default;
    ARSceneContext& operator=(const ARSceneContext&) = default;
};

} // namespace Novaro
