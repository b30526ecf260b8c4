// A movie standing in for the camera (-file=...) that is cut shorter on disk while it plays is a
// camera that stopped sending frames: reported once, visibly, with the file and the reason, and its
// last image stays.
#include "CaptureVideo.h"
#include "CaptureWaiting.h"
#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using NovaroTest::updateUntil;

TEST(CameraMovie, CutShorterWhilePlayingIsReportedOnceAndItsLastImageStays)
{
    NovaroTest::TemporaryFolder folder;
    // Busy pictures, so that the file is far larger than what FFmpeg reads ahead.
    const std::string path = folder.file("camera.mkv");
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=4 "
        "-c:v mpeg4 -q:v 2 " +
        path + " </dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const auto size = std::filesystem::file_size(path);
    ASSERT_GT(size, 400000u);

    osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
    video->getVideoConfiguration()->deviceconfig = "-file=" + path;
    NovaroTest::NotifyCapture console(osg::FATAL);
    ASSERT_TRUE(video->open());
    video->start();
    ASSERT_TRUE(updateUntil(*video, [&] { return video->getFrameNumber() > 5; }));
    std::filesystem::resize_file(path, size / 4);

    ASSERT_TRUE(updateUntil(*video, [&] { return !video->getProblem().empty(); }))
        << "still playing at frame " << video->getFrameNumber();
    // The last movie picture stays (not the dark placeholder), and nothing follows it. A frame
    // published just before the loss is taken first.
    video->update();
    const unsigned int lastFrame = video->getFrameNumber();
    const std::string picture(reinterpret_cast<const char*>(video->data()), video->getTotalSizeInBytes());
    video->update();
    EXPECT_EQ(lastFrame, video->getFrameNumber());
    EXPECT_EQ(320, video->s());
    EXPECT_NE(std::string::npos, picture.find_first_not_of(picture[0]));
    video->close(true);

    const std::string reason = "video file " + path + ": the file was cut from " + std::to_string(size) +
                               " to " + std::to_string(size / 4) + " bytes while playing";
    EXPECT_EQ(reason, video->getProblem());
    EXPECT_EQ(1, console.count("WARNING: camera image lost: " + reason)) << console.text();
    EXPECT_EQ(1u, console.lines().size()) << console.text();
}
