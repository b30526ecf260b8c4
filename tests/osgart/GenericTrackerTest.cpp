// The tracker plugin on markers of generated patterns seen through a distorted webcam-like camera:
// poses, corners, multi markers, its fields, files and debug view.
#include "NotifyCapture.h"
#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osg/Timer>
#include <osgART/InputFiles.h>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>

using namespace Novaro;

namespace
{

// Markers from generated patterns, a distorted webcam-like camera, and the tracker plugin set up
// with both.
class TrackerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tracker = NovaroTest::loadTracker();
        ASSERT_TRUE(tracker.valid());
        camera = makeDefaultCamera(640, 480, true);
        cameraFile = folder.file("camera.dat");
        ASSERT_TRUE(camera.saveBinary(cameraFile));
        patterns = makeDistinctPatterns(6, 11);
        for (size_t i = 0; i < patterns.size(); ++i)
        {
            patternFiles.push_back(folder.file("marker" + std::to_string(i) + ".patt"));
            ASSERT_TRUE(patterns[i].save(patternFiles.back()));
            PrintedMarker marker;
            marker.texture = makeMarkerImage(patterns[i], 16, 0.25);
            marker.size = 80.0;
            printed.push_back(marker);
        }
        ASSERT_TRUE(tracker->init(640, 480, cameraFile, ""));
        set("threshold", 100);
        set("imageProcMode", 0);
        set("debug", false);
        image = new osg::Image;
        tracker->setImage(image.get());
    }

    void addMarkers(size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            ASSERT_NE(tracker->addMarker("single;" + patternFiles[i] + ";80;0.0;0.0"), nullptr);
    }

    // The tracker started on an ARToolKit 4-value camera file of the given barrel distortion.
    void useRadialLens(double factor)
    {
        camera = osgART::CameraParameters::fromIntrinsics(640, 480, 560, 560, 322, 236);
        camera.setRadial4Distortion(322, 236, factor, 0.99);
        ASSERT_TRUE(camera.saveBinary(folder.file("radial.dat")));
        ASSERT_TRUE(tracker->init(640, 480, folder.file("radial.dat"), ""));
        defaultCamera = false;
        synthetic.reset();
    }

    template <typename T> void set(const std::string& name, T value)
    {
        NovaroTest::setField(*tracker, name, value);
    }

    void show(const std::vector<PlacedMarker>& placed, const std::vector<PrintedMarker>& sheets,
              unsigned seed = 5, ImagingSettings settings = ImagingSettings())
    {
        if (!synthetic || synthetic->settings().noiseSigma != settings.noiseSigma)
            synthetic = syntheticCamera(settings);
        std::mt19937 random(seed);
        synthetic->render(sheets, placed, random, frame);
        copyFrameToImage(frame, *image, true);
        tracker->update();
    }

    // The marker found, at the true pose within the given tolerances.
    static void expectPose(osgART::Marker* marker, const osg::Matrixd& truth, double degrees, double relative)
    {
        ASSERT_TRUE(marker->valid());
        EXPECT_LT(NovaroTest::rotationErrorDegrees(marker->getTransform(), truth), degrees);
        EXPECT_LT(NovaroTest::relativeTranslationError(marker->getTransform(), truth), relative);
    }

    // The marker at the pose, with the corners the camera sees it by.
    PlacedMarker posed(int marker, const osg::Matrixd& pose)
    {
        PlacedMarker placed;
        placed.marker = marker;
        placed.pose = pose;
        SyntheticCamera(camera, ImagingSettings()).describe(placed, 80.0);
        return placed;
    }
    PlacedMarker frontal(int marker, double spinDegrees, const osg::Vec3d& position)
    {
        return posed(marker, osg::Matrixd::rotate(osg::DegreesToRadians(spinDegrees), osg::Vec3d(0, 0, 1)) *
                                 osg::Matrixd::translate(position));
    }

    NovaroTest::TemporaryFolder folder;
    osg::ref_ptr<osgART::GenericTracker> tracker;
    osgART::CameraParameters camera;
    std::string cameraFile;
    std::vector<osgART::Pattern> patterns;
    std::vector<std::string> patternFiles;
    std::vector<PrintedMarker> printed;
    osg::ref_ptr<osg::Image> image;
    cv::Mat frame;
    std::shared_ptr<SyntheticCamera> synthetic;
    bool defaultCamera = true; // the camera of SetUp, unchanged

    // A synthetic camera for the camera and the imaging. Its lens map takes longer to build than
    // most tests, so those of the default camera are kept for the whole suite.
    std::shared_ptr<SyntheticCamera> syntheticCamera(const ImagingSettings& settings) const
    {
        if (!defaultCamera)
            return std::make_shared<SyntheticCamera>(camera, settings);
        static std::vector<std::shared_ptr<SyntheticCamera>> kept;
        const auto key = [](const ImagingSettings& s)
        { return std::tie(s.noiseSigma, s.blurSigma, s.lightVariation, s.clutter, s.supersampling); };
        for (const std::shared_ptr<SyntheticCamera>& each : kept)
            if (key(each->settings()) == key(settings))
                return each;
        kept.push_back(std::make_shared<SyntheticCamera>(camera, settings));
        return kept.back();
    }
};

} // namespace

