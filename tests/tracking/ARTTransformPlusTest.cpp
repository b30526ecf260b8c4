// The tracking state machine of a marker's transform, driven frame by frame with a marker whose
// detection the test sets, and the freeze and tracking-plus switches.
#include "tracking/ARTTransformPlus.h"
#include "scene/ARObject.h"

#include "NotifyCapture.h"
#include "PlayerProcess.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgUtil/UpdateVisitor>

#include "osgART/Marker.h"

#include <array>
#include <string>

using namespace Novaro;

namespace
{

class CountingObject : public ARObject
{
public:
    void onMarkerDetected() override { ++detected; }
    void onMarkerLost() override { ++lost; }
    int detected = 0;
    int lost = 0;
};

class TrackedMarker
{
public:
    TrackedMarker()
        : marker(new osgART::Marker("test")), transform(new ARTTransformPlus(marker.get())),
          object(new CountingObject)
    {
        transform->addListener(object.get());
        transform->addListener(object.get());
    }

    // One frame in which the marker is seen (at a pose moved by the frame number) or missed.
    void frame(bool seen)
    {
        ++frames;
        if (seen)
        {
            std::array<osg::Vec2d, 4> corners{};
            marker->setDetected(1.0, osg::Matrixd::translate(frames, 0.0, -500.0), corners);
        }
        else
            marker->setNotDetected();
        // One visitor for the whole run, as the viewer keeps one: the node-mask override the
        // callback sets on it is what lets a hidden transform be visited again.
        transform->accept(visitor);
    }
    void run(bool seen, int count)
    {
        for (int i = 0; i < count; ++i)
            frame(seen);
    }
    bool shown() const { return transform->getNodeMask() != 0; }
    int status() const { return transform->getTrackingCallback()->getStatus(); }

    osg::ref_ptr<osgART::Marker> marker;
    osg::ref_ptr<ARTTransformPlus> transform;
    osg::ref_ptr<CountingObject> object;
    osgUtil::UpdateVisitor visitor;
    int frames = 0;
};

// An object holding a box of the given corners (marker coordinates, mm), named as in a scene.
osg::ref_ptr<CountingObject> boxObject(const std::string& name, const osg::Vec3& min, const osg::Vec3& max)
{
    osg::ref_ptr<CountingObject> object = new CountingObject;
    object->setName(name);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(
        new osg::Box((min + max) / 2.0f, max.x() - min.x(), max.y() - min.y(), max.z() - min.z())));
    object->addChild(geode.get());
    return object;
}

} // namespace

// Runs of seen (+n) and missed (-n) frames, and the state they leave: with tracking plus a marker
// shows on its twenty-sixth seen frame and hides on its sixty-second missed one, without it on the
// second and the third; the object hears of each change once, and of a return while losing never.
TEST(TrackedTransform, RunsOfSeenAndMissedFramesShowHideAndNotifyOnce)
{
    const int detecting = ARTTransformCallbackPlus::DETECTING, tracked = ARTTransformCallbackPlus::TRACKED,
              losing = ARTTransformCallbackPlus::LOSING, notTracked = ARTTransformCallbackPlus::NOT_TRACKED;
    // Tracking plus by default, switched off, or switched off and on again (the player's hysteresis again).
    const int ON = 0, OFF = 1, OFF_ON = 2;
    const struct
    {
        int plus;
        std::vector<int> runs;
        int status, shown; // -1: not looked at
        int detected, lost;
    } cases[] = {
        {ON, {25}, detecting, -1, 0, 0},
        {ON, {26}, tracked, 1, 1, 0},
        {ON, {26, -61}, losing, 1, 1, 0},
        {ON, {26, -62}, notTracked, 0, 1, 1},
        {ON, {25, -1}, notTracked, 0, 0, 0},
        {ON, {26, -61, 1}, tracked, 1, 1, 0},
        {ON, {26, -61, 1, -61}, losing, 1, 1, 0}, // the lost count starts again after the return
        {OFF, {1}, -1, -1, 0, 0},
        {OFF, {2}, -1, 1, 1, 0},
        {OFF, {2, -2}, -1, 1, 1, 0},
        {OFF, {2, -3}, -1, 0, 1, 1},
        {OFF_ON, {25}, detecting, -1, 0, 0},
        {OFF_ON, {26}, tracked, 1, 1, 0},
    };
    for (const auto& each : cases)
    {
        SCOPED_TRACE("plus mode " + std::to_string(int(each.plus)) + ", runs " +
                     testing::PrintToString(each.runs));
        TrackedMarker marker;
        if (each.plus != ON)
            marker.transform->setTrackingPlus(false);
        if (each.plus == OFF_ON)
            marker.transform->setTrackingPlus(true);
        for (int run : each.runs)
            marker.run(run > 0, std::abs(run));
        EXPECT_TRUE(each.status < 0 || each.status == marker.status()) << marker.status();
        EXPECT_TRUE(each.shown < 0 || (each.shown == 1) == marker.shown());
        EXPECT_EQ(std::make_pair(each.detected, each.lost),
                  std::make_pair(marker.object->detected, marker.object->lost));
    }

    // Far away until seen, then where it was last seen until lost; the object added twice is told
    // once (the counts above).
    TrackedMarker marker;
    EXPECT_EQ(osg::Vec3d(0.0, 0.0, 100000.0), marker.transform->getMatrix().getTrans());
    EXPECT_EQ(1u, marker.transform->getListeners().size());
    marker.run(true, 26);
    EXPECT_EQ(osg::Vec3d(26.0, 0.0, -500.0), marker.transform->getMatrix().getTrans());
    marker.run(false, 61);
    EXPECT_EQ(osg::Vec3d(26.0, 0.0, -500.0), marker.transform->getMatrix().getTrans()) << "last pose held";
}

