#include "osgART/ARSceneNode.h"

#include <osg/NodeCallback>

namespace osgART
{

namespace
{

// Runs capture publishing and tracking before the children (the marker transforms) are updated.
class ARSceneNodeUpdateCallback : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        ARSceneNode* scene = static_cast<ARSceneNode*>(node);
        if (scene->getVideo())
            scene->getVideo()->update();
        if (scene->getTracker())
            scene->getTracker()->update();
        traverse(node, visitor);
    }
};

} // namespace

ARSceneNode::ARSceneNode() = default;

bool ARSceneNode::connect(GenericTracker* tracker, GenericVideo* video, const std::string& cameraFile,
                          const std::string& patternFile)
{
    if (!tracker || !video)
        return false;
    if (!tracker->init(video->getWidth(), video->getHeight(), cameraFile, patternFile))
        return false;
    tracker->setImage(video);
    _tracker = tracker;
    _video = video;
    setUpdateCallback(new ARSceneNodeUpdateCallback);
    return true;
}

unsigned ARSceneNode::getMarkerCount() const
{
    return _tracker.valid() ? _tracker->getMarkerCount() : 0u;
}

} // namespace osgART
