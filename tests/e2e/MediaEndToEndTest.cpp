// Movies and sounds of the sample scene as a user sees and hears them: the real player on a still
// camera frame, its screenshot, and its sound recorded by OpenAL Soft's "wave" back end.
#include "MovieWriter.h"
#include "SampleScene.h"
#include "SoundRecording.h"

#include <gtest/gtest.h>

using namespace NovaroTest;

namespace
{

// Edits one of the scene's files in place; the text to replace must be there.
void replaceInFile(const SampleScene& scene, const std::string& name, const std::string& from,
                   const std::string& to)
{
    NovaroTest::replaceInFile(scene.directory().file(name), from, to);
}

bool insideQuad(const MarkerTruth& marker, double scale, const osg::Vec2d& point)
{
    const osg::Vec2d centre = marker.centre();
    int sign = 0;
    for (int i = 0; i < 4; ++i)
    {
        const osg::Vec2d a = centre + (marker.corners[i] - centre) * scale;
        const osg::Vec2d b = centre + (marker.corners[(i + 1) % 4] - centre) * scale;
        const double cross = (b.x() - a.x()) * (point.y() - a.y()) - (b.y() - a.y()) * (point.x() - a.x());
        const int side = cross > 0 ? 1 : -1;
        if (sign != 0 && side != sign)
            return false;
        sign = side;
    }
    return true;
}

// Pixels around a marker (its quadrilateral grown by 'scale') that have a colour the camera frame
// does not have there, with their mean position in window pixels.
struct ColouredPixels
{
    int count = 0;
    osg::Vec2d centre;
};
ColouredPixels colouredAround(const osg::Image& shot, const osg::Image& frame, const MarkerTruth& marker,
                              double scale, const std::function<bool(const osg::Vec3i&)>& hasColour)
{
    ColouredPixels found;
    for (int y = 0; y < shot.t(); ++y)
        for (int x = 0; x < shot.s(); ++x)
        {
            const osg::Vec2d camera((x + 0.5) * frame.s() / shot.s(), (y + 0.5) * frame.t() / shot.t());
            if (!insideQuad(marker, scale, camera) || !hasColour(pixel(shot, x, y)) ||
                hasColour(pixel(frame, static_cast<int>(camera.x()), static_cast<int>(camera.y()))))
                continue;
            ++found.count;
            found.centre += osg::Vec2d(x, y);
        }
    if (found.count > 0)
        found.centre /= found.count;
    return found;
}

const auto discRed = [](const osg::Vec3i& c) { return c.x() > 150 && c.y() < 100 && c.z() < 100; };
const auto screenGreen = [](const osg::Vec3i& c) { return c.y() > c.x() + 60 && c.y() > c.z() + 60; };
bool colourBar(const osg::Vec3i& c)
{
    const int high = 170, low = 90;
    const int highCount = (c.x() > high) + (c.y() > high) + (c.z() > high);
    const int lowCount = (c.x() < low) + (c.y() < low) + (c.z() < low);
    return highCount >= 1 && lowCount >= 1 && highCount + lowCount == 3;
}

// The frame number of a movie that fills the window, read from the blocks across its top.
int fullWindowFrameCode(const osg::Image& shot, bool& clear)
{
    clear = true;
    const int bandCentre = shot.t() * 8 / 144; // the band is 16 of the movie's 144 rows
    return readFrameCode(
        [&](int block)
        {
            const osg::Vec3i c = pixel(shot, (2 * block + 1) * shot.s() / (2 * frameCodeBits), bandCentre);
            const int brightness = (c.x() + c.y() + c.z()) / 3;
            clear = clear && (brightness < 70 || brightness > 180);
            return brightness;
        });
}

// Each source has its own tone: the movie's beeps at 440 Hz, the chime at 660 Hz, the
// soundtrack's chord at 220 Hz. Each must stand out, in some tenth of a second, well above the
// frequencies between them (where a loaded machine's dropouts leave clicks). A loaded machine may
// also drop beeps the decoder could not deliver in time (the sound clock never waits), so one clear
// tenth is proof enough: clicks are broadband and never clear at one tone.
void expectEveryToneHeard(const SoundRecording& sound)
{
    const size_t window = static_cast<size_t>(sound.sampleRate) / 10;
    for (double hz : {440.0, 660.0, 220.0})
    {
        int clearWindows = 0;
        for (size_t first = 0; first + window <= sound.samples.size(); first += window)
        {
            const double between = std::max({sound.toneAmplitude(510.0, first, window),
                                             sound.toneAmplitude(1000.0, first, window),
                                             sound.toneAmplitude(777.0, first, window)});
            if (sound.toneAmplitude(hz, first, window) > 10.0 * between + 1e-3)
                ++clearWindows;
        }
        EXPECT_GE(clearWindows, 1) << hz << " Hz";
    }
}

// One sample scene. A run with pictures after frames 40 and 70: the keyed movie on marker 3 (its
// disc kept, its green screen cut out, its disc moving between the pictures), the tablet's movie on
// marker 2, and, recorded by OpenAL Soft's "wave" back end, the sounds of the movie, the chime and
// the soundtrack. Then the keyed movie, made to go full window when its marker is found, shows its
// frames in order over the whole window; shown at start and resigned when the marker is found, it
// leaves the scene.
TEST(MediaEndToEnd, MoviesAndSoundsPlayOverTheCameraAndAFullWindowMovieShowsItsFramesUntilResigned)
{
    NOVARO_REQUIRE_DISPLAY();
    SampleScene scene;
    // The chroma-keyed movie lying on its marker (marker 3, where the house stood), playing once.
    replaceInFile(
        scene, "scene.xml",
        "<object name=\"house\" type=\"ARObject\" is_occluder=\"false\" is_visible=\"true\" ignore=\"false\"",
        "<object name=\"house\" type=\"ARObject\" is_occluder=\"false\" is_visible=\"true\" ignore=\"true\"");
    replaceInFile(scene, "scene.xml", "<translation x=\"0\" y=\"45\" z=\"45\"/>",
                  "<translation x=\"0\" y=\"0\" z=\"0\"/>");
    replaceInFile(scene, "scene.xml", "<rotation axis=\"x\" angle=\"1.5708\"/>",
                  "<rotation axis=\"x\" angle=\"0\"/>");
    replaceInFile(scene, "scene.xml",
                  "<property name=\"loop\">true</property>\n        <property name=\"chroma_key\">",
                  "<property name=\"loop\">false</property>\n        <property name=\"chroma_key\">");
    const MarkerTruth& marker = scene.markers()[2];
    const std::string recording = scene.directory().file("sound.wav");
    const std::string configuration =
        scene.directory().write("alsoft.conf", waveRecorderConfiguration(recording));
    PlayerRun played = scene.play({"-max_frames", "70", "-screenshot_frame", "40"},
                                  {"ALSOFT_DRIVERS=wave", "ALSOFT_CONF=" + configuration});
    ASSERT_EQ(0, played.status);
    osg::ref_ptr<osg::Image> frame = scene.cameraFrame();
    ColouredPixels disc[2];
    for (int shown : {0, 1})
    {
        SCOPED_TRACE(shown == 0 ? "after frame 40" : "after frame 70");
        osg::ref_ptr<osg::Image> shot = shown == 0 ? scene.screenshot(40) : scene.screenshot();
        ASSERT_TRUE(shot.valid() && frame.valid());
        disc[shown] = colouredAround(*shot, *frame, marker, 1.5, discRed);
        const ColouredPixels green = colouredAround(*shot, *frame, marker, 1.5, screenGreen);
        EXPECT_GT(disc[shown].count, 200) << "the keyed movie's disc stays";
        EXPECT_LT(green.count, disc[shown].count / 4) << "its green screen lets the camera through";
        EXPECT_GT(colouredAround(*shot, *frame, scene.markers()[1], 1.5, colourBar).count, 500)
            << "the tablet shows its movie";
    }
    EXPECT_GT((disc[1].centre - disc[0].centre).length(), 3.0) << "the disc moves as the movie plays";

    SoundRecording sound;
    ASSERT_TRUE(sound.read(recording));
    ASSERT_GT(sound.seconds(), 1.0);
    expectEveryToneHeard(sound);

    replaceInFile(
        scene, "events/chroma_events.xml", "<command>play</command>",
        "<command>play</command>\n        <parameters/>\n      </action>\n"
        "      <action source=\"_self_\" target=\"_self_\">\n        <command>go_fullscreen</command>");
    PlayerRun fullWindow = scene.play({"-max_frames", "70", "-screenshot_frame", "40"});
    ASSERT_EQ(0, fullWindow.status);
    int codes[2] = {-1, -1};
    for (int shown : {0, 1})
    {
        SCOPED_TRACE(shown == 0 ? "after frame 40" : "after frame 70");
        osg::ref_ptr<osg::Image> shot = shown == 0 ? scene.screenshot(40) : scene.screenshot();
        ASSERT_TRUE(shot.valid());
        EXPECT_GT(backgroundDifference(*shot, *frame, {}, false, false), 60.0)
            << "the movie covers the window";
        bool clear = false;
        codes[shown] = fullWindowFrameCode(*shot, clear);
        EXPECT_TRUE(clear) << "a frame code at the top of the window";
    }
    EXPECT_GT(codes[1], codes[0]) << "later frames come later";
    EXPECT_LT(codes[1], 100);

    // Shown at start and resigned when the marker is found: the scene is back.
    replaceInFile(scene, "events/chroma_events.xml", "on_marker_detected", "on_init");
    replaceInFile(scene, "events/chroma_events.xml", "</events>",
                  "  <event name=\"on_marker_detected\">\n    <actions>\n      <action source=\"_self_\" "
                  "target=\"_self_\">\n        <command>resign_fullscreen</command>\n      </action>\n    "
                  "</actions>\n  </event>\n</events>");
    PlayerRun resigned = scene.play({"-max_frames", "40"});
    ASSERT_EQ(0, resigned.status);
    osg::ref_ptr<osg::Image> shot = scene.screenshot();
    ASSERT_TRUE(shot.valid());
    EXPECT_LT(backgroundDifference(*shot, *frame, scene.markers(), false, false), 20.0);
}

} // namespace

