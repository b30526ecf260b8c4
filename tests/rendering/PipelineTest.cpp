// The rendering set-up of a real application: render target, debug mode, small-feature culling, full screen.
#include "SampleApplication.h"

#include "NotifyCapture.h"
#include "app/ARViewer.h"

#include <gtest/gtest.h>
#include <osg/CullSettings>
#include <osg/Texture2D>
#include <osg/io_utils>

#include "osgART/GenericVideo.h"
#include "osgART/VideoLayer.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class SampleApplication : public SampleApplicationTest
{
protected:
    bool smallFeatureCulling() const
    {
        return (application.getARCamera()->getCullingMode() & osg::CullSettings::SMALL_FEATURE_CULLING) != 0;
    }
};

// x, y, width and height.
osg::Vec4i rectangleOf(osgViewer::GraphicsWindow* window)
{
    osg::Vec4i rectangle(-1, -1, -1, -1);
    window->getWindowRectangle(rectangle.x(), rectangle.y(), rectangle.z(), rectangle.w());
    return rectangle;
}

} // namespace

TEST_F(SampleApplication, RenderTargetHasTheScreenSizeWithNonPowerOfTwoTextures)
{
    ASSERT_TRUE(application.hasNPOT());
    const osg::Vec2i screen(application.getViewer()->getScreenWidth(),
                            application.getViewer()->getScreenHeight());
    ASSERT_TRUE(screen.x() > 0 && screen.y() > 0);
    EXPECT_EQ(screen, osg::Vec2i(application.getTextureWidth(), application.getTextureHeight()));

    application.createRenderingPipeline();
    const osg::Texture2D* colour = application.getColourTexture();
    ASSERT_TRUE(colour && application.getARCamera() && application.getARCamera()->getViewport());
    EXPECT_EQ(screen, osg::Vec2i(colour->getTextureWidth(), colour->getTextureHeight()));
    const osg::Viewport* viewport = application.getARCamera()->getViewport();
    EXPECT_EQ(screen, osg::Vec2i(viewport->width(), viewport->height()));
}

TEST_F(SampleApplication, DebugModeSwapsVideoAndDebugImageAndKeepsTheContent)
{
    osg::Switch* debugSwitch = application.getDebugSwitch();
    ASSERT_TRUE(debugSwitch && debugSwitch->getNumChildren() == 3u) << "debug image, video, content";
    osgART::VideoLayer* debugImageLayer = dynamic_cast<osgART::VideoLayer*>(debugSwitch->getChild(0));
    osgART::VideoLayer* videoLayer = dynamic_cast<osgART::VideoLayer*>(debugSwitch->getChild(1));
    ASSERT_TRUE(debugImageLayer && videoLayer);
    EXPECT_EQ(application.getVideo(), videoLayer->getImage());
    EXPECT_NE(application.getVideo(), debugImageLayer->getImage());
    EXPECT_EQ(application.getContentGroup(), debugSwitch->getChild(2));

    // The sample configuration has debug off; the switch shows the video or the debug image, and
    // the content always.
    auto shown = [&]() {
        return std::vector<bool>{debugSwitch->getValue(0), debugSwitch->getValue(1),
                                 debugSwitch->getValue(2)};
    };
    EXPECT_FALSE(application.getDebug());
    EXPECT_EQ((std::vector<bool>{false, true, true}), shown());
    NotifyCapture capture;
    application.toggleDebugMode();
    EXPECT_TRUE(application.getDebug());
    EXPECT_EQ((std::vector<bool>{true, false, true}), shown());
    EXPECT_TRUE(capture.printed("Switching debug mode...ON"));
    application.toggleDebugMode();
    EXPECT_EQ((std::vector<bool>{false, true, true}), shown());
    EXPECT_TRUE(capture.printed("Switching debug mode...OFF"));
}

TEST_F(SampleApplication, SmallFeatureCullingStaysBetweenZeroAnd256AndNeedsTheARCamera)
{
    ASSERT_EQ(nullptr, application.getARCamera());
    application.setSmallFeatureCullingPixelSize(7.0f);
    application.increaseSmallFeatureCulling(100.0f);
    application.decreaseSmallFeatureCulling(1.0f);
    application.resetSmallFeatureCulling();
    EXPECT_EQ(7.0f, application.getSmallFeatureCullingPixelSize());
    application.setSmallFeatureCullingPixelSize(0.0f);

    application.createRenderingPipeline();
    osg::Camera* camera = application.getARCamera();
    ASSERT_NE(nullptr, camera);
    // A new camera culls small features by default; the reset takes that away.
    application.resetSmallFeatureCulling();
    EXPECT_FALSE(smallFeatureCulling());
    EXPECT_TRUE(camera->getCullingMode() & osg::CullSettings::VIEW_FRUSTUM_SIDES_CULLING);

    application.increaseSmallFeatureCulling(100.0f);
    EXPECT_TRUE(smallFeatureCulling());
    application.increaseSmallFeatureCulling(100.0f);
    application.increaseSmallFeatureCulling(100.0f);
    EXPECT_EQ(256.0f, camera->getSmallFeatureCullingPixelSize());
    application.decreaseSmallFeatureCulling(500.0f);
    EXPECT_EQ(0.0f, application.getSmallFeatureCullingPixelSize());
    EXPECT_FALSE(smallFeatureCulling());
    application.increaseSmallFeatureCulling(50.0f);
    application.resetSmallFeatureCulling();
    EXPECT_EQ(0.0f, application.getSmallFeatureCullingPixelSize());
    EXPECT_FALSE(smallFeatureCulling());
}

TEST_F(SampleApplication, FullScreenTogglesBetweenTheScreenAndACentredHalfSizeWindow)
{
    ARViewer* viewer = application.getViewer();
    application.setTitle("Novaro(TM) Plugin (Professional)");
    application.createRenderingPipeline();
    viewer->realize();
    viewer->frame();
    osgViewer::ViewerBase::Windows windows;
    viewer->getWindows(windows);
    ASSERT_EQ(1u, windows.size());
    osgViewer::GraphicsWindow* window = windows.front();
    const int width = viewer->getScreenWidth();
    const int height = viewer->getScreenHeight();
    ASSERT_TRUE(width > 0 && height > 0);
    const osg::Vec4i wholeScreen(0, 0, width, height);

    // The single-screen view starts covering the screen.
    EXPECT_TRUE(viewer->isFullscreen());
    EXPECT_EQ(wholeScreen, rectangleOf(window));

    // Positions are checked as asked for, before X answers: without a window manager this
    // OpenSceneGraph build then reports them doubled, though the window sits where it was asked to.
    viewer->toggleFullscreen();
    EXPECT_FALSE(viewer->isFullscreen());
    EXPECT_EQ(osg::Vec4i(width / 4, height / 4, width / 2, height / 2), rectangleOf(window));
    EXPECT_TRUE(window->getWindowDecoration());
    EXPECT_EQ(application.getTitle(), window->getWindowName());

    viewer->frame();
    EXPECT_EQ(osg::Vec2i(width / 2, height / 2),
              osg::Vec2i(viewer->getWindowWidth(), viewer->getWindowHeight()));
    // The screen is still the screen, whatever the window.
    EXPECT_EQ(osg::Vec2i(width, height), osg::Vec2i(viewer->getScreenWidth(), viewer->getScreenHeight()));

    viewer->toggleFullscreen();
    EXPECT_TRUE(viewer->isFullscreen());
    EXPECT_EQ(wholeScreen, rectangleOf(window));
    EXPECT_FALSE(window->getWindowDecoration());
    viewer->frame();
    EXPECT_EQ(wholeScreen, rectangleOf(window));
}
