#include "app/ARTextureCachingCallBack.h"

#include <osgUtil/GLObjectsVisitor>

namespace Novaro
{

void ARTextureCachingCallBack::operator()(osg::RenderInfo& renderInfo) const
{
    if (_nodes.empty())
        return;
    osgUtil::GLObjectsVisitor compiler(
        osgUtil::GLObjectsVisitor::Mode(osgUtil::GLObjectsVisitor::COMPILE_DISPLAY_LISTS |
                                        osgUtil::GLObjectsVisitor::COMPILE_STATE_ATTRIBUTES |
                                        osgUtil::GLObjectsVisitor::CHECK_BLACK_LISTED_MODES));
    compiler.setState(renderInfo.getState());
    compiler.setTraversalMask(0xFFFFFFFF);
    for (const osg::ref_ptr<osg::Node>& node : _nodes)
        node->accept(compiler);
    osg::notify(osg::NOTICE) << " Scene compiled!" << std::endl;

    osg::Camera* camera = renderInfo.getCurrentCamera();
    if (!camera)
    {
        osg::notify(osg::FATAL) << " No camera available!" << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << " Removing preRenderCallBack (pre)." << std::endl;
    // The camera holds the last reference but one (run() keeps its own), so this callback outlives
    // the call that removes it.
    camera->setPreDrawCallback(nullptr);
    osg::notify(osg::NOTICE) << " Removing preRenderCallBack (post)." << std::endl;
}

} // namespace Novaro
