// Animations under the control of actions, as the player runs them: a box that a path animation
// slides off its marker's centre in half a second, started, rewound or stopped by the actions of
// the marker-detected event.
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

// The sample scene with one object on marker 1: a 40-unit box on the transform "slider", whose
// animation moves it 90 units along X (out of the marker) in half a second.
class SlidingBoxScene : public SampleScene
{
public:
    explicit SlidingBoxScene(const std::string& detectedActions)
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
        EXPECT_TRUE(osgDB::writeNodeFile(*slider, directory().file("slider.osgt")));
        directory().write(
            "scene.xml",
            "<scene name=\"slide\" authoring_software=\"3dsmax\"><parameters><parameter "
            "name=\"show_message\">"
            "false</parameter></parameters><objects><object name=\"box\" type=\"ARObject\">"
            "<model source=\"slider.osgt\"/><properties><property name=\"loop\">false</property></properties>"
            "<markers><marker id=\"1\" layer=\"0\"/></markers><events file=\"slide_events.xml\"/>"
            "</object></objects></scene>");
        directory().write("slide_events.xml",
                          "<events name=\"slide\"><event name=\"on_marker_detected\"><actions>" +
                              detectedActions + "</actions></event></events>");
    }

    // Whether the box stands on its marker's centre after 'frames' frames.
    bool boxOnCentre(const std::string& frames)
    {
        PlayerRun run = play({"-max_frames", frames});
        EXPECT_EQ(0, run.status);
        osg::ref_ptr<osg::Image> shot = screenshot(), frame = cameraFrame();
        EXPECT_TRUE(shot.valid() && frame.valid());
        return shot.valid() && frame.valid() && contentOnMarker(*shot, *frame, markers()[0]);
    }
};

std::string action(const std::string& command)
{
    return "<action source=\"_self_\" target=\"_self_\"><command>" + command +
           "</command><parameters><parameter "
           "name=\"animation_name\">slider</parameter></parameters></action>";
}

TEST(AnimationEndToEnd, AnimationsStandStillUntilAnActionStartsThem)
{
    NOVARO_REQUIRE_DISPLAY();
    SlidingBoxScene still("");
    EXPECT_TRUE(still.boxOnCentre("70")) << "no action: the box stays where the model put it";

    SlidingBoxScene started(action("start_animation"));
    EXPECT_FALSE(started.boxOnCentre("70")) << "started on detection: slid off the centre";
}

TEST(AnimationEndToEnd, RewindAndStopHoldTheFirstPose)
{
    NOVARO_REQUIRE_DISPLAY();
    SlidingBoxScene rewound(action("start_animation") + action("rewind_animation"));
    EXPECT_TRUE(rewound.boxOnCentre("70"));
    SlidingBoxScene stopped(action("start_animation") + action("stop_animation"));
    EXPECT_TRUE(stopped.boxOnCentre("70"));
    SlidingBoxScene unknown(
        "<action source=\"_self_\" target=\"nobody\"><command>start_animation</command></action>" +
        action("pause_animation"));
    EXPECT_FALSE(unknown.boxOnCentre("70")) << "an unknown target leaves the other actions running";
}

} // namespace
