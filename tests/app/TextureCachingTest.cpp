// The first-frame compilation callback: with nothing to compile it stays on its camera, ready for
// the next frame.
#include "app/ARTextureCachingCallBack.h"

#include <gtest/gtest.h>

#include <osg/RenderInfo>

using namespace Novaro;

TEST(ARTextureCachingCallBack, WithoutNodesItDoesNothingAndStaysInstalled)
{
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    osg::ref_ptr<ARTextureCachingCallBack> caching = new ARTextureCachingCallBack;
    camera->setPreDrawCallback(caching.get());
    osg::RenderInfo renderInfo;
    renderInfo.pushCamera(camera.get());
    (*caching)(renderInfo);
    (*caching)(renderInfo);
    EXPECT_EQ(caching.get(), camera->getPreDrawCallback());
}