TEST_F(TrackerTest, DetectsMarkersWithPosesAndCornersOfTheGroundTruth)
{
    addMarkers(4);
    const std::vector<PrintedMarker> sheets(printed.begin(), printed.begin() + 4);
    std::mt19937 random(21);
    const osg::Matrixd projection = tracker->getProjectionMatrix();
    for (int frameIndex = 0; frameIndex < 5; ++frameIndex)
    {
        const std::vector<PlacedMarker> placed =
            syntheticCamera(ImagingSettings())->placeMarkers(sheets, 4, 50, 140, 55, random);
        ASSERT_EQ(placed.size(), 4u);
        show(placed, sheets, unsigned(frameIndex));
        for (const PlacedMarker& truth : placed)
        {
            SCOPED_TRACE("frame " + std::to_string(frameIndex) + " marker " + std::to_string(truth.marker));
            osgART::Marker* marker = tracker->getMarker(truth.marker);
            expectPose(marker, truth.pose, 1.5, 0.015);
            EXPECT_GT(marker->getConfidence(), 0.8);
            // Each corner in its place: a marker read in the wrong orientation fails here at any spin.
            for (int k = 0; k < 4; ++k)
                EXPECT_LT((marker->getCorners()[size_t(k)] - truth.corners[size_t(k)]).length(), 0.6)
                    << "corner " << k;
            // Content drawn with the projection and the marker transform lands on the marker's corner.
            const osg::Vec4d clip = osg::Vec4d(40.0, 40.0, 0.0, 1.0) * marker->getTransform() * projection;
            const osg::Vec2d pixel((clip.x() / clip.w() + 1.0) * 320.0 - 0.5,
                                   (1.0 - clip.y() / clip.w()) * 240.0 - 0.5);
            const osg::Vec2d ideal = camera.observedToIdeal(truth.corners[1]);
            EXPECT_LT((pixel - ideal).length(), 1.0);
        }
    }
}

