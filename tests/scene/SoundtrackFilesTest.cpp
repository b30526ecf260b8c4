// Soundtrack files from the scene's audio settings: only regular files whose header the output can
// play are opened as streams; everything else is reported by name and left out.
#include "NotifyCapture.h"
#include "TemporaryFolder.h"
#include "app/ARApplication.h"
#include "scene/AudioOutput.h"

#include "SoundFiles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

    void write(const std::string& name, const std::string& data)
    {
        std::ofstream(_folder / name, std::ios::binary) << data;
    }

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
    write("surround.wav", wav(65535, 16000, 64));
    write("silent.wav", wav(0, 44100, 64));
    write("slow.wav", wav(1, 1000, 64));
    write("fast.wav", wav(1, 1000000, 64));
    write("stereo.wav", wav(2, 44100, secondOfStereo));

    std::string audio = "<audio><soundtracks>";
    for (const Case& c : cases)
        audio += std::string("<soundtrack name=\"x\" source=\"") + c.name + "\"/>";
    audio += "</soundtracks></audio>";
    write("audio.xml", audio);

    ARApplication application;
    application.setTemporaryDirectory(_folder.string());
    ASSERT_TRUE(application.setAudioConfiguration("audio.xml"));
    NotifyCapture capture;
    EXPECT_TRUE(application.loadSoundtracks());

    EXPECT_EQ(application.getSoundtrackCount(), 1u);
    const std::string fatal = capture.text(osg::FATAL);
    for (const Case& c : cases)
    {
        const std::string path = (_folder / c.name).string();
        if (*c.message == '\0')
        {
            EXPECT_EQ(fatal.find(path), std::string::npos) << fatal;
            continue;
        }
        // The reason and the file name on one line.
        const size_t line = fatal.find(path);
        ASSERT_NE(line, std::string::npos) << c.name << "\n" << fatal;
        const size_t lineStart = fatal.rfind('\n', line) + 1;
        EXPECT_NE(fatal.substr(lineStart, fatal.find('\n', line) - lineStart).find(c.message),
                  std::string::npos)
            << c.name << "\n"
            << fatal;
    }
    EXPECT_NE(fatal.find("ERROR: could not load specified audio file (" +
                         (_folder / "surround.wav").string() + ")."),
              std::string::npos);

    // Handed a folder directly, the loader says it is not found rather than reading it.
    capture.clear();
    application.loadAudioFile((_folder / "folder.ogg").string());
    EXPECT_EQ(capture.text(osg::FATAL),
              " WARNING: audio file not found (" + (_folder / "folder.ogg").string() + ").\n");
    EXPECT_EQ(application.getSoundtrackCount(), 1u);
}
