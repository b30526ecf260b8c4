// The rendering set-up of a real application on the sample scene: render target, debug mode,
// small-feature culling and the full-screen toggle, with a real window under X. Then the
// multisampling choice against what the display really offers, and the size of the render target.
// Xvfb's GLX has multisample visuals with 2 and 4 samples only, so the fallback runs for real.
// Then the tracker set-up: calibration choice by aspect, camera and pattern file
// resolution, markers from the markers settings, and the threshold through the real tracker.
// Last, clipping as the user sees it: a real application runs a closed block on marker 1 (marker 2 in
// view too) from a still camera frame, then the clipping operations are driven directly and the
// window is read back at points of the block projected through the tracked pose.
#include "SampleApplication.h"
#include "SampleScene.h"

#include "NotifyCapture.h"
#include "app/ARViewer.h"
#include "app/RenderTextureSize.h"
#include "effects/ARClippingManager.h"
#include "effects/HUD.h"
#include "effects/TextPanel.h"
#include "settings/TrackerData.h"
#include "tracking/ARMarkerNode.h"

#include <gtest/gtest.h>
#include <osg/CullSettings>
#include <osg/Geode>
#include <osg/Material>
#include <osg/ShapeDrawable>
#include <osg/Texture2D>
#include <osg/io_utils>
#include <osgDB/WriteFile>

#include <memory>

#include "osgART/GenericTracker.h"
#include "osgART/GenericVideo.h"
#include "osgART/Marker.h"
#include "osgART/VideoLayer.h"

using namespace Novaro;
using namespace NovaroTest;

namespace
{

class SampleApplication : public SampleApplicationTest
{
protected:
    bool smallFeatureCulling() const
    {
        return (application.getARCamera()->getCullingMode() & osg::CullSettings::SMALL_FEATURE_CULLING) != 0;
    }
};

// x, y, width and height.
osg::Vec4i rectangleOf(osgViewer::GraphicsWindow* window)
{
    osg::Vec4i rectangle(-1, -1, -1, -1);
    window->getWindowRectangle(rectangle.x(), rectangle.y(), rectangle.z(), rectangle.w());
    return rectangle;
}

// The display settings are global: every test leaves them as it found them.
class Multisampling : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        enterRunDirectory();
        osg::DisplaySettings::instance()->setNumMultiSamples(0);
    }
    void TearDown() override { osg::DisplaySettings::instance()->setNumMultiSamples(_previousSamples); }

private:
    unsigned int _previousSamples = osg::DisplaySettings::instance()->getNumMultiSamples();
};

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

// The block: 40 units wide and high, standing on the marker's centre.
const float BLOCK_SIZE = 40.0f;

// Reads the window back after the main camera has drawn the scene's picture.
struct WindowReadBack : osg::Camera::DrawCallback
{
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::GraphicsContext::Traits* traits = renderInfo.getState()->getGraphicsContext()->getTraits();
        image->readPixels(0, 0, traits->width, traits->height, GL_RGB, GL_UNSIGNED_BYTE);
    }
    osg::ref_ptr<osg::Image> image = new osg::Image;
};

// A closed box whose faces glow blue whichever way they face, so that its inside shows as well
// as its outside.
void writeBlock(const std::string& path)
{
    osg::ref_ptr<osg::Geode> block = new osg::Geode;
    block->addDrawable(
        new osg::ShapeDrawable(new osg::Box(osg::Vec3(0.0f, 0.0f, BLOCK_SIZE / 2.0f), BLOCK_SIZE)));
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.1f, 0.2f, 0.5f, 1.0f));
    material->setEmission(osg::Material::FRONT_AND_BACK, osg::Vec4(0.0f, 0.1f, 0.5f, 1.0f));
    block->getOrCreateStateSet()->setAttributeAndModes(material.get());
    ASSERT_TRUE(osgDB::writeNodeFile(*block, path));
}

const char* const BLOCK_SCENE =
    "<scene name=\"clipping\" authoring_software=\"3dsmax\"><objects>"
    "<object name=\"block\" type=\"ARObject\"><model source=\"models/block.osgt\"/>"
    "<markers all=\"false\"><marker id=\"1\" layer=\"0\"/></markers></object>"
    "</objects></scene>";