// Both modes pose the marker, corners found at half resolution scaled back to the frame's pixels; the
// debug image is the binarised frame at video size in both, and stops following the frames while
// debug is off; the fields keep their values in range. (What the levels 0 and 255 leave of a marker:
// the tracker conditions' threshold test.)
TEST_F(TrackerTest, BothModesPoseMarkersDebugImageIsTheBinarisedFrameAndFieldsStayInRange)
{
    addMarkers(1);
    set("debug", true);
    const PlacedMarker truth = frontal(0, 20.0, osg::Vec3d(30, -20, -400));
    osg::ref_ptr<osg::Image> debug;
    for (int half : {0, 1})
    {
        SCOPED_TRACE(half);
        set("imageProcMode", half);
        show({truth}, printed, unsigned(half));
        // Near-frontal markers leave their tilt weakly fixed by corners at half resolution.
        expectPose(tracker->getMarker(0), truth.pose, half ? 6.0 : 1.0, half ? 0.03 : 0.01);
        EXPECT_LT((tracker->getMarker(0)->getCorners()[0] - truth.corners[0]).length(), 1.5);
        // The video-sized binarised frame in the video's row order: the border black, the paper white.
        debug = NovaroTest::debugImage(*tracker);
        ASSERT_TRUE(debug.valid());
        EXPECT_EQ(std::make_tuple(debug->s(), debug->t(), debug->getOrigin(), debug->getPixelFormat()),
                  std::make_tuple(640, 480, osg::Image::BOTTOM_LEFT, GLenum(GL_RGB)));
        const osg::Vec2d border = truth.corners[0] * 0.9 + truth.corners[2] * 0.1;
        const osg::Vec2d paper = truth.corners[0] * 1.08 - truth.corners[2] * 0.08;
        EXPECT_EQ(*debug->data(int(border.x()), 479 - int(border.y())), 0);
        EXPECT_EQ(*debug->data(int(paper.x()), 479 - int(paper.y())), 255);
    }
    const unsigned modified = debug->getModifiedCount();
    set("debug", false);
    image->dirty();
    tracker->update();
    EXPECT_EQ(debug->getModifiedCount(), modified);

    for (const auto& [name, value, kept] : {std::tuple<const char*, int, int>{"imageProcMode", 7, 0},
                                            {"threshold", -20, 0},
                                            {"threshold", 300, 255}})
    {
        set(name, value);
        EXPECT_EQ(NovaroTest::trackerField<int>(*tracker, name)->get(), kept) << name << " " << value;
    }
}

TEST_F(TrackerTest, MultiMarkerPoseFromVisibleSubmarkers)
{
    // Three submarkers in a row; the board's frame sits at the middle one.
    std::ofstream(folder.file("board.dat")) << "# Novaro Multi Marker Setup\n# marker name: board\n3\n"
                                               "marker0.patt\n80\n1 0 0 -110\n0 1 0 0\n0 0 1 0\n"
                                               "marker1.patt\n80\n1 0 0 0\n0 1 0 0\n0 0 1 0\n"
                                               "marker2.patt\n60\n0 -1 0 110\n1 0 0 10\n0 0 1 0\n";
    osgART::Marker* board = tracker->addMarker("multi;" + folder.file("board.dat") + ";80;0.0;0.0");
    ASSERT_NE(board, nullptr);
    const osg::Matrixd boardPose = osg::Matrixd::rotate(osg::DegreesToRadians(25.0), osg::Vec3d(1, 0.3, 0)) *
                                   osg::Matrixd::rotate(osg::DegreesToRadians(10.0), osg::Vec3d(0, 0, 1)) *
                                   osg::Matrixd::translate(15.0, -10.0, -700.0);
    const osg::Matrixd toBoard[3] = {osg::Matrixd::translate(-110, 0, 0), osg::Matrixd::identity(),
                                     osg::Matrixd::rotate(osg::PI_2, osg::Vec3d(0, 0, 1)) *
                                         osg::Matrixd::translate(110, 10, 0)};
    std::vector<PrintedMarker> sheets(printed.begin(), printed.begin() + 3);
    for (size_t k = 0; k < sheets.size(); ++k)
    {
        sheets[k].margin = 0.1;
        sheets[k].texture = makeMarkerImage(patterns[k], 16, 0.1);
    }
    sheets[2].size = 60.0;
    for (const std::vector<int>& visible :
         {std::vector<int>{0, 1, 2}, std::vector<int>{0, 2}, std::vector<int>{2}})
    {
        std::vector<PlacedMarker> placed;
        for (int k : visible)
            placed.push_back(posed(k, toBoard[k] * boardPose));
        SCOPED_TRACE(std::to_string(visible.size()) + " visible");
        show(placed, sheets);
        expectPose(board, boardPose, 1.0, 0.01);
    }
    show({}, sheets);
    EXPECT_FALSE(board->valid());
}

