#pragma once

#include <utility>
#include <vector>

#include <osg/NodeCallback>
#include <osg/Vec3d>
#include <osg/ref_ptr>

namespace osg
{
class MatrixTransform;
}

namespace osgART
{
class Marker;
}

namespace Novaro
{

class ARMarkerListener;

// The objects among 'objects' (under 'tracked', a transform holding the marker's pose in eye
// coordinates) whose bounding box holds the camera, with each one's box size (model units, mm).
std::vector<std::pair<ARMarkerListener*, osg::Vec3d>>
objectsAroundCamera(osg::Node& tracked, const std::vector<ARMarkerListener*>& objects);

// Update callback of a tracked transform: shows a marker's content only after the marker has
// been seen for a number of consecutive frames, and keeps it, at its last pose, for a number of
// missed frames after it is lost, so that single-frame detection drop-outs do not flicker.
class ARTTransformCallbackPlus : public osg::NodeCallback
{
public:
    enum TrackingStatus
    {
        NOT_TRACKED = 0,
        DETECTING = 1,
        TRACKED = 2,
        LOSING = 3
    };

    explicit ARTTransformCallbackPlus(osgART::Marker* marker);

    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override;

    void setListeners(std::vector<ARMarkerListener*>* listeners) { _listeners = listeners; }
    // The scene's id of the marker, for messages (-1: the objects' own marker is named).
    void setMarkerId(int id) { _markerId = id; }
    void setFrozen(bool frozen) { _frozen = frozen; }
    bool isFrozen() const { return _frozen; }
    void setTrackingPlus(bool on);
    bool getTrackingPlus() const { return _trackingPlus; }

    int getStatus() const { return _status; }
    // Only for diagnosing a corrupted state; the state machine never leaves its four values.
    void setStatus(int status) { _status = status; }
    int getDetectCount() const { return _detectCount; }
    int getLostCount() const { return _lostCount; }
    int getDetectThreshold() const { return _detectThreshold; }
    int getLostThreshold() const { return _lostThreshold; }

protected:
    ~ARTTransformCallbackPlus() override = default;

private:
    void advance(osg::MatrixTransform& transform, bool detected);
    void whileNotTracked(osg::MatrixTransform& transform, bool detected);
    void whileDetecting(osg::MatrixTransform& transform, bool detected);
    void whileTracked(osg::MatrixTransform& transform, bool detected);
    void whileLosing(osg::MatrixTransform& transform, bool detected);
    void showAtMarkerPose(osg::MatrixTransform& transform);
    void notifyListeners(bool found);
    void warnAboutObjectsAroundCamera(osg::MatrixTransform& transform);

    int _status = NOT_TRACKED;
    int _detectCount = 0;
    int _detectThreshold = 25;
    int _lostCount = 0;
    int _lostThreshold = 60;
    bool _frozen = false;
    bool _trackingPlus = true;
    bool _everTracked = false;
    int _markerId = -1;
    std::vector<ARMarkerListener*>* _listeners = nullptr;
    osg::ref_ptr<osgART::Marker> _marker;
};

} // namespace Novaro