class ClippedBlock : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NOVARO_REQUIRE_DISPLAY();
        // Markers 1 and 2 facing the camera, large enough for the block to cover many pixels.
        scene = std::make_unique<SampleScene>(
            "--pattern patterns/marker_1.patt --pattern patterns/marker_2.patt --markers 2 --size 80 "
            "--min-width 120 --max-width 130 --max-tilt 0 --no-clutter --seed 1",
            2);
        const TemporaryFolder& folder = scene->directory();
        folder.write("scene.xml", BLOCK_SCENE);
        stillFrameWithoutSmoothing(*scene);
        writeBlock(folder.file("models/block.osgt"));

        enterRunDirectory();
        ASSERT_TRUE(loadSampleSettings(application, folder.path(), folder.path()) &&
                    initWithRecordedCamera(application, scene->frame()));
        application.loadSceneObjects();
        ASSERT_EQ(1u, application.getObjectCount());
        application.showStatusMessage("Starting...");
    }

    // Runs the player's loop long enough for the markers to be accepted, then keeps drawing
    // frames by hand: the still camera frame is tracked once and stays detected.
    void runUntilTracked()
    {
        application.setMaxFrames(5);
        application.run();
        ASSERT_NE(nullptr, application.getClippingManager());
        readBack = new WindowReadBack;
        application.getViewer()->getCamera()->setFinalDrawCallback(readBack.get());
    }

    osg::ref_ptr<osg::Image> shot()
    {
        application.getViewer()->frame();
        application.getViewer()->frame();
        return new osg::Image(*readBack->image, osg::CopyOp::DEEP_COPY_ALL);
    }

    ARMarkerNode* marker(unsigned int id) { return application.getMarkers().at(id).get(); }

    // The window pixel (from the bottom left) where a point of marker 1 is drawn.
    osg::Vec3i pixel(const osg::Image& image, const osg::Vec3d& point)
    {
        const osg::Vec4d clip = osg::Vec4d(point, 1.0) * marker(1)->getTrackedTransform()->getMatrix() *
                                application.getARCamera()->getProjectionMatrix();
        const int x = static_cast<int>((clip.x() / clip.w() + 1.0) * 0.5 * image.s());
        const int y = static_cast<int>((clip.y() / clip.w() + 1.0) * 0.5 * image.t());
        EXPECT_TRUE(x >= 0 && y >= 0 && x < image.s() && y < image.t()) << point.x() << " " << point.y();
        const unsigned char* data =
            image.data(std::clamp(x, 0, image.s() - 1), std::clamp(y, 0, image.t() - 1));
        return osg::Vec3i(data[0], data[1], data[2]);
    }

    // True when the two pictures show nearly the same colour at the point.
    bool same(const osg::Image& a, const osg::Image& b, const osg::Vec3d& point)
    {
        const osg::Vec3i difference = pixel(a, point) - pixel(b, point);
        return std::abs(difference.x()) + std::abs(difference.y()) + std::abs(difference.z()) < 30;
    }

    bool red(const osg::Image& image, const osg::Vec3d& point)
    {
        const osg::Vec3i colour = pixel(image, point);
        return colour.x() > 200 && colour.y() < 40 && colour.z() < 40;
    }

    // Draws and checks which quadrants of the block's top (x, y signs: ++, +-, -+, --) are cut
    // away (the camera shows) and which are whole.
    void expectQuadrantsGone(const std::vector<bool>& gone, const std::string& step)
    {
        const osg::ref_ptr<osg::Image> picture = shot();
        for (std::size_t quadrant = 0; quadrant < 4; ++quadrant)
        {
            const osg::Vec3d point(quadrant < 2 ? 12 : -12, quadrant % 2 ? -12 : 12, BLOCK_SIZE);
            EXPECT_TRUE(same(*picture, gone[quadrant] ? *empty : *plain, point)) << step << ", " << quadrant;
        }
    }

    std::unique_ptr<SampleScene> scene;
    ARApplication application;
    osg::ref_ptr<WindowReadBack> readBack;
    osg::ref_ptr<osg::Image> plain, empty;
};

} // namespace

