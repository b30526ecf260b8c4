#pragma once

#include <osg/Group>
#include <osg/ref_ptr>

#include <string>

#include "GenericTracker.h"
#include "GenericVideo.h"

namespace osgART
{

/// Root of a tracked scene. Once connected, its update callback runs video->update() and then
/// tracker->update() each frame before the update traversal reaches its children, so the marker
/// transforms below it read this frame's detections.
class ARSceneNode : public osg::Group
{
public:
    ARSceneNode();

    /// Initialises the tracker with the camera file and pattern file for the opened video's size and
    /// gives it the video image. False (nothing connected) when the tracker cannot be initialised.
    bool connect(GenericTracker* tracker, GenericVideo* video, const std::string& cameraFile,
                 const std::string& patternFile);

    unsigned getMarkerCount() const;

    GenericTracker* getTracker() { return _tracker.get(); }
    GenericVideo* getVideo() { return _video.get(); }

protected:
    ~ARSceneNode() override = default;

private:
    osg::ref_ptr<GenericTracker> _tracker;
    osg::ref_ptr<GenericVideo> _video;
};

} // namespace osgART
