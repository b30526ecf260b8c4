#pragma once

#include <vector>

#include <osg/Camera>
#include <osg/Node>

namespace Novaro
{

// Compiles every object's display lists and state attributes in the first drawn frame, so that
// the first moments of interaction do not stall on uploads; then removes itself from the camera.
class ARTextureCachingCallBack : public osg::Camera::DrawCallback
{
public:
    ARTextureCachingCallBack() = default;

    void addNode(osg::Node* node) { _nodes.push_back(node); }
    void operator()(osg::RenderInfo& renderInfo) const override;

protected:
    ~ARTextureCachingCallBack() override = default;

private:
    std::vector<osg::ref_ptr<osg::Node>> _nodes;
};

} // namespace Novaro