TEST_F(SampleApplication, RenderTargetHasTheScreenSizeWithNonPowerOfTwoTextures)
{
    ASSERT_TRUE(application.hasNPOT());
    const osg::Vec2i screen(application.getViewer()->getScreenWidth(),
                            application.getViewer()->getScreenHeight());
    ASSERT_TRUE(screen.x() > 0 && screen.y() > 0);
    EXPECT_EQ(screen, osg::Vec2i(application.getTextureWidth(), application.getTextureHeight()));

    application.createRenderingPipeline();
    const osg::Texture2D* colour = application.getColourTexture();
    ASSERT_TRUE(colour && application.getARCamera() && application.getARCamera()->getViewport());
    EXPECT_EQ(screen, osg::Vec2i(colour->getTextureWidth(), colour->getTextureHeight()));
    const osg::Viewport* viewport = application.getARCamera()->getViewport();
    EXPECT_EQ(screen, osg::Vec2i(viewport->width(), viewport->height()));
}

TEST_F(SampleApplication, DebugModeSwapsVideoAndDebugImageAndKeepsTheContent)
{
    osg::Switch* debugSwitch = application.getDebugSwitch();
    ASSERT_TRUE(debugSwitch && debugSwitch->getNumChildren() == 3u) << "debug image, video, content";
    osgART::VideoLayer* debugImageLayer = dynamic_cast<osgART::VideoLayer*>(debugSwitch->getChild(0));
    osgART::VideoLayer* videoLayer = dynamic_cast<osgART::VideoLayer*>(debugSwitch->getChild(1));
    ASSERT_TRUE(debugImageLayer && videoLayer);
    EXPECT_EQ(application.getVideo(), videoLayer->getImage());
    EXPECT_NE(application.getVideo(), debugImageLayer->getImage());
    EXPECT_EQ(application.getContentGroup(), debugSwitch->getChild(2));

    // The sample configuration has debug off; the switch shows the video or the debug image, and
    // the content always.
    auto shown = [&]() {
        return std::vector<bool>{debugSwitch->getValue(0), debugSwitch->getValue(1),
                                 debugSwitch->getValue(2)};
    };
    EXPECT_FALSE(application.getDebug());
    EXPECT_EQ((std::vector<bool>{false, true, true}), shown());
    NotifyCapture capture;
    application.toggleDebugMode();
    EXPECT_TRUE(application.getDebug());
    EXPECT_EQ((std::vector<bool>{true, false, true}), shown());
    EXPECT_TRUE(capture.printed("Switching debug mode...ON"));
    application.toggleDebugMode();
    EXPECT_EQ((std::vector<bool>{false, true, true}), shown());
    EXPECT_TRUE(capture.printed("Switching debug mode...OFF"));
}

TEST_F(SampleApplication, SmallFeatureCullingStaysBetweenZeroAnd256AndNeedsTheARCamera)
{
    ASSERT_EQ(nullptr, application.getARCamera());
    application.setSmallFeatureCullingPixelSize(7.0f);
    application.increaseSmallFeatureCulling(100.0f);
    application.decreaseSmallFeatureCulling(1.0f);
    application.resetSmallFeatureCulling();
    EXPECT_EQ(7.0f, application.getSmallFeatureCullingPixelSize());
    application.setSmallFeatureCullingPixelSize(0.0f);

    application.createRenderingPipeline();
    osg::Camera* camera = application.getARCamera();
    ASSERT_NE(nullptr, camera);
    // A new camera culls small features by default; the reset takes that away.
    application.resetSmallFeatureCulling();
    EXPECT_FALSE(smallFeatureCulling());
    EXPECT_TRUE(camera->getCullingMode() & osg::CullSettings::VIEW_FRUSTUM_SIDES_CULLING);

    application.increaseSmallFeatureCulling(100.0f);
    EXPECT_TRUE(smallFeatureCulling());
    application.increaseSmallFeatureCulling(100.0f);
    application.increaseSmallFeatureCulling(100.0f);
    EXPECT_EQ(256.0f, camera->getSmallFeatureCullingPixelSize());
    application.decreaseSmallFeatureCulling(500.0f);
    EXPECT_EQ(0.0f, application.getSmallFeatureCullingPixelSize());
    EXPECT_FALSE(smallFeatureCulling());
    application.increaseSmallFeatureCulling(50.0f);
    application.resetSmallFeatureCulling();
    EXPECT_EQ(0.0f, application.getSmallFeatureCullingPixelSize());
    EXPECT_FALSE(smallFeatureCulling());
}

