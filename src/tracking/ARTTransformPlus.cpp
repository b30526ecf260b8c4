#include "tracking/ARTTransformPlus.h"

#include <algorithm>

namespace Novaro
{

ARTTransformPlus::ARTTransformPlus(osgART::Marker* marker) : osgART::ARTTransform(marker)
{
    // Far out of view until the marker is first tracked.
    setMatrix(osg::Matrix::translate(0.0, 0.0, 100000.0));
    if (!marker)
    {
        osg::notify(osg::FATAL) << "ARTTransformPlus::ARTTransformPlus(marker): "
                                << "Could not create a transform callback" << std::endl;
        return;
    }
    _callback = new ARTTransformCallbackPlus(marker);
    _callback->setListeners(&_listeners);
    setUpdateCallback(_callback.get());
}

ARTTransformPlus::~ARTTransformPlus()
{
    setUpdateCallback(nullptr);
    if (_callback.valid())
        _callback->setListeners(nullptr);
}

void ARTTransformPlus::addListener(ARMarkerListener* object)
{
    if (object && std::find(_listeners.begin(), _listeners.end(), object) == _listeners.end())
        _listeners.push_back(object);
}

void ARTTransformPlus::setFreeze(bool frozen)
{
    if (_callback.valid())
        _callback->setFrozen(frozen);
}

void ARTTransformPlus::setTrackingPlus(bool on)
{
    if (_callback.valid())
        _callback->setTrackingPlus(on);
}

} // namespace Novaro
