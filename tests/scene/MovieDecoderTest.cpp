// Movies that go wrong: files that are damaged or hold no pictures, and files cut shorter while
// they play. Whatever happens, the user is told once, at the level the player shows, which file
// and why (pictures of awkward sizes are in the movie corpus).
#include "MovieDecoder.h"
#include "../common/NotifyCapture.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "../common/VisibleLines.h"
#include "MovieFiles.h"
#include "MovieWriter.h"
#include "SceneTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;
namespace fs = std::filesystem;

// One file for each way a movie is refused: a file no demuxer takes (cut in its header, garbage,
// empty or text alike), no file, no regular file, no pictures (sound only, as a movie cut before
// its picture's headers is too), a picture too large.
TEST(DamagedMovies, EachIsRefusedOrReportedOnceWithItsReasonPlayingWhatItCanAndReservingNothing)
{
    // Movies read through the run directory's reader, written into a folder of the test's own.
    usePluginFolder();
    TemporaryFolder folder;
    std::filesystem::create_directories(folder.file("folder.mkv"));
    ASSERT_TRUE(runFFmpeg(toneSource(0.2) + " " + folder.file("sound.mkv")));
    // A picture taller than the reader takes, though narrow enough to be small.
    ASSERT_TRUE(runFFmpeg(greyRampSource(16, 4104, 0.08) + " -c:v ffv1 " + folder.file("tall.mkv")));

    // Nothing is reserved for what a file claims.
    const auto expectRefused = [&](const std::string& path, const std::string& reason)
    {
        const size_t before = processSize("VmPeak:");
        NotifyCapture console(osg::FATAL);
        EXPECT_FALSE(openMovie(path).valid()) << path;
        EXPECT_LT(processSize("VmPeak:") - before, size_t(512) << 20) << path;
        const std::vector<std::string> lines = visibleLinesWith(console, path);
        ASSERT_EQ(1u, lines.size()) << path << "\n" << console.text();
        EXPECT_EQ(0u, lines[0].rfind("WARNING: cannot play movie " + path + ": " + reason, 0)) << lines[0];
    };
    expectRefused(folder.write("text.avi", "this is not a movie\n"), "cannot open movie: ");
    expectRefused(folder.file("missing.webm"), "no such file");
    expectRefused(folder.file("folder.mkv"), "not a regular file");
    expectRefused(folder.file("sound.mkv"), "no video stream");
    expectRefused(folder.file("tall.mkv"), "picture of 16x4104");

    // A key-frame table's entry count (after its type and version) claiming 440 million entries in
    // a file of a few kilobytes: 1.7 GB if believed.
    const std::string good = folder.file("good.mp4");
    ASSERT_TRUE(runFFmpeg(greyRampSource(64, 48, 0.4) +
                          " -c:v libx264 -preset ultrafast -g 4 -pix_fmt yuv420p " + good));
    std::string movie = readFile(good);
    const size_t table = movie.find("stss");
    ASSERT_NE(std::string::npos, table);
    movie.replace(table + 8, 4, std::string("\x1a\x45\xdf\xa3", 4));
    expectRefused(folder.write("huge-table.mp4", movie), "");

    // A movie cut shorter while it plays, or lacking its end, is reported once.
    // Busy pictures, so that the file is far larger than what FFmpeg reads ahead.
    const std::string path = folder.file("cut.mkv");
    ASSERT_TRUE(runFFmpeg("-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 -c:v mpeg4 -q:v 2 " + path));
    const auto size = std::filesystem::file_size(path);
    ASSERT_GT(size, 400000u);

    NotifyCapture console(osg::FATAL);
    osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
    ASSERT_TRUE(stream.valid());
    stream->play();
    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return stream->getCurrentTime() > 0.3; }));
    std::filesystem::resize_file(path, size / 4);

    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return !visibleLinesWith(console, path).empty(); }))
        << "no report; status " << stream->getStatus();
    // The stream stops on its last picture, whatever the looping mode, and says it once.
    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return stream->getStatus() == osg::ImageStream::PAUSED; }));
    const unsigned int modified = stream->getModifiedCount();
    for (int frame = 0; frame < 50; ++frame)
        stream->update(nullptr);
    EXPECT_EQ(modified, stream->getModifiedCount());
    const std::vector<std::string> lines = visibleLinesWith(console, path);
    ASSERT_EQ(1u, lines.size()) << console.text();
    EXPECT_EQ(0u, lines[0].rfind("WARNING: movie " + path + " stopped: the file was cut from ", 0))
        << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" to " + std::to_string(size / 4) + " bytes")) << lines[0];

    // A movie that lacks its end plays what it has and says so once.
    const std::string whole = folder.file("whole.mkv");
    ASSERT_TRUE(runFFmpeg("-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v mpeg4 " + whole));
    const std::string content = readFile(whole);
    const std::string half = folder.write("half.mkv", content.substr(0, content.size() / 2));

    osg::ref_ptr<osg::ImageStream> halfStream = openMovie(half);
    ASSERT_TRUE(halfStream.valid());
    halfStream->play();
    // Looping: the end comes round again, the report does not.
    ASSERT_TRUE(updateMovieUntil(*halfStream, [&] { return halfStream->getCurrentTime() > 2.5; }));
    const std::vector<std::string> halfLines = visibleLinesWith(console, half);
    ASSERT_EQ(1u, halfLines.size()) << console.text();
    EXPECT_EQ(0u, halfLines[0].rfind("WARNING: movie " + half + " ends at ", 0)) << halfLines[0];
    EXPECT_NE(std::string::npos, halfLines[0].find(" s of its 2.00 s: the file is cut short or damaged"))
        << halfLines[0];

    setenv("ALSOFT_DRIVERS", "null", 1);
    // Sound rates below and above any real movie's, so the sound is left out.
    for (const int rate : {2000, 384000})
    {
        const std::string path = folder.file("sound-" + std::to_string(rate) + ".mkv");
        ASSERT_TRUE(runFFmpeg(greyRampSource(48, 32, 0.4) + " " + toneSource(0.4, rate) +
                              " -c:v mpeg4 -c:a pcm_s16le " + path));
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid() && playOnceToTheEnd(*stream));
        EXPECT_EQ(9, frameIndexOfGrey(*stream->data(0, 0)));
        EXPECT_EQ(std::vector<std::string>{"WARNING: movie " + path +
                                           " plays without its sound: a sound rate of " +
                                           std::to_string(rate) + " Hz (played: 4000 to 192000 Hz)"},
                  visibleLinesWith(console, path));
    }

    // A run of pictures no decoder takes: a short one is a scratch the movie plays through, a long
    // one a broken stream, which stops the movie with the reason rather than skipping on to its end.
    const std::string pngs = folder.file("pngs.mkv");
    ASSERT_TRUE(runFFmpeg(greyRampSource(16, 16, 2.0, 100) + " -c:v png " + pngs));
    const std::string pngBytes = readFile(pngs);
    // Each picture is a PNG file of its own; one whose header gives a width of 0 is refused (its
    // signature stays, as the demuxer splits the stream there).
    const std::string signature("\x89PNG\r\n\x1a\n", 8);
    const size_t widthInHeader = 16; // after the signature, the header's length and its name
    const auto damaged = [&](const std::string& name, int first, int count)
    {
        std::string movie = pngBytes;
        size_t at = 0;
        for (int picture = 0; picture < first + count; ++picture, at += signature.size())
        {
            at = movie.find(signature, at);
            if (at == std::string::npos)
                return std::string();
            if (picture >= first)
                movie.replace(at + widthInHeader, 4, 4, '\0');
        }
        return folder.write(name, movie);
    };
    const std::string scratched = damaged("scratched.mkv", 25, 60);
    const std::string broken = damaged("broken.mkv", 25, 150);
    ASSERT_FALSE(scratched.empty() || broken.empty());

    for (const auto& [path, last, said] : {std::make_tuple(scratched, 9, std::string()),
                                           std::make_tuple(broken, 4,
                                                           "WARNING: movie " + broken +
                                                               " stopped: the video stream cannot be "
                                                               "decoded: ")})
    {
        NotifyCapture console(osg::FATAL);
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid() && playOnceToTheEnd(*stream)) << path;
        EXPECT_EQ(last,
                  frameIndexOfGrey(*stream->data(0, 0))); // a broken one: the last picture before the run
        const std::vector<std::string> lines = visibleLinesWith(console, path);
        ASSERT_EQ(said.empty() ? 0u : 1u, lines.size()) << console.text();
        EXPECT_TRUE(said.empty() || lines[0].rfind(said, 0) == 0) << lines[0];
    }
}
