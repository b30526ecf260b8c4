// Animations under the control of actions, as the player runs them: boxes that a path animation
// slides off their marker's centre in half a second, started, rewound or stopped by the actions of
// the marker-detected event. Scene time follows the frame count (-frame_time), so a run of a few
// frames shows the same picture however loaded the machine is.
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

// Scene seconds per frame in these runs.
const std::string frameTime = "0.1";

// The object 'name' of the model <name>.osgt and the events <name>_events.xml on the marker, its
// animations playing once.
std::string playingOnce(const std::string& name, int marker)
{
    return objectXml(name, name + ".osgt", marker,
                     "<properties><property name=\"loop\">false</property></properties><events file=\"" +
                         name + "_events.xml\"/>");
}

// The sample scene with one box on each of the three markers: a 40-unit box on the transform
// "slider", whose animation moves it 90 units along X (out of the marker) in half a second. Each
// box has its own model file and events, so one run tries three sets of detected actions.
class SlidingBoxScene : public SampleScene
{
public:
    SlidingBoxScene()
    {
        std::string objects;
        for (int marker = 1; marker <= 3; ++marker)
        {
            const std::string name = "box" + std::to_string(marker);
            EXPECT_TRUE(osgDB::writeNodeFile(*slider(), directory().file(name + ".osgt")));
            objects += playingOnce(name, marker);
        }
        stillFrameWithoutSmoothing(*this);
        writeSceneFile(directory(), objects);
    }

    // Plays 12 frames (1.2 scene seconds, well past the half-second slide) with the given detected
    // actions of the boxes on markers 1, 2, ... and says which boxes still stand on their marker's
    // centre.
    std::vector<bool> boxesOnCentre(const std::vector<std::string>& detectedActions)
    {
        for (size_t box = 0; box < 3; ++box)
            directory().write("box" + std::to_string(box + 1) + "_events.xml",
                              "<events name=\"slide\"><event name=\"on_marker_detected\"><actions>" +
                                  (box < detectedActions.size() ? detectedActions[box] : std::string()) +
                                  "</actions></event></events>");
        PlayerRun run = play({"-max_frames", "12", "-frame_time", frameTime});
        EXPECT_EQ(0, run.status);
        osg::ref_ptr<osg::Image> shot = screenshot(), frame = cameraFrame();
        std::vector<bool> onCentre;
        for (size_t box = 0; box < detectedActions.size() && shot.valid() && frame.valid(); ++box)
            onCentre.push_back(contentOnMarker(*shot, *frame, markers()[box]));
        EXPECT_EQ(detectedActions.size(), onCentre.size()) << "a screenshot and a camera frame";
        return onCentre;
    }

private:
    static osg::ref_ptr<osg::Node> slider()
    {
        osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
        path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, 0, 0)));
        path->insert(0.5, osg::AnimationPath::ControlPoint(osg::Vec3d(90, 0, 0)));
        osg::ref_ptr<osg::MatrixTransform> slider = new osg::MatrixTransform;
        slider->setName("slider");
        slider->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
        osg::ref_ptr<osg::Geode> box = new osg::Geode;
        box->addDrawable(new osg::ShapeDrawable(new osg::Box(osg::Vec3(0, 0, 20), 40.0f)));
        slider->addChild(box.get());
        return slider;
    }
};

std::string action(const std::string& command)
{
    return "<action source=\"_self_\" target=\"_self_\"><command>" + command +
           "</command><parameters><parameter "
           "name=\"animation_name\">slider</parameter></parameters></action>";
}

TEST(AnimationEndToEnd, AnimationsStandStillUntilStartedAndRewindOrStopHoldTheFirstPose)
{
    NOVARO_REQUIRE_DISPLAY();
    SlidingBoxScene scene;
    EXPECT_EQ(std::vector<bool>({true, false, true}),
              scene.boxesOnCentre(
                  {"", action("start_animation"), action("start_animation") + action("rewind_animation")}))
        << "no action: the box stays where the model put it; started on detection: slid off the "
           "centre; rewound: back on it";
    EXPECT_EQ(std::vector<bool>({true, false}),
              scene.boxesOnCentre(
                  {action("start_animation") + action("stop_animation"),
                   "<action source=\"_self_\" target=\"nobody\"><command>start_animation</command></action>" +
                       action("pause_animation")}))
        << "stopped: first pose; an unknown target leaves the other actions running";
}

