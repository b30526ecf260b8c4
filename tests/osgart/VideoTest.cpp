// The video plugin playing image sequences and still images, and refusing what it cannot open.
#include "CaptureWaiting.h"
#include "TestSupport.h"

#include <osgART/Field.h>
#include <osgART/InputFiles.h>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

using NovaroTest::updateUntil;

namespace
{

// Frame k: its number in the blue channel everywhere, the top row marked white.
cv::Mat numberedFrame(int k)
{
    cv::Mat frame(48, 64, CV_8UC3, cv::Scalar(40 * k + 20, 100, 100));
    frame.row(0).setTo(cv::Scalar(255, 255, 255));
    return frame;
}

int frameNumberOf(const osg::Image& image)
{
    return (image.data(10, 10)[0] - 20) / 40;
}

// Updates the video until it has published count frames more (false only when that hung).
bool waitForFrames(osgART::GenericVideo& video, unsigned count, std::vector<int>& seen)
{
    const unsigned target = video.getFrameNumber() + count;
    unsigned last = video.getFrameNumber();
    unsigned modified = video.getModifiedCount();
    return NovaroTest::stepUntil(
        [&]
        {
            video.update();
            // Each new frame marks the image modified once; no new frame changes nothing.
            EXPECT_EQ(video.getModifiedCount() - modified, video.getFrameNumber() - last);
            if (video.getFrameNumber() != last)
                seen.push_back(frameNumberOf(video));
            last = video.getFrameNumber();
            modified = video.getModifiedCount();
        },
        [&] { return video.getFrameNumber() >= target; }, std::chrono::milliseconds(1));
}

class VideoTest : public ::testing::Test
{
protected:
    // Lets time pass as frames of a second video on the sequence rather than as a fixed sleep, so
    // that a loaded machine only makes it longer: what must not move meanwhile is updated alongside.
    void letFramesPass(unsigned count)
    {
        osg::ref_ptr<osgART::CaptureVideo> witness = new osgART::CaptureVideo;
        witness->getVideoConfiguration()->deviceconfig = "-file=" + folder.file("seq%03d.png") + " -fps=100";
        ASSERT_TRUE(witness->open());
        witness->start();
        EXPECT_TRUE(updateUntil(*witness,
                                [&]
                                {
                                    video->update();
                                    return witness->getFrameNumber() > count;
                                }));
        witness->close(true);
    }

    void SetUp() override
    {
        video = NovaroTest::loadVideo();
        ASSERT_TRUE(video.valid());
        video->setFlip(false, false);
        for (int k = 0; k < 3; ++k)
            cv::imwrite(folder.file("seq" + std::to_string(1000 + k).substr(1) + ".png"), numberedFrame(k));
    }
    void TearDown() override
    {
        if (video.valid())
            video->close(true);
    }
    NovaroTest::TemporaryFolder folder;
    osg::ref_ptr<osgART::GenericVideo> video;
};

} // namespace

TEST_F(VideoTest, SequencePlaysLoopedWithRowsBottomUpWhenFlippedAndAStillImageOnce)
{
    video->getVideoConfiguration()->deviceconfig =
        "-devNum=1 -flipV -file=" + folder.file("seq%03d.png") + " -fps=10";
    video->setFlip(false, true);
    ASSERT_TRUE(video->open());
    EXPECT_EQ(std::make_tuple(64, 48, 1u, 0),
              std::make_tuple(video->getWidth(), video->getHeight(), video->getFrameNumber(),
                              frameNumberOf(*video)));
    // The file's top row is the image's last row: upright when drawn with OpenGL rows.
    EXPECT_EQ(std::make_tuple(osg::Image::BOTTOM_LEFT, 255, 100),
              std::make_tuple(video->getOrigin(), int(video->data(5, 47)[1]), int(video->data(5, 0)[1])));

    video->start();
    std::vector<int> seen;
    ASSERT_TRUE(waitForFrames(*video, 7, seen));
    video->stop();
    // Frames come in file order and start again after the last. A poll held up past a frame skips
    // it; only one held up past two (200 ms at this rate) would show a file twice.
    int previous = 0;
    for (int number : seen)
    {
        EXPECT_NE(number, previous);
        EXPECT_TRUE(number == (previous + 1) % 3 || number == (previous + 2) % 3);
        previous = number;
    }
    EXPECT_EQ(std::set<int>(seen.begin(), seen.end()).size(), 3u);
    // Stopped: after the frame captured last, nothing new arrives.
    video->update();
    const unsigned stopped = video->getFrameNumber();
    letFramesPass(5);
    EXPECT_EQ(video->getFrameNumber(), stopped);
    video->close(true);

    // A still image without flip keeps its top row first.
    video->setFlip(false, false);
    video->getVideoConfiguration()->deviceconfig = "-file=" + folder.file("seq001.png");
    ASSERT_TRUE(video->open());
    EXPECT_EQ(std::make_tuple(osg::Image::TOP_LEFT, 255, 1),
              std::make_tuple(video->getOrigin(), int(video->data(5, 0)[1]), frameNumberOf(*video)));
    video->start();
    letFramesPass(3);
    EXPECT_EQ(video->getFrameNumber(), 1u); // one frame is all a still image has
}