// A recorded camera in a run that counts frames (-frame_time) keeps step with the frames, whatever
// the machine's speed: frame N shows the N-th picture of the movie, each picture a grey that tells
// its number. (Image sequences are read by the same stepping: the video tests read them.)
TEST(MediaEndToEnd, RecordedCameraAdvancesOnePicturePerFrameWithFrameTime)
{
    NOVARO_REQUIRE_DISPLAY();
    TemporaryFolder folder;
    const std::string camera = folder.file("camera.mp4");
    ASSERT_TRUE(writeGreyRampMovie(camera, 11, 640, 480, 25));
    const PlayerRun run =
        runPlayer(RUN_DIRECTORY,
                  {"-working_directory", SAMPLES, "-temporary_directory", SAMPLES, "-video_file", camera,
                   "-frame_time", "0.04", "-max_frames", "9", "-screenshot", folder.file("shot.png"),
                   "-screenshot_frame", "1", "-screenshot_frame", "4", "-screenshot_frame", "9"},
                  {"ALSOFT_DRIVERS=null"});
    ASSERT_EQ(run.status, 0) << run.output;
    for (int frame : {1, 4, 9})
    {
        osg::ref_ptr<osg::Image> picture =
            osgDB::readImageFile(folder.file("shot-" + std::to_string(frame) + ".png"));
        ASSERT_TRUE(picture.valid()) << frame;
        const osg::Vec3i middle = pixel(*picture, picture->s() / 2, picture->t() / 2);
        EXPECT_EQ(frame - 1, frameIndexOfGrey(static_cast<unsigned char>(middle.x())))
            << "frame " << frame << " shows grey " << middle.x();
    }
}
