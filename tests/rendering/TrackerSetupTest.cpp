// Tracker set-up of a real application: calibration by aspect, file resolution, markers and threshold.
#include "SampleApplication.h"

#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "settings/TrackerData.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>

#include <vector>

#include "osgART/GenericTracker.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// Video settings: the formats, then cameras named after their files.
std::string videoSettings(const std::string& formats, const std::string& cameras)
{
    return "<video name=\"test\"><formats>" + formats + "</formats><cameras>" + cameras +
           "</cameras></video>";
}

std::vector<unsigned int> markerIds(const ARApplication& application)
{
    std::vector<unsigned int> ids;
    for (const auto& entry : application.getMarkers())
        ids.push_back(entry.first);
    return ids;
}

} // namespace

TEST(CameraMatching, ClosestAspectWinsAndTiesKeepTheFirstFormat)
{
    TemporaryFolder working;
    working.write("wide-first.xml",
                  videoSettings("<format name=\"16:9\" width=\"1280\" height=\"720\"/>"
                                "<format name=\"4:3\" width=\"640\" height=\"480\"/>",
                                "<camera name=\"wide.dat\" format=\"16:9\" path=\"wide.dat\"/>"
                                "<camera name=\"normal.dat\" format=\"4:3\" path=\"normal.dat\"/>"));
    working.write("same-aspect.xml",
                  videoSettings("<format name=\"small\" width=\"320\" height=\"240\"/>"
                                "<format name=\"large\" width=\"640\" height=\"480\"/>",
                                "<camera name=\"small.dat\" format=\"small\" path=\"small.dat\"/>"
                                "<camera name=\"large.dat\" format=\"large\" path=\"large.dat\"/>"));
    ARApplication application;
    application.setWorkingDirectory(working.path());
    EXPECT_EQ("", application.matchCameraForVideo(640, 480)); // no video settings yet

    ASSERT_TRUE(application.setVideoConfiguration("wide-first.xml"));
    EXPECT_EQ("normal.dat", application.matchCameraForVideo(640, 480));
    EXPECT_EQ("wide.dat", application.matchCameraForVideo(1920, 1080));
    // 5:4 is nearer to 4:3 than to 16:9.
    EXPECT_EQ("normal.dat", application.matchCameraForVideo(1280, 1024));

    ASSERT_TRUE(application.setVideoConfiguration("same-aspect.xml"));
    EXPECT_EQ("small.dat", application.matchCameraForVideo(640, 480));
    EXPECT_EQ("small.dat", application.matchCameraForVideo(320, 240));
}

TEST(FileResolution, TemporaryDirectoryFirstThenWorkingDirectoryAndFailuresKeepTheFile)
{
    TemporaryFolder working, temporary, elsewhere;
    working.write("video.xml", videoSettings("<format name=\"4:3\" width=\"640\" height=\"480\"/>",
                                             "<camera name=\"c\" format=\"4:3\" path=\"camera.dat\"/>"));
    temporary.write("markers.xml", "<markers patterns_file=\"patterns.dat\">"
                                   "<marker id=\"1\" type=\"single\" path=\"m.patt\"/></markers>");
    for (const TemporaryFolder* directory : {&working, &temporary})
        directory->write("both.dat", "0\n");
    working.write("working-only.dat", "0\n");
    elsewhere.write("absolute.dat", "0\n");
    ARApplication application;
    application.setWorkingDirectory(working.path());
    application.setTemporaryDirectory(temporary.path());
    // Without the settings that hold them, neither file can be set.
    application.setCameraFile("both.dat");
    application.setPatternFile("both.dat");
    EXPECT_EQ("", application.getCameraFile());
    EXPECT_EQ("", application.getPatternFile());

    ASSERT_TRUE(application.setVideoConfiguration("video.xml") &&
                application.setMarkersConfiguration("markers.xml"));
    NotifyCapture capture;
    application.setCameraFile("both.dat");
    EXPECT_EQ(temporary.file("both.dat"), application.getCameraFile());
    application.setCameraFile("working-only.dat");
    EXPECT_EQ(working.file("working-only.dat"), application.getCameraFile());
    EXPECT_FALSE(capture.printed(" WARNING: could not find specified camera file."));

    // What the user must act on: no folder holds the file, which keeps the last one found.
    application.setCameraFile("nowhere.dat");
    EXPECT_EQ(working.file("working-only.dat"), application.getCameraFile());
    EXPECT_TRUE(capture.printed(" WARNING: could not find specified camera file."));

    application.setCameraFile(elsewhere.file("absolute.dat"));
    EXPECT_EQ(elsewhere.file("absolute.dat"), application.getCameraFile());
    capture.clear();
    application.setCameraFile(elsewhere.file("missing.dat"));
    EXPECT_EQ(elsewhere.file("absolute.dat"), application.getCameraFile());
    EXPECT_TRUE(capture.printed(" WARNING: could not find specified camera file (temp dir)."));
    application.setCameraFile("");
    EXPECT_TRUE(capture.printed(" WARNING: cannot set an empty camera file name."));
    EXPECT_EQ(elsewhere.file("absolute.dat"), application.getCameraFile());

    // The pattern file is looked for the same way (the same code), with messages of its own.
    application.setPatternFile("both.dat");
    EXPECT_EQ(temporary.file("both.dat"), application.getPatternFile());
    application.setPatternFile("nowhere.dat");
    EXPECT_TRUE(capture.printed(" WARNING: could not find specified pattern file."));
    EXPECT_EQ(temporary.file("both.dat"), application.getPatternFile());
}

