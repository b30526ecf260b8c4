// What a real window shows of head-up display text, video and the keys panel.
#include "HUDTestSupport.h"

#include "effects/HelpPanel.h"

#include <gtest/gtest.h>
#include <osg/ImageStream>
#include <osg/io_utils>

#include <algorithm>
#include <string>
#include <vector>

using namespace Novaro;
using NovaroTest::HUDTest;

namespace
{

// Reads the window back after every HUD has drawn: a last post-render camera that clears nothing.
class WindowCapture : public osg::Camera::DrawCallback
{
public:
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::Viewport* viewport = renderInfo.getCurrentCamera()->getViewport();
        image->readPixels(0, 0, static_cast<int>(viewport->width()), static_cast<int>(viewport->height()),
                          GL_RGB, GL_UNSIGNED_BYTE);
    }
    osg::ref_ptr<osg::Image> image = new osg::Image;
};

struct Box
{
    int left = 1 << 30, bottom = 1 << 30, right = -1, top = -1;
    bool empty() const { return right < 0; }
};

// Bounding box (window pixels, y upwards) of the pixels that pass the test.
template <typename Test> Box pixelsWhere(const osg::Image* image, Test test)
{
    Box box;
    for (int y = 0; y < image->t(); ++y)
        for (int x = 0; x < image->s(); ++x)
            if (test(image->data(x, y)))
                box = {std::min(box.left, x), std::min(box.bottom, y), std::max(box.right, x),
                       std::max(box.top, y)};
    return box;
}

// The pixels that differ from the black background.
Box drawnPixels(const osg::Image* image)
{
    return pixelsWhere(image, [](const unsigned char* p) { return p[0] > 40 || p[1] > 40 || p[2] > 40; });
}

osg::Vec3i colourAt(const osg::Image* image, int x, int y)
{
    const unsigned char* pixel = image->data(x, y);
    return osg::Vec3i(pixel[0], pixel[1], pixel[2]);
}

class HUDRenderingTest : public HUDTest
{
protected:
    void SetUp() override
    {
        HUDTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        capture = new WindowCapture;
        osg::ref_ptr<osg::Camera> camera = new osg::Camera;
        camera->setGraphicsContext(HUD::firstWindow(viewer.get()));
        camera->setViewport(0, 0, WindowWidth, WindowHeight);
        camera->setRenderOrder(osg::Camera::POST_RENDER, 1000);
        camera->setClearMask(0);
        camera->setFinalDrawCallback(capture.get());
        viewer->addSlave(camera.get(), false);
    }

    const osg::Image* render()
    {
        frames(2);
        return capture->image.get();
    }

    osg::ref_ptr<WindowCapture> capture;
};

} // namespace

TEST_F(HUDRenderingTest, TextIsDrawnInsideItsPanelAtItsPosition)
{
    for (int position : {0, 4, 8})
    {
        SCOPED_TRACE("position " + std::to_string(position));
        const int id = huds.addText("Starting...", position);
        const osg::Image* image = render();
        ASSERT_EQ(WindowWidth, image->s());

        HUD* hud = huds.getHUD(id);
        const osg::Vec3 origin = osg::Vec3(hud->getPositionTransform()->getPosition()) +
                                 hud->getTextPanel()->getMatrix().getTrans();
        const BackgroundPlane* plane = hud->getTextPanel()->getBackgroundPlane();
        const Box drawn = drawnPixels(image);
        ASSERT_FALSE(drawn.empty());
        // Glyphs lie within the panel, inside its margins (antialiasing may touch one pixel more).
        EXPECT_GE(drawn.left, origin.x() + 10 - 1);
        EXPECT_LE(drawn.right, origin.x() + plane->getWidth() - 10 + 1);
        EXPECT_LE(drawn.top, origin.y() - 10 + 1);
        EXPECT_GE(drawn.bottom, origin.y() - plane->getHeight() + 10 - 1);
        // Most of the panel's text area is covered by the glyphs' extent.
        EXPECT_GT(drawn.right - drawn.left, (plane->getWidth() - 20) * 0.8f);

        huds.hide(id);
        EXPECT_TRUE(drawnPixels(render()).empty()) << "a hidden HUD still draws";
    }
}

