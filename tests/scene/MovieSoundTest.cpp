// A machine without a sound output plays movies on the system clock, silently, saying so once
// (sound that starts late, ends early or has holes is in the movie corpus).

#include "../common/NotifyCapture.h"
#include "../common/PlayerProcess.h"
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

using namespace NovaroTest;

namespace
{

// Plays the movie to its end as the frame loop would, or until 'giveUp' holds; the picture it
// stopped on, -1 when it does not open.
int playToTheEnd(const std::string& path, const std::function<bool()>& giveUp)
{
    osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
    if (!stream.valid())
        return -1;
    stream->setLoopingMode(osg::ImageStream::NO_LOOPING);
    stream->play();
    updateMovieUntil(*stream, [&] { return stream->getStatus() == osg::ImageStream::PAUSED || giveUp(); });
    return frameIndexOfGrey(*stream->data(0, 0));
}

} // namespace

TEST(MovieSoundOutput, WithoutASoundOutputMoviesPlayOnTheSystemClockAndSaySoOnce)
{
    // No OpenAL back end at all: nothing can open the output.
    if (!inAFreshProcess())
        return;
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
    NotifyCapture console(osg::FATAL);
    // A flood of complaints is seen within a second; the test does not wait for the disk to fill.
    const auto flooding = [&] { return std::filesystem::file_size(errors) > 100000; };
    const int first = playToTheEnd(path, flooding);
    const int second = playToTheEnd(path, flooding);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(9, first);
    EXPECT_EQ(9, second);
    EXPECT_LT(std::filesystem::file_size(errors), 200u) << "the sound library kept complaining";
    // One line in all, and that one says so.
    ASSERT_EQ(1u, console.lines().size()) << console.text();
    EXPECT_EQ(0u, console.lines()[0].second.rfind("WARNING: no sound output (", 0)) << console.text();
}
