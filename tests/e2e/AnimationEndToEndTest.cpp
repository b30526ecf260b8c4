// Animations under the control of actions, as the player runs them: boxes that path animations
// slide along their marker, started and sped up by the actions of the marker-detected event. (What
// each animation action does: the animations and actions tests.) Scene time follows the frame
// count (-frame_time), so a run shows the same pictures however loaded the machine is.
#include "EventsFiles.h"
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <osg/AnimationPath>
#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osgDB/WriteFile>

using namespace NovaroTest;

namespace
{

// The object 'name' of the model <name>.osgt and the events <name>_events.xml on the marker, its
// animations playing once.
std::string playingOnce(const std::string& name, int marker)
{
    return objectXml(name, name + ".osgt", marker,
                     "<properties><property name=\"loop\">false</property></properties><events file=\"" +
                         name + "_events.xml\"/>");
}

std::string action(const std::string& command)
{
    return actionXml(command, "_self_", {{"animation_name", "slider"}});
}

// A box of the colour at y on its own slider, which a path animation moves 90 units along X in
// nine seconds.
void writeSlidingBox(const SampleScene& scene, const std::string& name, const osg::Vec4& colour, float y)
{
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, y, 0)));
    path->insert(9.0, osg::AnimationPath::ControlPoint(osg::Vec3d(90, y, 0)));
    osg::ref_ptr<osg::MatrixTransform> slider = new osg::MatrixTransform(osg::Matrix::translate(0, y, 0));
    slider->setName("slider");
    slider->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
    osg::ref_ptr<osg::ShapeDrawable> box = new osg::ShapeDrawable(new osg::Box(osg::Vec3(0, 0, 10), 20.0f));
    box->setColor(colour);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(box.get());
    geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    slider->addChild(geode.get());
    EXPECT_TRUE(osgDB::writeNodeFile(*slider, scene.directory().file(name)));
}

// The mean window position of the pixels of one box colour.
osg::Vec2d centre(const osg::Image& shot, bool red)
{
    osg::Vec2d sum;
    int count = 0;
    for (int y = 0; y < shot.t(); ++y)
        for (int x = 0; x < shot.s(); ++x)
        {
            const osg::Vec3i c = pixel(shot, x, y);
            const int own = red ? c.x() : c.y(), other = red ? c.y() : c.x();
            if (own > 60 && own > 2 * other && own > 2 * c.z())
            {
                sum += osg::Vec2d(x, y);
                ++count;
            }
        }
    EXPECT_GT(count, 30) << (red ? "red" : "green") << " box on screen";
    return count > 0 ? sum / count : sum;
}

} // namespace

// Two boxes on marker 1, red at y = -30 and green at y = +30, each on its own slider; both start
// when the marker is found, the green one at twice the speed. Both start on the same frame, so
// between any two pictures the green box goes twice as far.
TEST(AnimationEndToEnd, TwiceTheSpeedGoesTwiceAsFarAndDetectionRunsItsActionsOnce)
{
    NOVARO_REQUIRE_DISPLAY();
    SampleScene moving;
    stillFrameWithoutSmoothing(moving);
    writeSlidingBox(moving, "red.osgt", osg::Vec4(0.9f, 0.1f, 0.1f, 1.0f), -30.0f);
    writeSlidingBox(moving, "green.osgt", osg::Vec4(0.1f, 0.9f, 0.1f, 1.0f), 30.0f);
    const auto detected = [](const std::string& actions)
    { return eventsFileXml("e", eventXml("on_marker_detected", actions)); };
    moving.directory().write(
        "red_events.xml",
        detected(action("start_animation") + actionXml("notify", "_self_", {{"message", "found"}})));
    moving.directory().write(
        "green_events.xml",
        detected(actionXml("set_animation_speed", "_self_", {{"speed", "2"}}) + action("start_animation")));
    writeSceneFile(moving.directory(), playingOnce("red", 1) + playingOnce("green", 1));
    // Scene time follows the frame count, 0.1 s a frame.
    PlayerRun run =
        moving.play({"-max_frames", "30", "-frame_time", "0.1", "-verbose", "-screenshot_frame", "3"});
    ASSERT_EQ(0, run.status);
    osg::ref_ptr<osg::Image> earlyShot = moving.screenshot(3), shot = moving.screenshot();
    ASSERT_TRUE(earlyShot.valid() && shot.valid());
    const double slow = (centre(*shot, true) - centre(*earlyShot, true)).length();
    const double fast = (centre(*shot, false) - centre(*earlyShot, false)).length();
    EXPECT_GT(slow, 2.0) << "the red box moved";
    EXPECT_NEAR(fast / std::max(slow, 1e-3), 2.0, 0.5) << "slow " << slow << " px, fast " << fast << " px";

    // The still camera frame shows the marker all along: one detection, one run of its actions.
    EXPECT_EQ(1, countLinesHolding(run.output, " ARObject::notify... found..."));
}
