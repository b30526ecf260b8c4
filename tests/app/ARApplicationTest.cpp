// The application object's own rules: device numbers, the path rule of the settings setters, the
// application hint, the marker registration guards and how the application
// moves the one clipping manager between detected markers.
#include "app/ARApplication.h"
#include "NotifyCapture.h"
#include "SettingsFixture.h"
#include "effects/ARClippingManager.h"
#include "settings/ConfigurationData.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>

#include "osgART/Marker.h"

using namespace Novaro;
using namespace NovaroTest;

TEST(ARApplication, VideoDeviceMustBeOneDigitFromOneToNineAndTheHintComesFromTheAuthoringHost)
{
    ARApplication application;
    NotifyCapture capture;
    for (const char* rejected : {"0", "10", "99", "a", ""})
    {
        application.setVideoDevice("7");
        capture.clear();
        application.setVideoDevice(rejected);
        EXPECT_EQ("1", application.getVideoDevice()) << rejected;
        // The capture error that follows names the first device: the reason must show by default.
        const std::string named = *rejected ? rejected : "(none)";
        const int visible =
            capture.find(" WARNING: video device " + named +
                         " does not exist (devices are numbered 1 to 9): trying device 1 instead.");
        ASSERT_GE(visible, 0) << rejected;
        EXPECT_EQ(capture.lines()[visible].first, osg::FATAL);
    }
    application.setVideoDevice("7");
    EXPECT_EQ("7", application.getVideoDevice());

    // The application hint comes from the authoring host.
    TemporaryFolder temporary;
    application.setTemporaryDirectory(temporary.path());
    capture.clear();
    application.setApplicationHint();
    EXPECT_TRUE(capture.printed(" WARNING: cannot set application hint - scene configuration empty."));
    EXPECT_EQ(HINT_NONE, application.getApplicationHint());

    // The hosts whose hint changes what the player does (the others' hints are only kept), the
    // last of the table, a name in other letters and an unknown one.
    const std::pair<const char*, ApplicationHint> hosts[] = {
        {"scia_engineer", HINT_SCIA_ENGINEER},
        {"maya", HINT_MAYA},
        {"cinema4d", HINT_CINEMA4D},
        {"3DSMAX", HINT_NONE},
        {"blender", HINT_NONE},
    };
    for (const auto& host : hosts)
    {
        temporary.write("scene.xml",
                        std::string("<scene authoring_software=\"") + host.first +
                            "\"><objects><object type=\"ARObject\"><model/><markers all=\"true\"/>"
                            "</object></objects></scene>");
        ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));
        application.setApplicationHint();
        EXPECT_EQ(host.second, application.getApplicationHint()) << host.first;
    }
}

// Objects need a configuration and a known marker.
TEST(ARApplication, SettingsNamesFollowThePathRuleFailuresKeepTheRecordAndObjectsNeedAKnownMarker)
{
    TemporaryFolder working, other;
    working.write("config.xml", minimalConfiguration());
    other.write("elsewhere.xml", "<configuration><parameters>"
                                 "<p name=\"mode\">ar_mixed</p></parameters></configuration>");
    ARApplication application;
    application.setWorkingDirectory(working.path());
    NotifyCapture capture;
    application.addObjectToMarker(nullptr, 4, 0);
    EXPECT_TRUE(capture.printed(" WARNING: NULL configuration."));

    for (const auto& [name, mode] : {std::make_pair(std::string("config.xml"), AR_SIMPLE),
                                     std::make_pair(other.file("elsewhere.xml"), AR_MIXED)})
    {
        ASSERT_TRUE(application.setConfiguration(name)) << name;
        EXPECT_EQ(mode, application.getConfiguration()->getMode()) << name;
    }

    working.write("broken.xml", "<config/>");
    EXPECT_FALSE(application.setConfiguration("broken.xml"));
    EXPECT_EQ(AR_MIXED, application.getConfiguration()->getMode());

    working.write("invalid-mode.xml", "<configuration><parameters/></configuration>");
    EXPECT_TRUE(application.setConfiguration("invalid-mode.xml")) << "absent mode falls back to ar_simple";
    EXPECT_FALSE(application.setConfiguration("missing.xml"));
    EXPECT_TRUE(capture.printed(" WARNING: failed to open configuration (file not valid)."));
    EXPECT_EQ(AR_SIMPLE, application.getConfiguration()->getMode());

    capture.clear();
    application.addObjectToMarker(nullptr, 4, 0);
    EXPECT_TRUE(capture.printed(" WARNING: could not find specified marker ID (4) in markers set."));
    capture.clear();
    application.addObjectToAllMarkers(nullptr, 0);
    EXPECT_TRUE(capture.text().empty() && application.getObjectCount() == 0u) << capture.text();
}

TEST(ClippingMarkers, ManagerGoesToTheLowestDetectedMarkerAndLeavesThePlainContentBehind)
{
    ARApplication application;
    for (unsigned int id : {5u, 1u, 2u})
        application.getMarkers()[id] = new ARMarkerNode(new osgART::Marker, 0, nullptr, 0, &application);
    osg::ref_ptr<ARClippingManager> manager = new ARClippingManager(80.0f);
    application.setClippingManager(manager.get());
    auto node = [&](unsigned int id) { return application.getMarkers().at(id).get(); };
    auto detect = [&](unsigned int id, bool seen)
    {
        if (seen)
            node(id)->getMarker()->setDetected(1.0, osg::Matrixd::identity(), {});
        else
            node(id)->getMarker()->setNotDetected();
    };
    // Each marker shows either its plain or its clipped content; only the holder may clip.
    auto expectClipping = [&](unsigned int holder, bool clipped)
    {
        EXPECT_EQ(holder ? node(holder) : nullptr, application.getClippingMarker());
        EXPECT_EQ(holder ? 1u : 0u, manager->getNumParents());
        EXPECT_EQ(holder ? node(holder)->getContentGroup() : nullptr, manager->getClippedNode());
        for (const auto& entry : application.getMarkers())
        {
            osg::Switch* visibility = entry.second->getVisibilitySwitch();
            const bool shown = entry.first == holder && clipped;
            EXPECT_EQ(shown, visibility->getChildValue(entry.second->getClippedContent())) << entry.first;
            EXPECT_EQ(!shown, visibility->getChildValue(entry.second->getContentGroup())) << entry.first;
            EXPECT_TRUE(entry.first == holder || entry.second->getContentGroup()->getNumParents() == 1u)
                << entry.first;
        }
    };

    application.setClippingEnabled(true); // no marker detected: nothing to clip
    expectClipping(0, false);

    detect(5, true);
    detect(2, true);
    application.setClippingEnabled(true);
    expectClipping(2, true);
    application.setClippingEnabled(false);
    expectClipping(2, false);
    detect(1, true);
    application.setClippingEnabled(true);
    expectClipping(1, true);
    detect(1, false);
    application.setClippingEnabled(true);
    expectClipping(2, true);
}
