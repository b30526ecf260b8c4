// Mouse picking in a running player: clicks, drags, hovering and long presses on pickables.
#include "RunningPlayer.h"

#include "effects/HUDVideo.h"
#include "interaction/ARMouseEventsHandler.h"
#include "scene/ARPickable.h"

#include <gtest/gtest.h>
#include <osg/ClipNode>
#include <osg/Geode>
#include <osg/ImageStream>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>

#include <string>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

// The event queue takes the window system's button numbers.
const int LEFT = 1, MIDDLE = 2, RIGHT = 3;

namespace
{

// Records which hooks the handler called, in order.
class RecordingPickable : public ARPickable
{
public:
    explicit RecordingPickable(const std::string& name, std::vector<std::string>& log) : _log(log)
    {
        setName(name);
    }
    void onLeftMouseClick() override { _log.push_back(getName() + " left"); }
    void onRightMouseClick() override { _log.push_back(getName() + " right"); }
    void onLeftMouseDoubleClick() override { _log.push_back(getName() + " left double"); }
    void onRightMouseDoubleClick() override { _log.push_back(getName() + " right double"); }
    void onMouseIn() override { _log.push_back(getName() + " in"); }
    void onMouseOut() override { _log.push_back(getName() + " out"); }

private:
    std::vector<std::string>& _log;
};

typedef std::vector<std::string> Log;

class MousePicking : public RunningPlayer
{
protected:
    // The sample's own models are hidden: as the recorded camera plays on, they would come under
    // the pointer.
    void SetUp() override
    {
        RunningPlayer::SetUp();
        if (!IsSkipped() && !HasFatalFailure())
            application.getContentGroup()->setNodeMask(0);
    }

    // Puts a 40-unit box on the transform, 'offset' to the side of the scene camera's axis and in
    // front of it, and returns where it is drawn in the window, in window pixels from the bottom
    // left.
    osg::Vec2 placeInFront(osg::MatrixTransform& node, float offset)
    {
        osg::Camera& camera = *application.getARCamera();
        const osg::Matrix toScreen = camera.getViewMatrix() * camera.getProjectionMatrix();
        // The tracker's projection may look down either Z direction: take the one in front.
        const float depth = (osg::Vec4(0, 0, -500, 1) * toScreen).w() > 0.0f ? -500.0f : 500.0f;
        const osg::Vec3 centre(offset, 0.0f, depth);
        node.setMatrix(osg::Matrix::translate(centre));
        osg::ref_ptr<osg::Geode> box = new osg::Geode;
        box->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(), 40.0f)));
        node.addChild(box.get());
        camera.addChild(&node);
        const osg::Vec3 onTarget = centre * toScreen * camera.getViewport()->computeWindowMatrix();
        // Render-target pixels back to window pixels, as the handler undoes them.
        const ARMouseEventsHandler& mouse = *application.getMouseEventsHandler();
        return osg::Vec2(onTarget.x() / mouse.getTextureScaleX() / mouse.getWindowScaleX(),
                         onTarget.y() / mouse.getTextureScaleY() / mouse.getWindowScaleY());
    }
    // The window system counts rows from the top; the viewer hands handlers rows from the bottom.
    float row(float y) { return static_cast<float>(viewer->getWindowHeight()) - y; }
    void press(osg::Vec2 at, int button) { events().mouseButtonPress(at.x(), row(at.y()), button); }
    void release(osg::Vec2 at, int button) { events().mouseButtonRelease(at.x(), row(at.y()), button); }
    void click(osg::Vec2 at, int button)
    {
        press(at, button);
        release(at, button);
        viewer->frame();
    }
    void move(osg::Vec2 at)
    {
        events().mouseMotion(at.x(), row(at.y()));
        viewer->frame();
    }
};

} // namespace

TEST_F(MousePicking, ClicksDoubleClicksAndDragsOnTheNearestPickable)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    // Off the window's centre, so that the mirrored click below lands elsewhere.
    const osg::Vec2 onBox = placeInFront(*box, 150.0f);
    viewer->frame();

    click(onBox, RIGHT);
    click(onBox, MIDDLE);
    // The window system's double click: press, release, double click, release.
    press(onBox, LEFT);
    release(onBox, LEFT);
    events().mouseDoubleButtonPress(onBox.x(), row(onBox.y()), LEFT);
    release(onBox, LEFT);
    viewer->frame();
    EXPECT_EQ(Log({"box right", "box left", "box left double"}), log);

    // Moved by one pixel between press and release: no click.
    log.clear();
    press(onBox, LEFT);
    events().mouseMotion(onBox.x() + 1.0f, row(onBox.y()));
    release(onBox + osg::Vec2(1.0f, 0.0f), LEFT);
    viewer->frame();
    EXPECT_TRUE(log.empty());

    // With the video mirrored, the box is drawn on the other side of the window.
    application.toggleMirror();
    click(osg::Vec2(static_cast<float>(viewer->getWindowWidth()) - onBox.x(), onBox.y()), LEFT);
    EXPECT_EQ(Log({"box left"}), log);
}

