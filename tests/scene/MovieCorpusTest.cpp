// The movie reader over the movies people actually have.
#include "../common/NotifyCapture.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "MovieDecoder.h"
#include "MovieFiles.h"
#include "MovieWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

struct CorpusMovie
{
    std::string name;
    int width;
    int height;
    std::string arguments; // between the grey ramp input and the output file
    int frames = 10;       // grey ramp pictures it holds (at 25 per second unless the arguments say)
    int rate = 25;
    double seconds = 0.4;
    size_t mustShow = 1; // pictures seen at the least: a clock that jumps skips them
};

const char* x264 = "-c:v libx264 -preset ultrafast ";
const char* vp8 = "-c:v libvpx -b:v 100k ";

std::vector<CorpusMovie> corpus()
{
    const std::string tone = toneSource(0.4) + " ";
    return {
        // Codecs and containers.
        {"h264.mp4", 64, 48, std::string(x264) + "-pix_fmt yuv420p"},
        {"hevc.mkv", 854, 480, "-c:v libx265 -preset ultrafast -x265-params log-level=error -pix_fmt yuv420p",
         5, 25, 0.2},
        {"vp9.webm", 30, 18, "-c:v libvpx-vp9 -b:v 100k -deadline realtime -cpu-used 8"},
        {"av1.mkv", 64, 48, "-c:v libaom-av1 -cpu-used 8 -b:v 100k"},
        {"mpeg4.avi", 64, 48, "-c:v mpeg4"},
        {"mjpeg.avi", 97, 33, "-c:v mjpeg -pix_fmt yuvj444p"},
        {"theora.ogv", 30, 18, "-c:v libtheora"},
        // Sizes.
        {"1x1.webm", 1, 1, vp8},
        {"2x2.mkv", 2, 2, "-c:v libvpx-vp9 -b:v 50k -deadline realtime -cpu-used 8"},
        {"7x5.mp4", 7, 5, std::string(x264) + "-pix_fmt yuv444p"},
        {"1080p.mp4", 1920, 1080, std::string(x264) + "-pix_fmt yuv420p", 3, 25, 0.12},
        // Pictures of 10 bits, and a rotation flag (the picture is shown as stored).
        {"10bit.mkv", 64, 48, std::string(x264) + "-pix_fmt yuv420p10le"},
        {"rotated.mp4", 64, 48, std::string(x264) + "-pix_fmt yuv420p -metadata:s:v:0 rotate=90"},
        // Variable frame rate: the first five pictures at 25 per second, the last five at 12.5.
        {"vfr.mkv", 64, 48,
         std::string(x264) +
             "-pix_fmt yuv420p -vf \"settb=1/1000,setpts='if(lt(N,5),N*40,200+(N-5)*80)/1000/TB'\" "
             "-fps_mode vfr",
         10, 25, 0.4},
        // Sound before, with and after the picture, ending early, and none. At ten pictures a second
        // (a second in all) a jumping clock shows: sound half a second late, ending after 0.3 s,
        // missing from 0.2 to 0.6 s, or three seconds of it (more than the sound queue holds) in
        // the file before the first picture.
        {"sound-with.mkv", 64, 48, "-c:v mpeg4 " + tone + "-c:a pcm_s16le"},
        {"sound-before.mp4", 64, 48,
         tone + std::string(x264) + "-pix_fmt yuv420p -vf setpts=PTS+0.2/TB -c:a aac"},
        {"sound-after.webm", 64, 48,
         "-itsoffset 0.5 " + toneSource(1.0) + " " + vp8 + "-c:a libopus -shortest", 10, 10, 1.0, 5},
        {"sound-ends-early.ogv", 30, 18, toneSource(0.3) + " -c:v libtheora -c:a libvorbis", 10, 10, 1.0, 5},
        {"sound-holes.webm", 48, 32,
         toneSource(1.0) + " -af \"aselect='not(between(t,0.2,0.6))'\" " + vp8 + "-c:a libvorbis -shortest",
         10, 10, 1.0, 5},
        {"sound-lead.mkv", 48, 32, toneSource(4.0) + " -vf setpts=PTS+3/TB -c:v mpeg4 -c:a pcm_s16le", 10, 10,
         1.0, 5},
        {"no-sound.mov", 64, 48, "-c:v mpeg4 -an"},
    };
}