// The same marker twice in a frame: the sighting that matches best is the one reported, whichever
// is examined first (a large one seen steeply, a small one face on).
TEST_F(TrackerTest, OfTwoSightingsOfAMarkerTheBestMatchIsReported)
{
    addMarkers(1);
    const PlacedMarker steep =
        posed(0, osg::Matrixd::rotate(osg::DegreesToRadians(76.0), osg::Vec3d(1, 0, 0)) *
                     osg::Matrixd::translate(osg::Vec3d(-60, 0, -280)));
    const PlacedMarker faceOn = frontal(0, 20.0, osg::Vec3d(110, 40, -700));
    std::vector<double> alone;
    for (const PlacedMarker& placed : {steep, faceOn})
    {
        show({placed}, printed);
        ASSERT_TRUE(tracker->getMarker(0)->valid());
        alone.push_back(tracker->getMarker(0)->getConfidence());
        show({}, printed);
    }
    // The larger sighting matches worse (0.96 against 0.99).
    ASSERT_LT(alone[0] + 0.01, alone[1]);
    show({steep, faceOn}, printed);
    EXPECT_NEAR(alone[1], tracker->getMarker(0)->getConfidence(), 0.005);
}

// The frame statistics' tracking rows: the steps of one processing, in pipeline order, each measured
// once per frame (not summed over frames), together no longer than the processing.
TEST_F(TrackerTest, StepTimesAreThoseOfTheLastProcessingAndAnImageIsProcessedOnlyWhenItChanged)
{
    addMarkers(2);
    show({frontal(0, 0.0, osg::Vec3d(-60, 0, -500)), frontal(1, 0.0, osg::Vec3d(60, 0, -500))}, printed);
    for (int repeat = 0; repeat < 3; ++repeat)
    {
        image->dirty();
        tracker->update();
    }
    image->dirty();
    const osg::Timer_t start = osg::Timer::instance()->tick();
    tracker->update();
    const double whole = osg::Timer::instance()->delta_m(start, osg::Timer::instance()->tick());
    ASSERT_TRUE(tracker->getMarker(0)->valid());
    const std::vector<osgART::GenericTracker::StageTime> steps = tracker->stageTimes();
    std::vector<std::string> names;
    double sum = 0.0;
    for (const osgART::GenericTracker::StageTime& step : steps)
    {
        names.push_back(step.name);
        EXPECT_GE(step.milliseconds, 0.0) << step.name;
        sum += step.milliseconds;
    }
    ASSERT_EQ((std::vector<std::string>{"grey", "binarise", "regions", "outlines", "identify"}), names);
    EXPECT_GT(steps[4].milliseconds, 0.0) << "two markers were identified";
    EXPECT_LE(sum, whole);

    // Only active markers are reported, and an image is processed only when it changed.
    tracker->getMarker(0)->setActive(false);
    image->dirty();
    tracker->update();
    EXPECT_FALSE(tracker->getMarker(0)->valid());
    ASSERT_TRUE(tracker->getMarker(1)->valid());
    // Blank pixels without dirty(): the frame counts as already processed.
    std::fill(image->data(), image->data() + image->getTotalSizeInBytes(), 200);
    tracker->update();
    EXPECT_TRUE(tracker->getMarker(1)->valid());
    image->dirty();
    tracker->update();
    EXPECT_FALSE(tracker->getMarker(1)->valid());
}

