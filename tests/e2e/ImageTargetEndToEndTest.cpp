// An image target as a user sets one up: a printed picture named in the markers file, filmed by
// the synthetic camera into a movie with its true pose, played by the real player.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <sstream>

#include "ImageTargetScene.h"

using namespace NovaroTest;

// The sample's photograph is tracked through its recorded camera; a printed picture filmed into a
// movie carries its model in the player.
TEST(ImageTargetEndToEnd, SampleRecordedCameraShowsItsPhotographThroughoutAndAFilmedPictureItsModel)
{
    // The sample's photograph is in view in every frame of its recorded camera: it must be tracked
    // in nearly all of them, or the demo's cone would flicker.
    TemporaryFolder tracked;
    const std::string track = "cd " + quote(SAMPLES) + " && " + quote(RUN_DIRECTORY + "/novaro-track") +
                              " --camera camera_640x480.dat --marker 'image;images/fruits.jpg;160'"
                              " --input recorded/camera.mp4 > " +
                              quote(tracked.file("track.jsonl")) + " 2> " + quote(tracked.file("track.log"));
    ASSERT_EQ(0, std::system(track.c_str())) << readFile(tracked.file("track.log"));
    std::istringstream lines(readFile(tracked.file("track.jsonl")));
    int frames = 0, found = 0;
    for (std::string line; std::getline(lines, line); ++frames)
        found += line.find("\"name\":\"fruits.jpg\"") != std::string::npos ? 1 : 0;
    EXPECT_EQ(150, frames);
    EXPECT_GE(found, 145) << "of " << frames;

    NOVARO_REQUIRE_DISPLAY();
    std::vector<unsigned char> png;
    ASSERT_TRUE(cv::imencode(".png", Novaro::makePosterPicture(600, 450, 21), png));
    // The picture alone, 150 mm wide, on a cluttered desk filmed by a still camera: the frame as a
    // picture, for the comparisons, and a second of it as a movie (through the movie codec).
    const std::string filming = "--image poster.png --size 150 --markers 1 --min-width 140 --max-width 170 "
                                "--max-tilt 35 --still --seed 4";
    SampleScene scene(filming, 1, "poster.png", std::string(png.begin(), png.end()));
    const TemporaryFolder& directory = scene.directory();
    const std::string command = "cd " + quote(directory.path()) + " && " +
                                quote(RUN_DIRECTORY + "/novaro-synthcam") +
                                " --output camera.mp4 --camera camera_640x480.dat --frames 25 --fps 25 " +
                                filming + " > movie.log 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << readFile(directory.file("movie.log"));

    stillFrameWithoutSmoothing(scene);
    directory.write(
        "markers.xml",
        "<markers patterns_file=\"patterns.dat\">"
        "<marker name=\"poster\" tag=\"poster\" id=\"1\" type=\"image\" path=\"poster.png\" size=\"150\">"
        "<layers><layer id=\"0\" time=\"5\"/></layers></marker></markers>");
    writeSceneFile(directory, objectXml("cube", "models/cube.osgb"));
    const PlayerRun run = runPlayer(
        RUN_DIRECTORY, {"-working_directory", directory.path(), "-temporary_directory", directory.path(),
                        "-video_file", directory.file("camera.mp4"), "-screenshot",
                        directory.file("shot.png"), "-max_frames", "20", "-verbose"});
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_TRUE(run.printed(" Adding pattern: 0 -> OK.")) << run.output;

    // The cube stands on the picture's centre, and nothing else covers the camera's view.
    osg::ref_ptr<osg::Image> shot = scene.screenshot(), frame = scene.cameraFrame();
    ASSERT_TRUE(shot.valid() && frame.valid());
    ASSERT_EQ(1u, scene.markers().size());
    EXPECT_TRUE(contentOnMarker(*shot, *frame, scene.markers()[0]));
    EXPECT_LT(backgroundDifference(*shot, *frame, scene.markers(), false, false), 20.0);
}