// Decodes the movie's pictures in both pixel orders into a buffer longer than pictureSize() asks
// for: the conversion must write inside the picture, whatever its size, and each picture's last
// pixel is its own frame's grey.
void expectDecodedInsideThePicture(const CorpusMovie& movie, const std::string& path)
{
    const size_t guard = 64;
    for (const auto order : {Novaro::MovieDecoder::PixelOrder::RGB, Novaro::MovieDecoder::PixelOrder::BGR})
    {
        Novaro::MovieDecoder decoder(order);
        std::string error;
        ASSERT_TRUE(decoder.open(path, error)) << movie.name << ": " << error;
        ASSERT_EQ(static_cast<size_t>(movie.width) * movie.height * 3, decoder.pictureSize()) << movie.name;
        std::vector<uint8_t> picture(decoder.pictureSize() + guard, 0xA5);
        double seconds = 0.0;
        int frame = 0;
        while (decoder.next(picture.data(), seconds) == Novaro::MovieDecoder::Result::Picture)
        {
            EXPECT_EQ(frame, frameIndexOfGrey(picture[decoder.pictureSize() - 1])) << movie.name;
            ASSERT_EQ(std::vector<uint8_t>(guard, 0xA5),
                      std::vector<uint8_t>(picture.end() - guard, picture.end()))
                << movie.name << " frame " << frame;
            ++frame;
        }
        EXPECT_EQ(movie.frames, frame) << movie.name;
    }
}

// What a movie showed, in order, and how long its clock ran until it paused at its end.
struct Played
{
    std::vector<int> shown;
    double clock = 0.0;
};

// Plays the movies together to their ends, updating each as the player's frame loop does: each
// runs on its own clock, so together they take as long as the longest instead of the sum.
std::vector<Played> playToTheEnd(const std::vector<osg::ref_ptr<osg::ImageStream>>& streams)
{
    std::vector<Played> played(streams.size());
    for (const osg::ref_ptr<osg::ImageStream>& stream : streams)
        stream->play();
    // Notes what each shows now; true once all have paused at their ends.
    const auto record = [&]
    {
        bool ended = true;
        for (size_t index = 0; index < streams.size(); ++index)
        {
            const int frame = frameIndexOfGrey(*streams[index]->data(0, 0));
            if (played[index].shown.empty() || frame != played[index].shown.back())
                played[index].shown.push_back(frame);
            played[index].clock = streams[index]->getCurrentTime();
            ended = ended && streams[index]->getStatus() == osg::ImageStream::PAUSED;
        }
        return ended;
    };
    record();
    stepUntil(
        [&]
        {
            for (const osg::ref_ptr<osg::ImageStream>& stream : streams)
                if (stream->getStatus() != osg::ImageStream::PAUSED)
                    stream->update(nullptr);
        },
        record);
    return played;
}

} // namespace

// The movie reader over the movies people actually have: every video codec the Debian build of
// FFmpeg encodes, in every container the player is given, at sizes from one pixel to full HD, with
// sound before, with and after the picture, variable frame rates, rotation flags and 10-bit
// pictures. Each one plays all its pictures in order at its own rate, and its decoder writes each
// picture inside the buffer it asked for.
// The sound is the picture's clock: sound that starts late, ends early, has holes or comes long
// before the picture must neither stop the picture nor make it jump.