TEST_F(TrackerTest, InitialisationReadsCameraAndPatternFilesAndSaysWhyItRefusesOne)
{
    std::ofstream(folder.file("markers"))
        << "# two markers\n2\nfirst\nmarker0.patt\n80\n0 0\nsecond\nmarker1.patt\n40\n0 0\n";
    ASSERT_TRUE(tracker->init(1280, 960, cameraFile, folder.file("markers")));
    ASSERT_EQ(tracker->getMarkerCount(), 2u);
    EXPECT_EQ(tracker->getMarker(1)->getName(), "second");
    EXPECT_TRUE(tracker->getMarker(2) == nullptr && tracker->getMarker(-1) == nullptr);
    // Intrinsics scaled to the video: the projection is the same for a doubled frame.
    const osg::Matrixd projection = tracker->getProjectionMatrix();
    EXPECT_NEAR(projection(0, 0), 2.0 * camera.fx() / 640.0, 1e-9);

    // A markers file that is not there leaves the tracker without markers, not without a camera.
    ASSERT_TRUE(tracker->init(640, 480, cameraFile, folder.file("not-there")));
    EXPECT_EQ(tracker->getMarkerCount(), 0u);
    // The player shows fatal lines only: each reason for a refusal must be one, naming the file.
    NovaroTest::NotifyCapture console(osg::FATAL);
    std::ofstream(folder.file("bad")) << "1\nfirst\nnowhere.patt\n80\n0 0\n";
    EXPECT_FALSE(tracker->init(640, 480, cameraFile, folder.file("bad")));
    const std::string nowhere = folder.file("nowhere.patt");
    const std::string noCamera = folder.file("no-camera.dat");
    EXPECT_FALSE(tracker->init(640, 480, noCamera, ""));
    for (const std::string& said :
         {"has no usable pattern " + nowhere + " (cannot read pattern file " + nowhere,
          "osgART: cannot use camera file \"" + noCamera + "\": "})
        EXPECT_NE(console.text().find(said), std::string::npos) << console.text();
    EXPECT_FALSE(tracker->init(640, 480, "", "") || tracker->init(100000, 100000, cameraFile, "") ||
                 tracker->init(osgART::kMaximumImageSide + 1, 480, cameraFile, ""));

    ASSERT_TRUE(tracker->init(640, 480, cameraFile, ""));
    std::ofstream(folder.file("short.patt")) << "0 0 0\n";
    for (const std::string& refused :
         {"single;" + folder.file("nowhere.patt"), "multi;" + folder.file("nowhere.dat"),
          "square;" + patternFiles[0], "single;" + folder.file("short.patt")})
        EXPECT_EQ(tracker->addMarker(refused + ";80;0.0;0.0"), nullptr) << refused;
    EXPECT_TRUE(console.printed("osgART: pattern file " + folder.file("short.patt") + " ends early"));
    EXPECT_EQ(tracker->getMarkerCount(), 0u);
    // The type is read whatever its case; the marker is named after its whole pattern file name.
    std::filesystem::copy_file(patternFiles[0], folder.file("patt.hiro"));
    ASSERT_NE(tracker->addMarker("SINGLE;" + folder.file("patt.hiro") + ";80;0.0;0.0"), nullptr);
    EXPECT_TRUE(tracker->getMarkerCount() == 1u && tracker->getMarker(0)->getName() == "patt.hiro");
}

TEST(PluginLoading, MissingOrBrokenModulesAreReportedAsFailures)
{
    NovaroTest::usePluginFolder();
    osgART::PluginManager* manager = osgART::PluginManager::instance();
    EXPECT_FALSE(manager->load("osgart_no_such_plugin"));
    EXPECT_FALSE(manager->load(""));
    EXPECT_EQ(manager->get("no_such_registration"), nullptr);
    // A file of the right name that is no shared library.
    NovaroTest::TemporaryFolder folder;
    std::ofstream(folder.file("osgart_broken.so")) << "not a library";
    osgDB::Registry::instance()->getLibraryFilePathList().push_back(folder.path());
    EXPECT_FALSE(manager->load("osgart_broken"));
    EXPECT_TRUE(manager->load("osgart_tracker_artoolkit4"));
    EXPECT_TRUE(manager->load("osgart_tracker_artoolkit4"));
    EXPECT_NE(dynamic_cast<osgART::GenericTracker*>(manager->get("tracker_artoolkit4")), nullptr);
    EXPECT_EQ(dynamic_cast<osgART::GenericVideo*>(manager->get("tracker_artoolkit4")), nullptr);
}

