#include "osgART/ARTTransform.h"

#include <osg/NodeCallback>

namespace osgART
{

namespace
{

class ARTTransformUpdateCallback : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        // A hidden transform (node mask 0) must still be reached by the next update traversal.
        visitor->setNodeMaskOverride(0xffffffff);
        ARTTransform* transform = static_cast<ARTTransform*>(node);
        Marker* marker = transform->getMarker();
        if (marker && marker->valid())
        {
            transform->setMatrix(marker->getTransform());
            transform->setNodeMask(0xffffffff);
        }
        else
        {
            transform->setNodeMask(0x0);
        }
        traverse(node, visitor);
    }
};

} // namespace

ARTTransform::ARTTransform(Marker* marker) : _marker(marker)
{
    setUpdateCallback(new ARTTransformUpdateCallback);
}

} // namespace osgART
