#pragma once

namespace osg
{
class Camera;
}

namespace Novaro
{

// How the scene is drawn: wire frame, the video's flips, small-feature culling, and the camera
// that draws the scene (which the mouse picks through). The application implements it.
class ARVisualizationService
{
public:
    virtual ~ARVisualizationService() = default;

    virtual void toggleWireframe() = 0;
    virtual void toggleMirror() = 0;
    virtual void toggleVerticalFlip() = 0;
    virtual bool getFlipHorizontal() const = 0;
    virtual bool getFlipVertical() const = 0;
    virtual void increaseSmallFeatureCulling(float step) = 0;
    virtual void decreaseSmallFeatureCulling(float step) = 0;
    virtual void resetSmallFeatureCulling() = 0;
    virtual float getSmallFeatureCullingPixelSize() const = 0;
    // None before the rendering pipeline is built.
    virtual osg::Camera* getARCamera() const = 0;

protected:
    ARVisualizationService() = default;
    ARVisualizationService(const ARVisualizationService&) = default;
    ARVisualizationService& operator=(const ARVisualizationService&) = default;
};

} // namespace Novaro