// Two boxes on marker 1, red at y = -30 and green at y = +30, each on its own slider that a path
// animation moves 90 units along X in nine seconds; both start when the marker is found, the green
// one at twice the speed.
class TwoSpeedsScene : public SampleScene
{
public:
    TwoSpeedsScene()
    {
        stillFrameWithoutSmoothing(*this);
        writeBox("red.osgt", osg::Vec4(0.9f, 0.1f, 0.1f, 1.0f), -30.0f);
        writeBox("green.osgt", osg::Vec4(0.1f, 0.9f, 0.1f, 1.0f), 30.0f);
        directory().write("red_events.xml", events(action("start_animation") + notify()));
        directory().write("green_events.xml", events(speed() + action("start_animation")));
        writeSceneFile(directory(), playingOnce("red", 1) + playingOnce("green", 1));
    }

    // The mean window position of the pixels of one box colour.
    static osg::Vec2d centre(const osg::Image& shot, bool red)
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

private:
    void writeBox(const std::string& name, const osg::Vec4& colour, float y)
    {
        osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
        path->insert(0.0, osg::AnimationPath::ControlPoint(osg::Vec3d(0, y, 0)));
        path->insert(9.0, osg::AnimationPath::ControlPoint(osg::Vec3d(90, y, 0)));
        osg::ref_ptr<osg::MatrixTransform> slider = new osg::MatrixTransform(osg::Matrix::translate(0, y, 0));
        slider->setName("slider");
        slider->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
        osg::ref_ptr<osg::ShapeDrawable> box =
            new osg::ShapeDrawable(new osg::Box(osg::Vec3(0, 0, 10), 20.0f));
        box->setColor(colour);
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->addDrawable(box.get());
        geode->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
        slider->addChild(geode.get());
        EXPECT_TRUE(osgDB::writeNodeFile(*slider, directory().file(name)));
    }
    static std::string events(const std::string& actions)
    {
        return "<events name=\"e\"><event name=\"on_marker_detected\"><actions>" + actions +
               "</actions></event></events>";
    }
    static std::string speed()
    {
        return "<action source=\"_self_\" "
               "target=\"_self_\"><command>set_animation_speed</command><parameters>"
               "<parameter name=\"speed\">2</parameter></parameters></action>";
    }
    static std::string notify()
    {
        return "<action source=\"_self_\" target=\"_self_\"><command>notify</command><parameters>"
               "<parameter name=\"message\">found</parameter></parameters></action>";
    }
};

// Both start on the same frame, so between any two pictures the green box goes twice as far.
TEST(AnimationEndToEnd, TwiceTheSpeedGoesTwiceAsFarAndDetectionRunsItsActionsOnce)
{
    NOVARO_REQUIRE_DISPLAY();
    TwoSpeedsScene moving;
    PlayerRun run =
        moving.play({"-max_frames", "30", "-frame_time", frameTime, "-verbose", "-screenshot_frame", "3"});
    ASSERT_EQ(0, run.status);
    osg::ref_ptr<osg::Image> earlyShot = moving.screenshot(3), shot = moving.screenshot();
    ASSERT_TRUE(earlyShot.valid() && shot.valid());
    const double slow =
        (TwoSpeedsScene::centre(*shot, true) - TwoSpeedsScene::centre(*earlyShot, true)).length();
    const double fast =
        (TwoSpeedsScene::centre(*shot, false) - TwoSpeedsScene::centre(*earlyShot, false)).length();
    EXPECT_GT(slow, 2.0) << "the red box moved";
    EXPECT_NEAR(fast / std::max(slow, 1e-3), 2.0, 0.5) << "slow " << slow << " px, fast " << fast << " px";

    // The still camera frame shows the marker all along: one detection, one run of its actions.
    EXPECT_EQ(1, countLinesHolding(run.output, " ARObject::notify... found..."));
}

} // namespace
