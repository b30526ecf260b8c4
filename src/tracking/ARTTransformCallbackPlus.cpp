#include "tracking/ARTTransformCallbackPlus.h"

#include "tracking/ARMarkerListener.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>

#include <sstream>

#include "osgART/Marker.h"

namespace Novaro
{

std::vector<std::pair<ARMarkerListener*, osg::Vec3d>>
objectsAroundCamera(osg::Node& tracked, const std::vector<ARMarkerListener*>& objects)
{
    std::vector<std::pair<ARMarkerListener*, osg::Vec3d>> around;
    for (ARMarkerListener* listener : objects)
    {
        osg::Node* object = listener->asNode();
        // The object's box in its parent's frame, and the camera (the eye's origin) in that frame.
        for (const osg::NodePath& path : object->getParentalNodePaths(&tracked))
        {
            if (path.empty() || path.front() != &tracked)
                continue;
            const osg::Matrixd parentToEye =
                osg::computeLocalToWorld(osg::NodePath(path.begin(), path.end() - 1));
            osg::ComputeBoundsVisitor bounds;
            object->accept(bounds);
            const osg::BoundingBox& box = bounds.getBoundingBox();
            if (!box.valid())
                continue;
            const osg::Vec3d camera = osg::Vec3d() * osg::Matrixd::inverse(parentToEye);
            if (box.contains(osg::Vec3(camera)))
            {
                // Its size on the marker, after the scales between the marker and the object.
                const osg::Matrixd parentToMarker =
                    osg::computeLocalToWorld(osg::NodePath(path.begin() + 1, path.end() - 1));
                osg::BoundingBox onMarker;
                for (unsigned int corner = 0; corner < 8; ++corner)
                    onMarker.expandBy(box.corner(corner) * parentToMarker);
                around.emplace_back(listener, osg::Vec3d(onMarker.xMax() - onMarker.xMin(),
                                                         onMarker.yMax() - onMarker.yMin(),
                                                         onMarker.zMax() - onMarker.zMin()));
                break;
            }
        }
    }
    return around;
}

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
        if (!_everTracked)
        {
            _everTracked = true;
            warnAboutObjectsAroundCamera(transform);
        }
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

// A real-size model on a small marker (a 2 m animal on 80 mm) puts the camera inside it: the
// picture is one colour, or black from its back faces, with nothing to say why. Said once per
// marker, at its first detection.
void ARTTransformCallbackPlus::warnAboutObjectsAroundCamera(osg::MatrixTransform& transform)
{
    if (!_listeners)
        return;
    for (const auto& [object, size] : objectsAroundCamera(transform, *_listeners))
    {
        const int marker = _markerId >= 0 ? _markerId : object->getMarkerId();
        std::ostringstream line;
        line.precision(4);
        line << "WARNING: the camera is inside object \"" << object->asNode()->getName() << "\" (" << size.x()
             << " x " << size.y() << " x " << size.z() << " mm) on marker " << marker
             << ": only its inside can show. Make it smaller (its <scale> in the scene settings, or "
                "novaro-scene new --fit).";
        // At the level of the player's other "WARNING:" lines, which the console shows by default.
        osg::notify(osg::FATAL) << line.str() << std::endl;
    }
}

// A copy of the list: an object's handler may register or remove objects on this marker.
void ARTTransformCallbackPlus::notifyListeners(bool found)
{
    if (!_listeners)
        return;
    const std::vector<ARMarkerListener*> listeners = *_listeners;
    for (ARMarkerListener* object : listeners)
    {
        if (found)
            object->onMarkerDetected();
        else
            object->onMarkerLost();
    }
}

} // namespace Novaro
