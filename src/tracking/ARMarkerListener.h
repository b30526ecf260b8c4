#pragma once

#include <osg/BoundingBox>

namespace osg
{
class Node;
}

namespace Novaro
{

// What a marker node holds and tells: something placed on a marker (the scene's objects), told
// when the marker is found and lost. The tracking layer knows its content only through this.
class ARMarkerListener
{
public:
    virtual ~ARMarkerListener() = default;

    virtual void onMarkerDetected() = 0;
    virtual void onMarkerLost() = 0;
    // The marker it was first placed on (-1 for none), for messages.
    virtual int getMarkerId() const = 0;
    // The node hung under the marker.
    virtual osg::Node* asNode() = 0;
    // True for what serves the marker's whole content (a light): it hangs beside the layers and is
    // never fitted.
    virtual bool servesWholeMarker() const = 0;
    // Told where the marker's content stands whenever it changes, so that what must stand clear
    // of it (a light's guides) can move.
    virtual void contentBoundsChanged(const osg::BoundingBox& content) = 0;

protected:
    ARMarkerListener() = default;
    ARMarkerListener(const ARMarkerListener&) = default;
    ARMarkerListener& operator=(const ARMarkerListener&) = default;
};

} // namespace Novaro
