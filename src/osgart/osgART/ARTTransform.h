#pragma once

#include <osg/MatrixTransform>
#include <osg/ref_ptr>

#include "Marker.h"

namespace osgART
{

/// A transform that follows a marker: its default update callback copies the marker pose and hides
/// the children while the marker is not detected. Subclasses may install their own callback.
class ARTTransform : public osg::MatrixTransform
{
public:
    explicit ARTTransform(Marker* marker);

    Marker* getMarker() { return _marker.get(); }

protected:
    ~ARTTransform() override = default;

    osg::ref_ptr<Marker> _marker;
};

} // namespace osgART
