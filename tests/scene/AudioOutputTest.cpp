// The choice of the sound output at start: a device that never opens must not keep the player
// from starting.
#include "scene/AudioOutput.h"

#include "NotifyCapture.h"
#include "PlayerProcess.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

// OpenAL Soft's file output writing into a pipe nobody reads: opening it waits forever, as a
// device held by another program or a sound server that does not answer can.
TEST(AudioOutput, ADeviceThatNeverOpensIsGivenUpForTheSilentOutputAndSaidSo)
{
    // The output is chosen once per process, by whichever test opens it first.
    if (!NovaroTest::inAFreshProcess())
        return;
    NovaroTest::TemporaryFolder folder;
    ASSERT_EQ(0, mkfifo(folder.file("pipe").c_str(), 0600));
    const std::string configuration =
        folder.write("alsoft.conf", "[general]\ndrivers=wave\n[wave]\nfile=" + folder.file("pipe") + "\n");
    setenv("ALSOFT_CONF", configuration.c_str(), 1);
    unsetenv("ALSOFT_DRIVERS");
    const NovaroTest::NotifyCapture capture(osg::WARN);
    EXPECT_FALSE(Novaro::AudioOutput::chooseDriver());
    unsetenv("ALSOFT_CONF");
    EXPECT_STREQ("null", getenv("ALSOFT_DRIVERS"));
    EXPECT_TRUE(
        capture.printed(" WARNING: the audio output device did not open in 5 s: sounds play silently."));
}