TEST_F(TrackerTest, LensesSendingCornersToInfinityFourFactorLensesCentreOffsetAndTiltedMarkersInTheCorners)
{
    // Set directly, as no camera file may carry them any more: every observed point maps to an ideal
    // point at infinity or NaN, and back.
    std::vector<osgART::CameraParameters> lenses(3, camera);
    lenses[0].setRadial4Distortion(320.0, 240.0, 30.0, 1e-300);
    lenses[1].setRadial4Distortion(1e300, 240.0, 30.0, 0.98);
    lenses[2].setBrownDistortion(0.0, 0.0, 0.0, 0.0, 1e-300, 1e-300, 320.0, 240.0, 1e-300);
    show({frontal(0, 10.0, osg::Vec3d(0, 0, -400))}, printed);
    cv::Mat grey;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    for (const osgART::CameraParameters& lens : lenses)
    {
        osgART::SquareMarkerDetector detector = NovaroTest::detectorFor(lens, {patterns[0]});
        const std::vector<osgART::DetectedSquare> detections = NovaroTest::detectIn(detector, grey);
        EXPECT_GT(detector.candidateCount(), 0u);
        for (const osgART::DetectedSquare& detection : detections)
            for (const osg::Vec2d& corner : detection.observed)
                EXPECT_TRUE(std::isfinite(corner.x()) && std::isfinite(corner.y()));
    }

    // The same pipeline through an ARToolKit 4-value camera file, barrel distortion included.
    ASSERT_NO_FATAL_FAILURE(useRadialLens(60.0));
    ASSERT_NE(tracker->addMarker("single;" + patternFiles[0] + ";80;0.0;0.0"), nullptr);
    ASSERT_NE(tracker->addMarker("single;" + patternFiles[0] + ";80;20.0;-10.0"), nullptr);
    PlacedMarker truth =
        frontal(0, 30.0, osg::Vec3d(150.0, 90.0, -500.0)); // off-centre, where distortion is strong
    show({truth}, printed);
    osgART::Marker *centred = tracker->getMarker(0), *offset = tracker->getMarker(1);
    expectPose(centred, truth.pose, 1.0, 0.01);
    ASSERT_TRUE(offset->valid());
    for (int k = 0; k < 4; ++k)
        EXPECT_LT((centred->getCorners()[size_t(k)] - truth.corners[size_t(k)]).length(), 0.5);
    // The pattern's centre sits at (20, -10) in the offset marker's coordinates.
    const osg::Vec3d patternCentre = osg::Vec3d(20.0, -10.0, 0.0) * offset->getTransform();
    EXPECT_LT((patternCentre - truth.pose.getTrans()).length(), 0.01 * truth.pose.getTrans().length());

    // Close, tilted markers in the corners of a strongly distorting lens: the lens bends their sides
    // most there, and the first look at a candidate samples it through its rough corners without the
    // lens.
    ASSERT_NO_FATAL_FAILURE(useRadialLens(90.0));
    addMarkers(1);
    unsigned seed = 40;
    for (const double x : {-135.0, 135.0})
        for (const double y : {-85.0, 85.0})
        {
            SCOPED_TRACE(std::to_string(x) + ", " + std::to_string(y));
            const PlacedMarker tilted =
                posed(0, osg::Matrixd::rotate(osg::DegreesToRadians(25.0 + x / 10.0), osg::Vec3d(0, 0, 1)) *
                             osg::Matrixd::rotate(osg::DegreesToRadians(35.0),
                                                  osg::Vec3d(x, y, 0.0) ^ osg::Vec3d(0, 0, 1)) *
                             osg::Matrixd::translate(x, y, -340.0));
            show({tilted}, printed, ++seed);
            expectPose(tracker->getMarker(0), tilted.pose, 1.5, 0.02);
        }
}

