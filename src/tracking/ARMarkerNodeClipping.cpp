// A marker node's side of clipping: the clipping manager cuts the node's content group from the
// second branch of the visibility switch, so that switching branches turns clipping on and off
// without moving the content.
#include "tracking/ARMarkerNode.h"

namespace Novaro
{

void ARMarkerNode::attachClippingManager(ARContentClipper* manager)
{
    if (!manager || manager == _clippingManager)
        return;
    detachClippingManager();
    _clippingManager = manager;
    _clippedContent->addChild(manager->asNode());
    manager->setClippedNode(_contentGroup.get());
    setClippingEnabled(true);
}

void ARMarkerNode::detachClippingManager()
{
    if (!_clippingManager)
        return;
    // Off this marker the content goes back to its one parent.
    if (_clippingManager->getClippedNode() == _contentGroup.get())
        _clippingManager->setClippedNode(nullptr);
    _clippedContent->removeChild(_clippingManager->asNode());
    _clippingManager = nullptr;
    setClippingEnabled(false);
}

void ARMarkerNode::setClippingEnabled(bool enabled)
{
    const bool clipped = enabled && _clippingManager;
    _visibilitySwitch->setChildValue(_contentGroup.get(), !clipped);
    _visibilitySwitch->setChildValue(_clippedContent.get(), clipped);
}

} // namespace Novaro
