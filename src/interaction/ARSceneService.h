#pragma once

#include "settings/ApplicationHint.h"

#include <map>

#include <osg/ref_ptr>

namespace Novaro
{

class ARMarkerNode;

// The scene's objects and markers as the modes and the mouse act on them all at once: occluders,
// the markers' model scale and layers, every object's animations and their speed, whether any
// object listens to the mouse moving. The application implements it.
class ARSceneService
{
public:
    virtual ~ARSceneService() = default;

    typedef std::map<unsigned int, osg::ref_ptr<ARMarkerNode>> MarkerNodeMap;

    virtual void toggleOccluders() = 0;
    // Every marker's model scale changes by the step on each axis.
    virtual void scaleModels(float step) = 0;
    // The first marker's model scale, or -1 without markers.
    virtual float getModelScale() const = 0;
    // The marker nodes in ascending marker ID.
    virtual MarkerNodeMap& getMarkers() = 0;
    virtual void toggleAllAnimations() = 0;
    virtual void rewindAllAnimations() = 0;
    virtual void setSimulationSpeed(double speed) = 0;
    virtual double getSimulationSpeed() const = 0;
    // True when some object reacts to the mouse entering, leaving or hovering over it.
    virtual bool getMouseOverEvents() const = 0;
    // The authoring host that wrote the scene (its axes decide how lights turn).
    virtual ApplicationHint getApplicationHint() const = 0;

protected:
    ARSceneService() = default;
    ARSceneService(const ARSceneService&) = default;
    ARSceneService& operator=(const ARSceneService&) = default;
};

} // namespace Novaro
