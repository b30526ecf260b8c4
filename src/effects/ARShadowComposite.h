#pragma once

namespace osg
{
class Camera;
}

namespace Novaro
{

// What the shadow mode needs from the rendering pipeline: the deferred mode composes the shadow
// pass over the scene on the window's quad, and the shadow programs must also fit the camera that
// draws the scene. The application implements it (its rendering set-up owns both).
class ARShadowComposite
{
public:
    virtual ~ARShadowComposite() = default;

    // Puts the shadow pass on the window's quad (true) or takes it off.
    virtual void setShadowComposite(bool on) = 0;
    // The camera that draws the scene into a texture; none before the pipeline is built.
    virtual osg::Camera* getARCamera() const = 0;

protected:
    ARShadowComposite() = default;
    ARShadowComposite(const ARShadowComposite&) = default;
    ARShadowComposite& operator=(const ARShadowComposite&) = default;
};

} // namespace Novaro
