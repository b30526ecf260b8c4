#include "osgART/Marker.h"

namespace osgART
{

Marker::Marker(const std::string& name)
    : _name(name), _valid(false), _active(true), _validBefore(false), _confidence(0.0)
{
}

void Marker::setActive(bool active)
{
    _active = active;
    if (!active)
        setNotDetected();
}

void Marker::setDetected(double confidence, const osg::Matrixd& measured,
                         const std::array<osg::Vec2d, 4>& corners)
{
    if (!_active)
    {
        setNotDetected();
        return;
    }
    _measured = measured;
    _corners = corners;
    _confidence = confidence;
    if (_filter.valid())
    {
        // A marker coming back after a miss starts from its new pose rather than gliding in from
        // where it was lost.
        if (!_validBefore)
            _filter->reset();
        _transform = _filter->filter(measured);
    }
    else
    {
        _transform = measured;
    }
    _valid = true;
    _validBefore = true;
}

void Marker::setNotDetected()
{
    _valid = false;
    _validBefore = false;
    _confidence = 0.0;
}

} // namespace osgART