// The debug view outlines every candidate: an identified marker in green with its index and
// confidence, a marker whose pattern is not loaded (a candidate no pattern takes) in red.
TEST_F(TrackerTest, DebugViewOutlinesIdentifiedAndRejectedCandidates)
{
    addMarkers(2);
    set("debug", true);
    ImagingSettings plain;
    plain.clutter = false;
    synthetic = syntheticCamera(plain);
    const PlacedMarker known = frontal(1, 10.0, osg::Vec3d(-90.0, 0.0, -450.0));
    const PlacedMarker unknown = frontal(5, -15.0, osg::Vec3d(90.0, 0.0, -450.0));
    show({known, unknown}, printed, 5, plain);
    ASSERT_TRUE(tracker->getMarker(1)->valid());
    const osg::ref_ptr<osg::Image> debug = NovaroTest::debugImage(*tracker);
    ASSERT_TRUE(debug.valid() && debug->getPixelFormat() == GL_RGB);
    // The view upright, as the camera saw it.
    cv::Mat view(debug->t(), debug->s(), CV_8UC3, debug->data(), debug->getRowStepInBytes());
    cv::flip(view, view, 0);
    // Pixels of the colour in the box of that size centred on the point.
    const auto coloured =
        [&view](const osg::Vec2d& at, const cv::Vec3b& colour, int width = 5, int height = 5)
    {
        cv::Mat hits;
        const cv::Rect box(int(at.x()) - width / 2, int(at.y()) - height / 2, width, height);
        cv::inRange(view(box), colour, colour, hits);
        return cv::countNonZero(hits);
    };
    const cv::Vec3b green(0, 220, 0), red(255, 40, 40);
    const auto middle = [](const PlacedMarker& m, size_t a, size_t b)
    { return (m.corners[a] + m.corners[b]) * 0.5; };
    for (size_t side = 0; side < 4; ++side)
        for (const auto& [marker, colour, other] :
             {std::make_tuple(known, green, red), std::make_tuple(unknown, red, green)})
        {
            const osg::Vec2d at = middle(marker, side, (side + 1) % 4);
            EXPECT_TRUE(coloured(at, colour) > 0 && coloured(at, other) == 0) << "side " << side;
        }
    // The label "#1 0.9x" in green over the known marker's centre, none over the unknown one's.
    EXPECT_GT(coloured(middle(known, 0, 2), green, 60, 16), 20);
    EXPECT_EQ(coloured(middle(unknown, 0, 2), green, 60, 16), 0);
}

TEST_F(TrackerTest, MirroredVideoIsTrackedAsTheUnmirroredSceneAndOddFramesGiveNoDetection)
{
    addMarkers(1);
    const PlacedMarker truth = frontal(0, 20.0, osg::Vec3d(-80.0, 40.0, -450.0));
    show({truth}, printed, 3);
    cv::imwrite(folder.file("still.png"), frame);
    osg::ref_ptr<osgART::GenericVideo> video = NovaroTest::loadVideo();
    ASSERT_TRUE(video.valid());
    video->getVideoConfiguration()->deviceconfig = "-file=" + folder.file("still.png");
    video->setFlip(true, true);
    ASSERT_TRUE(video->open());
    tracker->setImage(video.get());
    tracker->update();
    video->close(true);
    video->setFlip(false, false);
    expectPose(tracker->getMarker(0), truth.pose, 1.0, 0.01);

    // Odd frames give no detection and no crash.
    const PlacedMarker shown = frontal(0, 0.0, osg::Vec3d(0, 0, -400));
    // Too small for any marker, not an 8-bit frame, a flat grey one: each ends the last detection.
    const std::tuple<int, int, GLenum, GLenum> odd[] = {{3, 1, GL_RGB, GL_UNSIGNED_BYTE},
                                                        {64, 64, GL_RGB, GL_FLOAT},
                                                        {64, 64, GL_LUMINANCE, GL_UNSIGNED_BYTE}};
    for (int half : {0, 1})
        for (const auto& [width, height, format, type] : odd)
        {
            set("imageProcMode", half);
            tracker->setImage(image.get());
            show({shown}, printed);
            ASSERT_TRUE(tracker->getMarker(0)->valid());
            osg::ref_ptr<osg::Image> frame = new osg::Image;
            frame->allocateImage(width, height, 1, format, type);
            std::fill(frame->data(), frame->data() + frame->getTotalSizeInBytes(), 128);
            tracker->setImage(frame.get());
            tracker->update();
            EXPECT_FALSE(tracker->getMarker(0)->valid()) << "half " << half << ", " << width << "x" << height;
        }
}
