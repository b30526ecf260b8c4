#include "tracking/ARTTransformCallbackPlus.h"

#include "scene/ARObject.h"

#include <osg/MatrixTransform>
#include <osg/NodeVisitor>

#include "osgART/Marker.h"

namespace Novaro
{

ARTTransformCallbackPlus::ARTTransformCallbackPlus(osgART::Marker* marker) : _marker(marker) {}

void ARTTransformCallbackPlus::setTrackingPlus(bool on)
{
    _trackingPlus = on;
    _detectCount = 0;
    _lostCount = 0;
    _detectThreshold = on ? 25 : 1;
    _lostThreshold = on ? 60 : 1;
}

void ARTTransformCallbackPlus::operator()(osg::Node* node, osg::NodeVisitor* visitor)
{
    if (_frozen)
    {
        traverse(node, visitor);
        return;
    }
    // Hidden transforms have node mask 0; the update traversal must still reach the content
    // (animations, sequences, videos keep running while the marker is out of view).
    visitor->setNodeMaskOverride(0xFFFFFFFF);

    osg::MatrixTransform* transform = dynamic_cast<osg::MatrixTransform*>(node);
    if (transform && _marker.valid())
        advance(*transform, _marker->valid());
    traverse(node, visitor);
}

// One step of the hysteresis: shown after _detectThreshold seen frames, hidden after
// _lostThreshold missed ones, the objects told only when the content appears or goes.
void ARTTransformCallbackPlus::advance(osg::MatrixTransform& transform, bool detected)
{
    switch (_status)
    {
    case NOT_TRACKED:
        whileNotTracked(transform, detected);
        break;
    case DETECTING:
        whileDetecting(transform, detected);
        break;
    case TRACKED:
        whileTracked(transform, detected);
        break;
    case LOSING:
        whileLosing(transform, detected);
        break;
    default:
        osg::notify(osg::FATAL) << "tracking_status_CODE NOT valid!" << std::endl;
        break;
    }
}

void ARTTransformCallbackPlus::whileNotTracked(osg::MatrixTransform& transform, bool detected)
{
    if (detected)
    {
        _status = DETECTING;
        _detectCount = 1;
    }
    else
        transform.setNodeMask(0x0);
}

void ARTTransformCallbackPlus::whileDetecting(osg::MatrixTransform& transform, bool detected)
{
    if (!detected)
    {
        _status = NOT_TRACKED;
        transform.setNodeMask(0x0);
    }
    else if (_detectCount >= _detectThreshold)
    {
        _status = TRACKED;
        showAtMarkerPose(transform);
        notifyListeners(true);
    }
    else
        ++_detectCount;
}

void ARTTransformCallbackPlus::whileTracked(osg::MatrixTransform& transform, bool detected)
{
    if (detected)
        showAtMarkerPose(transform);
    else
    {
        _status = LOSING;
        _lostCount = 1;
    }
}

// Missed frames keep the content at its last pose until the marker returns or the count runs out.
void ARTTransformCallbackPlus::whileLosing(osg::MatrixTransform& transform, bool detected)
{
    if (detected)
    {
        _status = TRACKED;
        showAtMarkerPose(transform);
        _lostCount = 0;
    }
    else if (_lostCount > _lostThreshold)
    {
        _status = NOT_TRACKED;
        transform.setNodeMask(0x0);
        notifyListeners(false);
    }
    else
        ++_lostCount;
}

void ARTTransformCallbackPlus::showAtMarkerPose(osg::MatrixTransform& transform)
{
    transform.setMatrix(_marker->getTransform());
    transform.dirtyBound();
    transform.setNodeMask(0xFFFFFFFF);
}

// A copy of the list: an object's handler may register or remove objects on this marker.
void ARTTransformCallbackPlus::notifyListeners(bool found)
{
    if (!_listeners)
        return;
    const std::vector<ARObject*> listeners = *_listeners;
    for (ARObject* object : listeners)
    {
        if (found)
            object->onMarkerDetected();
        else
            object->onMarkerLost();
    }
}

} // namespace Novaro