TEST_F(MousePicking, PartsCutAwayByAClipPlaneAreNotPicked)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    const osg::Vec2 onBox = placeInFront(*box, 0.0f);
    // The box (-20..20 on every axis) under a clip node, as the clipping manager cuts content.
    osg::ref_ptr<osg::Node> geode = box->getChild(0);
    osg::ref_ptr<osg::ClipNode> clipNode = new osg::ClipNode;
    clipNode->addChild(geode.get());
    box->replaceChild(geode.get(), clipNode.get());
    osg::ref_ptr<osg::ClipPlane> plane = new osg::ClipPlane(0);
    clipNode->addClipPlane(plane.get());

    // Only x >= 5 kept: the ray through the centre meets the box only where it is cut away.
    plane->setClipPlane(1.0, 0.0, 0.0, -5.0);
    viewer->frame();
    click(onBox, LEFT);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(nullptr, application.getMouseEventsHandler()->getPickedObject());

    // x >= -5 kept: the centre is drawn again.
    plane->setClipPlane(1.0, 0.0, 0.0, 5.0);
    viewer->frame();
    click(onBox, LEFT);
    EXPECT_EQ(Log({"box left"}), log);
}

TEST_F(MousePicking, HoveringFiresOutBeforeInOnlyWhenSomeObjectListens)
{
    Log log;
    osg::ref_ptr<RecordingPickable> left = new RecordingPickable("A", log);
    osg::ref_ptr<RecordingPickable> right = new RecordingPickable("B", log);
    const osg::Vec2 onLeft = placeInFront(*left, -60.0f);
    const osg::Vec2 onRight = placeInFront(*right, 60.0f);
    viewer->frame();

    move(onLeft);
    EXPECT_TRUE(log.empty()) << "no object listens to hovering";

    application.setMouseOverEvents(true);
    move(onLeft);
    move(onRight);
    move(osg::Vec2(2.0f, 2.0f));
    EXPECT_EQ(Log({"A in", "A out", "B in", "B out"}), log);
}

TEST_F(MousePicking, AnyReleaseClosesTheFullWindowMovie)
{
    osg::ref_ptr<osg::ImageStream> movie = new osg::ImageStream;
    movie->allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE);
    application.showFullscreenVideo(movie.get());
    viewer->frame();
    HUDVideo* panel = dynamic_cast<HUDVideo*>(application.getHUD().getVideoHUD());
    ASSERT_TRUE(panel && panel->getStream() == movie.get());
    click(osg::Vec2(2.0f, 2.0f), RIGHT);
    EXPECT_EQ(nullptr, panel->getStream());
}

TEST_F(MousePicking, LeftButtonHeldLongerThanTheLongPressEndsTheLoopWithoutAClick)
{
    Log log;
    osg::ref_ptr<RecordingPickable> box = new RecordingPickable("box", log);
    const osg::Vec2 onBox = placeInFront(*box, 0.0f);
    viewer->frame();

    // The handler's clock is the test's: held just under, then just over the long press.
    osg::Timer_t now = 0;
    const double ticksPerSecond = 1.0 / osg::Timer::instance()->getSecondsPerTick();
    application.getMouseEventsHandler()->setTickSource([&now] { return now; });
    auto holdFor = [&](double seconds)
    {
        press(onBox, LEFT);
        viewer->frame();
        now += static_cast<osg::Timer_t>(seconds * ticksPerSecond);
        release(onBox, LEFT);
        viewer->frame();
    };
    holdFor(ARMouseEventsHandler::longPressSeconds - 0.1);
    EXPECT_FALSE(viewer->done());
    EXPECT_EQ(Log({"box left"}), log) << "a press shorter than the long press is a click";
    log.clear();
    holdFor(ARMouseEventsHandler::longPressSeconds + 0.1);
    EXPECT_TRUE(viewer->done());
    EXPECT_TRUE(log.empty());
}