TEST(MovieCorpus, EveryMoviePlaysItsPicturesInOrderAtItsRateAndOpenCVsExamplesDecodeAtTheirTimes)
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    usePluginFolder();
    TemporaryFolder folder;
    NotifyCapture console(osg::FATAL);
    const std::vector<CorpusMovie> movies = corpus();
    std::vector<osg::ref_ptr<osg::ImageStream>> streams;
    for (const CorpusMovie& movie : movies)
    {
        const std::string path = folder.file(movie.name);
        // The grey ramp first (input 0), so that the sound arguments may add input 1.
        const std::string input = greyRampSource(movie.width, movie.height, movie.seconds, movie.rate);
        ASSERT_TRUE(runFFmpeg(input + " " + movie.arguments + " " + path)) << movie.name;
        expectDecodedInsideThePicture(movie, path);
        streams.push_back(openMovie(path));
        ASSERT_TRUE(streams.back().valid()) << movie.name << "\n" << console.text();
        // At once: a looping stream's decoder would run on past the end while the others are made.
        streams.back()->setLoopingMode(osg::ImageStream::NO_LOOPING);
        EXPECT_EQ(std::make_pair(movie.width, movie.height),
                  std::make_pair(streams.back()->s(), streams.back()->t()))
            << movie.name;
    }
    const std::vector<Played> played = playToTheEnd(streams);
    for (size_t index = 0; index < movies.size(); ++index)
    {
        const CorpusMovie& movie = movies[index];
        const std::vector<int>& shown = played[index].shown;
        EXPECT_EQ(0, shown.front()) << movie.name;
        EXPECT_EQ(movie.frames - 1, shown.back()) << movie.name << ": " << ::testing::PrintToString(shown);
        EXPECT_GE(shown.size(), movie.mustShow) << movie.name << ": " << ::testing::PrintToString(shown);
        EXPECT_EQ(std::adjacent_find(shown.begin(), shown.end(), std::greater_equal<int>()), shown.end())
            << movie.name << ": not in order: " << ::testing::PrintToString(shown);
        // The last picture came when the clock reached it: at the movie's rate, not as fast as
        // decoding goes (the clock stands still once the movie is paused at its end).
        EXPECT_GE(played[index].clock, movie.seconds - 2.0 / movie.rate) << movie.name;
    }
    EXPECT_EQ("", console.text());

    // Movies nobody here made: OpenCV's example movies, as Debian's opencv-doc ships them (Cinepak that
    // leaves frames out over half a minute, MPEG-4 with AC-3 sound, the same clip re-muxed with a
    // broken rate, and MS-MPEG-4 from a surveillance camera). Every picture decodes, none counts as
    // damaged, their times rise, and the last one comes at the end the container gives; the player's
    // reader opens each quietly.
    struct ExampleMovie
    {
        const char* name;
        int width, height, pictures;
        double seconds;
    };
    const ExampleMovie examples[] = {{"tree.avi", 320, 240, 68, 29.6},
                                     {"Megamind.avi", 720, 528, 270, 11.26},
                                     {"Megamind_bugy.avi", 720, 528, 270, 9.0},
                                     {"vtest.avi", 768, 576, 795, 79.5}};
    for (const ExampleMovie& movie : examples)
    {
        const std::string path = std::string("/usr/share/doc/opencv-doc/examples/data/") + movie.name;
        Novaro::MovieDecoder decoder;
        std::string error;
        ASSERT_TRUE(decoder.open(path, error)) << error << " (scripts/install-deps.sh installs opencv-doc)";
        ASSERT_EQ(std::make_pair(movie.width, movie.height),
                  std::make_pair(decoder.width(), decoder.height()))
            << movie.name;
        std::vector<uint8_t> picture(decoder.pictureSize()), first;
        double seconds = 0.0, previous = -1.0;
        int pictures = 0;
        while (decoder.next(picture.data(), seconds) == Novaro::MovieDecoder::Result::Picture)
        {
            EXPECT_GT(seconds, previous) << movie.name << " picture " << pictures;
            previous = seconds;
            if (pictures++ == 0)
                first = picture;
        }
        EXPECT_EQ("", decoder.lastError()) << movie.name;
        EXPECT_EQ(movie.pictures, pictures) << movie.name;
        EXPECT_EQ(0u, decoder.damagedPackets()) << movie.name;
        EXPECT_NEAR(movie.seconds, seconds + 1.0 / decoder.frameRate(), 0.05) << movie.name;
        EXPECT_NE(first, picture) << movie.name;

        // The player's reader takes each without a word, its sound included.
        usePluginFolder();
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid()) << movie.name;
        EXPECT_NEAR(movie.seconds, stream->getLength(), 0.05) << movie.name;
        EXPECT_EQ("", console.text()) << movie.name;
    }
}