TEST_F(SampleApplication, FullScreenTogglesBetweenTheScreenAndACentredHalfSizeWindow)
{
    ARViewer* viewer = application.getViewer();
    application.setTitle("Novaro(TM) Plugin (Professional)");
    application.createRenderingPipeline();
    viewer->realize();
    viewer->frame();
    osgViewer::ViewerBase::Windows windows;
    viewer->getWindows(windows);
    ASSERT_EQ(1u, windows.size());
    osgViewer::GraphicsWindow* window = windows.front();
    const int width = viewer->getScreenWidth();
    const int height = viewer->getScreenHeight();
    ASSERT_TRUE(width > 0 && height > 0);
    const osg::Vec4i wholeScreen(0, 0, width, height);

    // The single-screen view starts covering the screen.
    EXPECT_TRUE(viewer->isFullscreen());
    EXPECT_EQ(wholeScreen, rectangleOf(window));

    // Positions are checked as asked for, before X answers: without a window manager this
    // OpenSceneGraph build then reports them doubled, though the window sits where it was asked to.
    viewer->toggleFullscreen();
    EXPECT_FALSE(viewer->isFullscreen());
    EXPECT_EQ(osg::Vec4i(width / 4, height / 4, width / 2, height / 2), rectangleOf(window));
    EXPECT_TRUE(window->getWindowDecoration());
    EXPECT_EQ(application.getTitle(), window->getWindowName());

    viewer->frame();
    EXPECT_EQ(osg::Vec2i(width / 2, height / 2),
              osg::Vec2i(viewer->getWindowWidth(), viewer->getWindowHeight()));
    // The screen is still the screen, whatever the window.
    EXPECT_EQ(osg::Vec2i(width, height), osg::Vec2i(viewer->getScreenWidth(), viewer->getScreenHeight()));

    viewer->toggleFullscreen();
    EXPECT_TRUE(viewer->isFullscreen());
    EXPECT_EQ(wholeScreen, rectangleOf(window));
    EXPECT_FALSE(window->getWindowDecoration());
    viewer->frame();
    EXPECT_EQ(wholeScreen, rectangleOf(window));
}

TEST_F(Multisampling, EightSamplesFallBackToFour)
{
    ARApplication application;
    ASSERT_TRUE(application.setConfiguration(samplePath("config.xml")));
    ConfigurationData* configuration = application.getConfiguration();
    configuration->setUseAntialiasing(true);
    configuration->setAntialiasingSamples(8);

    NotifyCapture capture;
    ASSERT_TRUE(application.initGraphics(0, nullptr) && application.hasMultisampling());
    // Refused once by the set-up; the viewer then starts at the value that worked.
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (8) NOT supported on this hardware..."));
    EXPECT_FALSE(capture.printed(" WARNING: Multisampling value (4) NOT supported on this hardware..."));
    EXPECT_TRUE(capture.printed(" Multisampling at: 4"));
    EXPECT_TRUE(capture.printed(" Multisampling value: 4"));
    EXPECT_FALSE(capture.printed(" WARNING: Antialiasing NOT supported on this hardware."));
    EXPECT_TRUE(configuration->getUseAntialiasing());
    EXPECT_EQ(4, configuration->getAntialiasingSamples());
    EXPECT_EQ(4u, osg::DisplaySettings::instance()->getNumMultiSamples());
}

TEST_F(Multisampling, ViewerRejectsCountsThatAreNoPowerOfTwo)
{
    osg::ref_ptr<ARViewer> viewer = new ARViewer;
    NotifyCapture capture;
    viewer->setMultisampling(true, 6);
    EXPECT_TRUE(capture.printed(" WARNING: Antialiasing value not valid. Disabling antialiasing."));
    EXPECT_EQ(0u, osg::DisplaySettings::instance()->getNumMultiSamples());

    capture.clear();
    viewer->setMultisampling(false, 4);
    EXPECT_EQ("", capture.text());
    EXPECT_EQ(0u, osg::DisplaySettings::instance()->getNumMultiSamples());

    // The viewer halves on its own as well, probing what the display offers (no count is no
    // multisampling).
    EXPECT_FALSE(viewer->testMultisample(0));
    capture.clear();
    viewer->setMultisampling(true, 16);
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (16) NOT supported on this hardware..."));
    EXPECT_EQ(1, capture.count(" WARNING: Multisampling value (8) NOT supported on this hardware..."));
    EXPECT_FALSE(capture.printed(" WARNING: Multisampling value (4) NOT supported on this hardware..."));
    EXPECT_TRUE(capture.printed(" Multisampling value: 4"));
    EXPECT_EQ(4u, osg::DisplaySettings::instance()->getNumMultiSamples());
}

