// A movie's sound as the clock of its picture: sound that starts after the picture, ends before
// it or has holes must neither stop the picture nor drift from it, and a machine without a sound
// output plays movies silently, saying so once.

#include "../common/NotifyCapture.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "MovieFiles.h"
#include "MovieWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <unistd.h>
#include <vector>

using namespace NovaroTest;

namespace
{

// Plays the movie to its end as the frame loop would; the pictures it showed, in order. Gives up
// early when 'giveUp' holds.
std::vector<int> playToTheEnd(
    const std::string& path, const std::function<bool()>& giveUp = [] { return false; })
{
    std::vector<int> shown;
    osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
    if (!stream.valid())
        return shown;
    stream->setLoopingMode(osg::ImageStream::NO_LOOPING);
    stream->play();
    shown.push_back(frameIndexOfGrey(*stream->data(0, 0)));
    updateMovieUntil(*stream,
                     [&]
                     {
                         const int frame = frameIndexOfGrey(*stream->data(0, 0));
                         if (frame != shown.back())
                             shown.push_back(frame);
                         return stream->getStatus() == osg::ImageStream::PAUSED || giveUp();
                     });
    return shown;
}

} // namespace

TEST(MovieSoundClock, PictureRunsWhenTheSoundStartsLateEndsEarlyOrHasHoles)
{
    // A sound output that plays into nothing: the sound is the clock, as on a real machine.
    setenv("ALSOFT_DRIVERS", "null", 1);
    usePluginFolder();
    TemporaryFolder folder;
    // Ten frames of 0.1 s each; Vorbis in WebM, as real files have it.
    const std::string picture = greyRampSource(48, 32, 1.0, 10) + " ";
    const std::string encoders = " -c:v libvpx -b:v 100k -c:a libvorbis -shortest ";
    const struct
    {
        const char* name;
        std::string input;
    } movies[] = {
        {"late.webm", picture + "-itsoffset 0.5 " + toneSource(1.0) + encoders},
        {"early-end.webm", picture + toneSource(0.3) + " -c:v libvpx -b:v 100k -c:a libvorbis "},
        {"holes.webm", picture + toneSource(1.0) + " -af \"aselect='not(between(t,0.2,0.6))'\"" + encoders},
        // Three seconds of sound before the first picture: more than the sound queue holds, all
        // of it in the file before the first picture's packet.
        {"lead.mkv", picture + toneSource(4.0) + " -vf setpts=PTS+3/TB -c:v mpeg4 -c:a pcm_s16le "},
    };
    for (const auto& movie : movies)
    {
        const std::string path = folder.file(movie.name);
        ASSERT_TRUE(runFFmpeg(movie.input + path)) << movie.name;
        const std::vector<int> shown = playToTheEnd(path);
        // Every picture is reached (a busy machine may skip some, never go back).
        ASSERT_FALSE(shown.empty()) << movie.name;
        EXPECT_EQ(0, shown.front()) << movie.name;
        EXPECT_EQ(9, shown.back()) << movie.name << ": " << ::testing::PrintToString(shown);
        for (size_t index = 1; index < shown.size(); ++index)
            EXPECT_LT(shown[index - 1], shown[index]) << movie.name;
        EXPECT_GE(shown.size(), 5u) << movie.name << ": " << ::testing::PrintToString(shown);
    }
}

TEST(MovieSoundOutput, WithoutASoundOutputMoviesPlayOnTheSystemClockAndSaySoOnce)
{
    // No OpenAL back end at all: nothing can open the output.
    setenv("ALSOFT_DRIVERS", "none", 1);
    usePluginFolder();
    TemporaryFolder folder;
    const std::string path = folder.file("tone.mkv");
    ASSERT_TRUE(runFFmpeg(greyRampSource(48, 32, 0.5, 20) + " " + toneSource(0.5) +
                          " -c:v mpeg4 -c:a pcm_s16le " + path));

    // What the sound library would write goes to stderr: catch it in a file.
    const std::string errors = folder.file("stderr.txt");
    fflush(stderr);
    const int saved = dup(2);
    const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 2);
    close(file);
    std::vector<int> first;
    std::vector<int> second;
    NotifyCapture console(osg::FATAL);
    // A flood of complaints is seen within a second; the test does not wait for the disk to fill.
    const auto flooding = [&] { return std::filesystem::file_size(errors) > 100000; };
    first = playToTheEnd(path, flooding);
    second = playToTheEnd(path, flooding);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(9, first.empty() ? -1 : first.back()) << ::testing::PrintToString(first);
    EXPECT_EQ(9, second.empty() ? -1 : second.back()) << ::testing::PrintToString(second);
    EXPECT_LT(std::filesystem::file_size(errors), 200u) << "the sound library kept complaining";
    // One line in all, and that one says so.
    ASSERT_EQ(1u, console.lines().size()) << console.text();
    EXPECT_EQ(0u, console.lines()[0].second.rfind("WARNING: no sound output (", 0)) << console.text();
}
