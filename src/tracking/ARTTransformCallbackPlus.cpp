#include "ARTTransformCallbackPlus.h"

#include "ARObject.h"

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
    if (!transform || !_marker.valid())
    {
        traverse(node, visitor);
        return;
    }

    const bool detected = _marker->valid();
    auto copyPose = [&]()
    {
        transform->setMatrix(_marker->getTransform());
        transform->dirtyBound();
    };
    auto show = [&]() { transform->setNodeMask(0xFFFFFFFF); };
    auto hide = [&]() { transform->setNodeMask(0x0); };
    auto notify = [&](bool found)
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
    };

    switch (_status)
    {
    case NOT_TRACKED:
        if (detected)
        {
            _status = DETECTING;
            _detectCount = 1;
        }
        else
            hide();
        break;
    case DETECTING:
        if (detected)
        {
            if (_detectCount >= _detectThreshold)
            {
                _status = TRACKED;
                copyPose();
                show();
                notify(true);
            }
            else
                ++_detectCount;
        }
        else
        {
            _status = NOT_TRACKED;
            hide();
        }
        break;
    case TRACKED:
        if (detected)
        {
            copyPose();
            show();
        }
        else
        {
            _status = LOSING;
            _lostCount = 1;
        }
        break;
    case LOSING:
        if (detected)
        {
            _status = TRACKED;
            copyPose();
            show();
            _lostCount = 0;
        }
        else if (_lostCount > _lostThreshold)
        {
            _status = NOT_TRACKED;
            hide();
            notify(false);
        }
        else
            ++_lostCount;
        break;
    default:
        osg::notify(osg::FATAL) << "tracking_status_CODE NOT valid!" << std::endl;
        break;
    }
    traverse(node, visitor);
}

} // namespace Novaro