TEST_F(HUDRenderingTest, VideoCoversTheWindowUprightUnderTheText)
{
    huds.showVideo(nullptr);
    EXPECT_TRUE(console.printed("WARNING: empty imagestream, nothing will be created."));
    HUD* video = huds.getVideoHUD();
    ASSERT_NE(nullptr, video);

    // Rows are stored top first: the upper half of the picture is red, the lower half blue.
    osg::ref_ptr<osg::ImageStream> stream = new osg::ImageStream;
    stream->allocateImage(64, 64, 1, GL_RGB, GL_UNSIGNED_BYTE);
    for (int row = 0; row < 64; ++row)
        for (int column = 0; column < 64; ++column)
        {
            unsigned char* pixel = stream->data(column, row);
            pixel[0] = row < 32 ? 255 : 0;
            pixel[1] = 0;
            pixel[2] = row < 32 ? 0 : 255;
        }

    const int id = huds.addText("Over the video", 0);
    huds.showVideo(new osg::ImageStream);
    huds.removeVideos();
    huds.showVideo(stream.get());
    EXPECT_EQ(video, huds.getVideoHUD()) << "one video HUD is reused";
    const osg::Image* image = render();
    EXPECT_EQ(osg::Vec3i(255, 0, 0), colourAt(image, WindowWidth - 10, WindowHeight - 10));
    EXPECT_EQ(osg::Vec3i(255, 0, 0), colourAt(image, WindowWidth / 2, WindowHeight * 3 / 4));
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(image, 10, 10));
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(image, WindowWidth / 2, WindowHeight / 4));

    // The status text draws over the video: the white glyphs are the only source of green.
    const BackgroundPlane* plane = huds.getHUD(id)->getTextPanel()->getBackgroundPlane();
    int glyphPixels = 0;
    for (int y = WindowHeight - static_cast<int>(plane->getHeight()); y < WindowHeight; ++y)
        for (int x = 0; x < static_cast<int>(plane->getWidth()); ++x)
            glyphPixels += colourAt(image, x, y).y() > 128 ? 1 : 0;
    EXPECT_GT(glyphPixels, 50);

    huds.toggleVideoPanel();
    EXPECT_EQ(osg::Vec3i(0, 0, 0), colourAt(render(), 10, 10));
    huds.toggleVideoPanel();
    // Closing some other stream leaves the video on; closing this one takes it off.
    huds.closeVideo(new osg::ImageStream);
    EXPECT_EQ(osg::Vec3i(0, 0, 255), colourAt(render(), 10, 10));
    huds.closeVideo(stream.get());
    EXPECT_EQ(osg::Vec3i(0, 0, 0), colourAt(render(), 10, 10));
}

// The keys panel over a white picture (the tracking mode's thresholded image is mostly white):
// its backing is dark and its letters bright, so the text reads.
TEST_F(HUDRenderingTest, KeysPanelReadsOverAWhitePicture)
{
    viewer->getCamera()->setClearColor(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
    osg::ref_ptr<osg::ApplicationUsage> usage = new osg::ApplicationUsage;
    usage->addKeyboardMouseBinding("+", "Raise the tracking threshold");
    usage->addKeyboardMouseBinding("-", "Lower the tracking threshold");
    viewer->addEventHandler(new HelpPanel(usage.get(), 'h'));
    frames(1);
    viewer->getEventQueue()->keyPress('h');
    const osg::Image* image = render();
    // The panel is what is not the white picture.
    const Box panel = pixelsWhere(image, [](const unsigned char* p) { return p[0] < 250; });
    ASSERT_FALSE(panel.empty()) << "no panel shown";
    std::vector<int> levels;
    for (int y = panel.bottom; y <= panel.top; ++y)
        for (int x = panel.left; x <= panel.right; ++x)
            levels.push_back(image->data(x, y)[0]);
    std::sort(levels.begin(), levels.end());
    const int backing = levels[levels.size() / 2];
    const int letters = levels.back();
    EXPECT_LT(backing, 80) << "backing grey";
    // The panel's letters are drawn for a 1280-unit wide picture: in this small window they are a
    // few pixels high and their brightest pixels grey, still far above the backing.
    EXPECT_GT(letters - backing, 90) << "letters against backing";
}
