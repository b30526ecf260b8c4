// Soundtrack files from the scene's audio settings: only regular files whose header the output can
// play are opened as streams; everything else is reported by name and left out.
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"
#include "scene/AudioOutput.h"

#include "SoundFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace Novaro;
namespace fs = std::filesystem;
using namespace NovaroTest;

namespace
{

class SoundtrackFilesTest : public ::testing::Test
{
protected:
    void SetUp() override { setenv("ALSOFT_DRIVERS", "null", 0); }

    NovaroTest::TemporaryFolder _temporary;
    const fs::path _folder = _temporary.path();
};

} // namespace

TEST_F(SoundtrackFilesTest, OnlyPlayableRegularFilesBecomeSoundtracks)
{
    const uint32_t secondOfStereo = 44100 * 2 * 2;
    struct Case
    {
        const char* name;
        const char* message; // empty: the file is a soundtrack
    } cases[] = {
        {"folder.ogg", " WARNING: cannot find soundtrack file: "},
        {"absent.ogg", " WARNING: cannot find soundtrack file: "},
        {"surround.wav", "65535 channels (at most 8)"},
        {"silent.wav", "0 channels"},
        {"slow.wav", "sample rate 1000 Hz"},
        {"fast.wav", "sample rate 1000000 Hz"},
        {"stereo.wav", ""},
    };
    fs::create_directories(_folder / "folder.ogg");
    _temporary.write("surround.wav", wav(65535, 16000, 64));
    _temporary.write("silent.wav", wav(0, 44100, 64));
    _temporary.write("slow.wav", wav(1, 1000, 64));
    _temporary.write("fast.wav", wav(1, 1000000, 64));
    _temporary.write("stereo.wav", wav(2, 44100, secondOfStereo));

    std::string audio = "<audio><soundtracks>";
    for (const Case& c : cases)
        audio += std::string("<soundtrack name=\"x\" source=\"") + c.name + "\"/>";
    audio += "</soundtracks></audio>";
    _temporary.write("audio.xml", audio);

    ARApplication application;
    application.setTemporaryDirectory(_folder.string());
    ASSERT_TRUE(application.setAudioConfiguration("audio.xml"));
    NotifyCapture capture;
    EXPECT_TRUE(application.loadSoundtracks());

    EXPECT_EQ(application.getSoundtrackCount(), 1u);
    for (const Case& c : cases)
    {
        // The reason and the file name on one line; nothing about a file that plays.
        const std::vector<std::string> lines = visibleLinesWith(capture, (_folder / c.name).string());
        if (*c.message == '\0')
            EXPECT_TRUE(lines.empty()) << capture.text();
        else
            EXPECT_TRUE(!lines.empty() && lines[0].find(c.message) != std::string::npos) << c.name << "\n"
                                                                                         << capture.text();
    }
    EXPECT_TRUE(saidPart(capture, "ERROR: could not load specified audio file (" +
                                      (_folder / "surround.wav").string() + ")."));

    // Handed a folder directly, the loader says it is not found rather than reading it.
    capture.clear();
    application.loadAudioFile((_folder / "folder.ogg").string());
    EXPECT_EQ(capture.text(osg::FATAL),
              " WARNING: audio file not found (" + (_folder / "folder.ogg").string() + ").\n");
    EXPECT_EQ(application.getSoundtrackCount(), 1u);
}
