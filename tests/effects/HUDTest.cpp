// The head-up displays: where panels go and how text resizes them, timed panels hiding on their
// own, and what a real window shows of text, video and the keys panel.
#include "effects/ARTimerEventsHandler.h"
#include "effects/HUDList.h"
#include "effects/HelpPanel.h"
#include "scene/SceneClock.h"

#include "Display.h"
#include "NotifyCapture.h"

#include <gtest/gtest.h>
#include <osg/ImageStream>
#include <osg/io_utils>
#include <osgViewer/Viewer>

#include <algorithm>
#include <unistd.h>
#include <vector>

using namespace Novaro;

namespace
{

// A small real window with a HUD list on it; the run directory is the current directory so that
// the HUD font "data/arial.ttf" is found as in the player.
class HUDTest : public ::testing::Test
{
protected:
    static constexpr int WindowWidth = 320;
    static constexpr int WindowHeight = 240;

    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        ASSERT_EQ(0, chdir(NOVARO_RUN_DIR));
        const osg::Timer_t start = osg::Timer::instance()->tick();
        Novaro::SceneClock::setTickSource(
            [this, start] {
                return start +
                       static_cast<osg::Timer_t>(seconds / osg::Timer::instance()->getSecondsPerTick());
            });
        viewer = new osgViewer::Viewer;
        viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
        viewer->setUpViewInWindow(40, 40, WindowWidth, WindowHeight);
        ASSERT_NE(nullptr, Novaro::HUD::firstWindow(viewer.get()));
        console.clear();
        viewer->getCamera()->setClearColor(osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
        viewer->setSceneData(new osg::Group);
        huds.setViewer(viewer.get());
    }

    void TearDown() override { Novaro::SceneClock::setTickSource(nullptr); }

    void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            viewer->frame();
    }
    // Sets the HUD timers' clock and runs a few frames: hiding goes through a user event that
    // comes back on the next frame.
    void settleAt(double time)
    {
        seconds = time;
        frames(3);
    }
    // Whether the HUD is shown once settled at that time.
    bool shownAt(int id, double time)
    {
        settleAt(time);
        return huds.getHUD(id)->isShown();
    }

    // Time seen by the HUD timers, in seconds since the test started.
    double seconds = 0.0;
    NovaroTest::NotifyCapture console;
    osg::ref_ptr<osgViewer::Viewer> viewer;
    Novaro::HUDList huds;
};

// The panel's rectangle in window pixels: position transform, anchor offset, plane extent.
struct Rectangle
{
    float left, right, bottom, top;
};

Rectangle panelRectangle(HUD* hud)
{
    TextPanel* panel = hud->getTextPanel();
    const osg::Vec3 origin =
        osg::Vec3(hud->getPositionTransform()->getPosition()) + panel->getMatrix().getTrans();
    BackgroundPlane* plane = panel->getBackgroundPlane();
    return {origin.x(), origin.x() + plane->getWidth(), origin.y() - plane->getHeight(), origin.y()};
}

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

TEST_F(HUDTest, PositionsPlaceThePanelOnAGridInsideTheWindow)
{
    const float width = WindowWidth, height = WindowHeight;
    for (int position = 0; position < 9; ++position)
    {
        SCOPED_TRACE("position " + std::to_string(position));
        const int id = huds.addText("Some status text", position);
        ASSERT_EQ(position, id);
        const Rectangle r = panelRectangle(huds.getHUD(id));
        EXPECT_GT(r.right - r.left, 20.0f);

        // Columns: left edge, centre or right edge; rows: top edge, middle or bottom edge.
        const float across[] = {r.left, (r.left + r.right) / 2, r.right};
        const float down[] = {r.top, (r.bottom + r.top) / 2, r.bottom};
        EXPECT_FLOAT_EQ(width * (position % 3) / 2, across[position % 3]);
        EXPECT_FLOAT_EQ(height * (2 - position / 3) / 2, down[position / 3]);
    }
    // Outside the grid: the top-left corner.
    for (int outside : {-1, 9})
    {
        const Rectangle r = panelRectangle(huds.getHUD(huds.addText("Some status text", outside)));
        EXPECT_FLOAT_EQ(0.0f, r.left) << outside;
        EXPECT_FLOAT_EQ(height, r.top) << outside;
    }
}

