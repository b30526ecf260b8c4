// Movies on a machine without a sound output.
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
#include <unistd.h>
#include <vector>

using namespace NovaroTest;

// A machine without a sound output plays movies on the system clock, silently, saying so once
// (sound that starts late, ends early or has holes is in the movie corpus).
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
    // The picture each play stopped on, -1 when the movie does not open.
    std::vector<int> stoppedOn;
    for (int play = 0; play < 2; ++play)
    {
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        stoppedOn.push_back(stream.valid() && playOnceToTheEnd(*stream, flooding)
                                ? frameIndexOfGrey(*stream->data(0, 0))
                                : -1);
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);

    EXPECT_EQ(std::vector<int>({9, 9}), stoppedOn);
    EXPECT_LT(std::filesystem::file_size(errors), 200u) << "the sound library kept complaining";
    // One line in all, and that one says so.
    ASSERT_EQ(1u, console.lines().size()) << console.text();
    EXPECT_EQ(0u, console.lines()[0].second.rfind("WARNING: no sound output (", 0)) << console.text();
}