TEST_F(VideoTest, UnusableDeviceTextsSourcesAndOversizedImagesFailToOpenAndAQuotedFileIsOneOption)
{
    // A real image one pixel too wide, and a header claiming 60000 x 60000 (never decoded).
    ASSERT_TRUE(cv::imwrite(folder.file("wide.png"),
                            cv::Mat(16, osgART::kMaximumImageSide + 1, CV_8UC3, cv::Scalar::all(90))));
    std::ofstream(folder.file("claims.png"), std::ios::binary) << NovaroTest::pngHeader(60000, 60000);
    const std::string still = folder.file("seq000.png");
    for (const std::string& text :
         {std::string("-devNum=x"), "-fps=fast -file=" + still, "-width=-3 -file=" + still,
          std::string("-devNum=99"), std::string("-showDeviceList"), std::string("-file="),
          "-file=" + folder.file("wide.png"), "-file=" + folder.file("claims.png"),
          "-width=100000 -height=10 -file=" + still, "-fps=1001 -file=" + still})
    {
        video->getVideoConfiguration()->deviceconfig = text;
        EXPECT_FALSE(video->open()) << text;
    }
    // Device 0, which a user may take for the first.
    video->getVideoConfiguration()->deviceconfig = "-devNum=0";
    EXPECT_TRUE(!video->open() && video->getProblem().find("devices count from 1") != std::string::npos)
        << video->getProblem();
    // An unknown option is only noted.
    video->getVideoConfiguration()->deviceconfig = "-showDialog -brightness=3 -file=" + still;
    EXPECT_TRUE(video->open());
    video->close(true);

    // Each a folder of its own holding the still image; the file must open with its own size.
    for (const std::string& name :
         {std::string("rec -v2"), std::string("x -width=9 -height=9"), std::string("say \"hi\" -fps=1"),
          std::string("back\\slash "), std::string("two  blanks")})
    {
        const std::string subfolder = folder.file(name);
        ASSERT_TRUE(std::filesystem::create_directory(subfolder)) << name;
        ASSERT_TRUE(cv::imwrite(subfolder + "/still.png", numberedFrame(1)));
        video->getVideoConfiguration()->deviceconfig =
            "-devNum=1 -flipV -file=" + osgART::quoteCaptureOptionValue(subfolder + "/still.png") +
            " -fps=50";
        ASSERT_TRUE(video->open()) << name;
        EXPECT_EQ(std::make_tuple(64, 48, 50.0),
                  std::make_tuple(video->getWidth(), video->getHeight(), video->getFrameRate()))
            << name;
        video->close(true);
    }
    std::vector<osgART::CaptureOption> options;
    std::string error;
    // Unquoted names with blanks keep working as older exporters write them.
    ASSERT_TRUE(osgART::splitCaptureOptions("-file=/a b/c.png -flipV", options, error));
    ASSERT_EQ(options.size(), 2u);
    EXPECT_EQ(std::make_pair(std::string("/a b/c.png"), std::string("-flipV")),
              std::make_pair(options[0].value, options[1].name));
    for (const char* unclosed : {"-file=\"open -flipV", "-file=\"a\"b -flipV"})
        EXPECT_FALSE(osgART::splitCaptureOptions(unclosed, options, error)) << unclosed;
}