TEST(TrackedTransform, SwitchingTrackingPlusResetsCountersButNotStatusAndFreezeKeepsAll)
{
    TrackedMarker tracked;
    tracked.run(true, 10);
    tracked.transform->setTrackingPlus(true);
    EXPECT_EQ(ARTTransformCallbackPlus::DETECTING, tracked.status());
    EXPECT_EQ(0, tracked.transform->getTrackingCallback()->getDetectCount());

    // A status the machine does not know changes nothing.
    TrackedMarker invalid;
    invalid.transform->getTrackingCallback()->setStatus(7);
    invalid.frame(true);
    EXPECT_EQ(7, invalid.status());

    // Freeze keeps everything while losing.
    TrackedMarker frozen;
    frozen.run(true, 26);
    frozen.frame(false);
    frozen.transform->setFreeze(true);
    frozen.run(false, 200);
    EXPECT_EQ(ARTTransformCallbackPlus::LOSING, frozen.status());
    EXPECT_TRUE(frozen.shown());
    EXPECT_EQ(1, frozen.transform->getTrackingCallback()->getLostCount());
    frozen.transform->setFreeze(false);
    frozen.run(false, 61);
    EXPECT_FALSE(frozen.shown());
}

// A real-size model on a small marker puts the camera inside it: said once, at the first
// detection, naming the object and the marker; an object the camera is outside of is not named,
// whatever the transforms between the marker and the object (here a scale, as fitting adds).
TEST(TrackedTransform, CameraInsideAnObjectAtTheFirstDetectionIsWarnedOnce)
{
    NovaroTest::NotifyCapture console(osg::FATAL); // the console's level without -verbose
    TrackedMarker tracked;
    tracked.transform->getTrackingCallback()->setMarkerId(7);
    // The camera is 500 mm in front of the marker: inside a 2 m duck standing on it, not inside a
    // cube of 50 mm, nor inside a 2 m box placed beside the marker.
    osg::ref_ptr<osg::MatrixTransform> fitting = new osg::MatrixTransform(osg::Matrixd::scale(0.5, 0.5, 0.5));
    tracked.transform->addChild(fitting.get());
    for (const osg::ref_ptr<CountingObject>& object :
         {boxObject("duck", osg::Vec3(-1000, -1000, 0), osg::Vec3(1000, 1000, 2000)),
          boxObject("cube", osg::Vec3(-25, -25, 0), osg::Vec3(25, 25, 50)),
          boxObject("aside", osg::Vec3(1500, -1000, 0), osg::Vec3(3500, 1000, 2000))})
    {
        fitting->addChild(object.get());
        tracked.transform->addListener(object.get());
    }
    tracked.run(true, 26);
    ASSERT_EQ(ARTTransformCallbackPlus::TRACKED, tracked.status());
    // Halved by the fitting transform: 1 m across and 1 m tall, the camera still inside.
    const auto warnings = [&console]()
    { return NovaroTest::countLinesHolding(console.text(), "camera is inside"); };
    EXPECT_EQ(1, warnings());
    EXPECT_NE(
        std::string::npos,
        ("\n" + console.text())
            .find("\nWARNING: the camera is inside object \"duck\" (1000 x 1000 x 1000 mm) on marker 7"))
        << console.text();

    // Lost and found again: not said twice.
    tracked.run(false, 62);
    tracked.run(true, 26);
    EXPECT_EQ(ARTTransformCallbackPlus::TRACKED, tracked.status());
    EXPECT_EQ(1, warnings());

    // Scaled down to a tenth, the duck (200 mm tall) leaves the camera outside.
    TrackedMarker fresh;
    osg::ref_ptr<CountingObject> small =
        boxObject("duck", osg::Vec3(-1000, -1000, 0), osg::Vec3(1000, 1000, 2000));
    small->setMatrix(osg::Matrixd::scale(0.1, 0.1, 0.1));
    fresh.transform->addChild(small.get());
    fresh.transform->addListener(small.get());
    fresh.run(true, 26);
    EXPECT_EQ(1, warnings());
}