TEST(RenderTextureSize, ScreenSizeWithNonPowerOfTwoTexturesElseThePowerOfTwoAbove)
{
    EXPECT_EQ(1280, renderTextureSize(1280, true));
    EXPECT_EQ(2048, renderTextureSize(1280, false));
    // Strictly above: a power of two itself still doubles.
    EXPECT_EQ(2048, renderTextureSize(1024, false));
    EXPECT_EQ(1024, renderTextureSize(1023, false));
    EXPECT_EQ(1, renderTextureSize(0, false));
}

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

TEST_F(ClippedBlock, PlanesCutTheBlockAndCappingFillsTheSection)
{
    // Nothing detected yet: the console and the status text, the last panel, say so.
    NotifyCapture console;
    application.setClippingEnabled(true);
    EXPECT_TRUE(console.printed("WARNING: cannot set clipping (no active markers)."));
    HUD* status = application.getHUD().getHUD(static_cast<int>(application.getHUD().getNumHUDs()) - 1);
    ASSERT_TRUE(status && status->isShown());
    EXPECT_EQ("WARNING: cannot activate clipping (no active markers found).",
              status->getTextPanel()->getText());

    runUntilTracked();
    ASSERT_TRUE(marker(1)->getMarker()->valid() && marker(2)->getMarker()->valid());
    ARClippingManager* manager = application.getClippingManager();
    EXPECT_EQ(0u, manager->getNumParents());
    plain = shot();
    marker(1)->getContentGroup()->setNodeMask(0);
    empty = shot();
    marker(1)->getContentGroup()->setNodeMask(~0u);
    const osg::Vec3d topCentre(0, 0, BLOCK_SIZE);
    ASSERT_FALSE(same(*plain, *empty, topCentre)) << "the block is not where the test looks";

    // With both markers seen, the lower ID gets the manager.
    application.setClippingEnabled(true);
    EXPECT_EQ(marker(1), application.getClippingMarker());
    expectQuadrantsGone({false, false, false, false}, "no plane");
    manager->setPlaneActive(true, 0);
    manager->selectPlane(0);
    manager->movePlane(-40.0f);
    expectQuadrantsGone({true, true, false, false}, "right plane in the middle");
    manager->rotatePlane(90.0f);
    expectQuadrantsGone({true, false, true, false}, "turned a quarter about the vertical");
    manager->movePlane(30.0f);
    expectQuadrantsGone({false, false, false, false}, "moved out along its turned normal");

    // Capping leaves a whole block as it is; once the top is cut off, the inside is red.
    manager->setPlaneActive(false, 0);
    manager->setPlaneActive(true, 4);
    manager->toggleCapping();
    expectQuadrantsGone({false, false, false, false}, "capping, top plane at the box top");
    manager->selectPlane(4);
    manager->movePlane(BLOCK_SIZE / 2.0f - 80.0f);
    const osg::ref_ptr<osg::Image> capped = shot();
    for (const osg::Vec3d& point :
         {topCentre, osg::Vec3d(12, -12, BLOCK_SIZE), osg::Vec3d(-12, 12, BLOCK_SIZE)})
        EXPECT_TRUE(red(*capped, point)) << point;
    for (const NotifyCapture::Line& line : console.lines())
        EXPECT_EQ(std::string::npos, line.second.find("shader")) << line.second;

    // Without capping, the inside of the block shows through the cut.
    manager->toggleCapping();
    const osg::ref_ptr<osg::Image> open = shot();
    EXPECT_FALSE(red(*open, topCentre));
    EXPECT_FALSE(same(*open, *plain, topCentre));
    EXPECT_FALSE(same(*open, *empty, topCentre));

    // The shown plane: a half-transparent green square over what lies behind it.
    const osg::Vec3d besideBlock(30, 30, BLOCK_SIZE / 2.0f);
    manager->showPlanes(true);
    const osg::Vec3i behind = pixel(*empty, besideBlock), seen = pixel(*shot(), besideBlock);
    EXPECT_NEAR(behind.x() / 2, seen.x(), 12);
    EXPECT_NEAR(127 + behind.y() / 2, seen.y(), 12);
    EXPECT_NEAR(behind.z() / 2, seen.z(), 12);

    application.setClippingEnabled(false);
    expectQuadrantsGone({false, false, false, false}, "clipping disabled");
}