TEST_F(HUDTest, NewTextResizesThePlaneAndKeepsTheAnchor)
{
    const int id = huds.addText("Short", 8);
    HUD* hud = huds.getHUD(id);
    BackgroundPlane* plane = hud->getTextPanel()->getBackgroundPlane();
    const float shortWidth = plane->getWidth();

    hud->setText("A much longer status message than before");
    const osg::BoundingBox& box = hud->getTextPanel()->getTextDrawable()->getBoundingBox();
    const float textWidth = box.xMax() - box.xMin();
    EXPECT_GT(textWidth, 200.0f) << "font not loaded?";
    EXPECT_FLOAT_EQ(textWidth + 20.0f, plane->getWidth());
    EXPECT_FLOAT_EQ(box.yMax() - box.yMin() + 20.0f, plane->getHeight());
    EXPECT_GT(plane->getWidth(), shortWidth);

    // Bottom-right anchored: the wider panel grows to the left and still ends at the corner.
    const Rectangle r = panelRectangle(hud);
    EXPECT_FLOAT_EQ(static_cast<float>(WindowWidth), r.right);
    EXPECT_FLOAT_EQ(0.0f, r.bottom);
}

TEST_F(HUDTest, WithoutAWindowNothingIsAddedAndNothingBreaks)
{
    osg::ref_ptr<osgViewer::Viewer> windowless = new osgViewer::Viewer;
    HUDList list;
    list.setViewer(windowless.get());
    EXPECT_TRUE(list.init());

    EXPECT_EQ(-1, list.addText("Starting...", 0));
    EXPECT_EQ(0u, list.getNumHUDs());

    // Status updates on the missing HUD go nowhere without harm.
    EXPECT_EQ(nullptr, list.getHUD(-1));
    list.setText(-1, "x");
    list.setTimed(-1, true);
    list.show(-1);
    list.hide(0);

    list.showVideo(nullptr);
    list.closeVideo();
    list.toggleVideoPanel();
    EXPECT_EQ(nullptr, list.getVideoHUD());
    EXPECT_EQ(-1, HUDList().addText("x", 0));

    osg::ref_ptr<HUD> orphan = new HUD(nullptr);
    orphan->setTimed(true);
    orphan->show();
    EXPECT_TRUE(orphan->isShown());
}

TEST_F(HUDTest, ANewTextKeepsATimedHUDUpForItsFullDisplayTime)
{
    const int id = huds.addText("A", 0);
    huds.setTimed(id, true);
    huds.setDisplayTime(id, 3.0);
    huds.show(id);
    HUD* hud = huds.getHUD(id);
    EXPECT_TRUE(shownAt(id, 0.0));

    EXPECT_TRUE(shownAt(id, 2.0));
    huds.setText(id, "B");
    huds.show(id);

    // Past the end of "A"'s three seconds, but within those of "B".
    EXPECT_TRUE(shownAt(id, 3.5));
    EXPECT_TRUE(shownAt(id, 4.9));

    EXPECT_FALSE(shownAt(id, 5.1));
    EXPECT_EQ(nullptr, hud->getTimerHandler()->getHUD());
}

TEST_F(HUDTest, TimedHUDsHideIndependentlyAndUntimedOnesStay)
{
    const int quick = huds.addText("quick", 0);
    const int slow = huds.addText("slow", 2);
    const int steady = huds.addText("steady", 7);
    huds.setTimed(quick, true);
    huds.setDisplayTime(quick, 1.0);
    huds.setTimed(slow, true);
    huds.show(quick);
    huds.show(slow);
    huds.show(steady);
    settleAt(0.0);

    // The slow HUD's handler sees the quick one's user events too and must leave them alone.
    EXPECT_FALSE(shownAt(quick, 1.5));
    EXPECT_TRUE(huds.getHUD(slow)->isShown());
    EXPECT_TRUE(huds.getHUD(steady)->isShown());

    EXPECT_FALSE(shownAt(slow, 3.5));
    EXPECT_TRUE(huds.getHUD(steady)->isShown());

    // A hidden timed HUD shown again counts from the new moment with its existing handler.
    ARTimerEventsHandler* handler = huds.getHUD(quick)->getTimerHandler();
    huds.show(quick);
    EXPECT_EQ(handler, huds.getHUD(quick)->getTimerHandler());
    EXPECT_TRUE(shownAt(quick, 4.3));
    EXPECT_FALSE(shownAt(quick, 4.6));

    // As in the player, the viewer goes first and the HUD list after it.
    viewer = nullptr;
}

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