TEST(TrackerSetup, MissingPatternFailsOneEntryAndTheNextIsStillAdded)
{
    NOVARO_REQUIRE_DISPLAY();
    enterRunDirectory();
    TemporaryFolder temporary;
    temporary.write("patterns.dat", "0\n");
    temporary.write(
        "markers.xml",
        "<markers patterns_file=\"patterns.dat\" transforms_file=\"\">"
        "<marker name=\"lost\" tag=\"lost\" id=\"7\" type=\"single\" path=\"missing.patt\" size=\"80\"/>"
        "<marker name=\"found\" tag=\"found\" id=\"9\" type=\"single\" path=\"" +
            samplePath("patterns/marker_2.patt") + "\" size=\"80\"/></markers>");
    ARApplication application;
    NotifyCapture capture;
    ASSERT_TRUE(loadSampleSettings(application, temporary.path()) && initWithRecordedCamera(application));
    EXPECT_TRUE(capture.printed(" ERROR: could not find a valid pattern file (" +
                                temporary.file("missing.patt") + ")."));
    ASSERT_EQ((std::vector<unsigned int>{9}), markerIds(application));
    const ARMarkerNode* node = application.getMarkers().at(9).get();
    // The tracker's index counts the markers it took, the entry position those of the file.
    EXPECT_EQ(0, node->getTrackerIndex());
    EXPECT_EQ(1, node->getEntryPosition());
    EXPECT_EQ(application.getTracker()->getMarker(0), node->getMarker());
}

TEST(TrackerSetup, ThresholdOperationsGoThroughTheTrackerField)
{
    NOVARO_REQUIRE_DISPLAY();
    enterRunDirectory();
    ARApplication application;
    ASSERT_TRUE(loadSampleSettings(application, samplesDirectory()));
    application.getTrackerConfiguration()->setThreshold(80);
    application.getTrackerConfiguration()->setAdaptiveThreshold(false);
    {
        ARApplication withoutTracker;
        withoutTracker.increaseThreshold(5);
        EXPECT_EQ(-1, withoutTracker.getThreshold());
    }
    ASSERT_TRUE(initWithRecordedCamera(application));
    // The settings chose one grey level for the whole frame.
    osgART::TypedField<bool>* adaptive =
        dynamic_cast<osgART::TypedField<bool>*>(application.getTracker()->get("adaptive_threshold"));
    osgART::TypedField<int>* field =
        dynamic_cast<osgART::TypedField<int>*>(application.getTracker()->get("threshold"));
    ASSERT_TRUE(adaptive && field);
    EXPECT_FALSE(adaptive->get());
    EXPECT_EQ(80, application.getThreshold());

    // (The steps and the reset, shown as the tracker keeps them: the keyboard modes tests.) The
    // application does not clamp; it reports what the tracker kept.
    application.increaseThreshold(200);
    EXPECT_EQ(255, field->get());
}
