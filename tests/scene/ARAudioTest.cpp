// Audio objects and the sound files they are given.
#include "scene/ARAudio.h"
#include "MovieFiles.h"
#include "NotifyCapture.h"
#include "SceneTestSupport.h"
#include "SoundFiles.h"
#include "TemporaryFolder.h"
#include "VisibleLines.h"
#include "app/ARApplication.h"

#include <osg/Geode>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace Novaro;
using namespace NovaroTest;
namespace fs = std::filesystem;

namespace
{

// The page checksum of the Ogg container (polynomial 0x04c11db7, most significant bit first).
uint32_t oggChecksum(const std::string& page)
{
    uint32_t crc = 0;
    for (unsigned char byte : page)
    {
        crc ^= static_cast<uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// A real Ogg Vorbis file of a tenth of a second, then its identification header made to claim
// 'rateHz', with the page checksum made right again so that the decoder believes it.
void writeOggClaimingRate(const std::string& path, uint32_t rateHz)
{
    ASSERT_TRUE(NovaroTest::runFFmpeg(NovaroTest::toneSource(0.1) + " -c:a libvorbis " + path));
    std::string data = NovaroTest::readFile(path);
    ASSERT_EQ(data.compare(0, 4, "OggS"), 0);
    const size_t segments = static_cast<unsigned char>(data[26]);
    size_t pageLength = 27 + segments;
    for (size_t i = 0; i < segments; ++i)
        pageLength += static_cast<unsigned char>(data[27 + i]);
    const size_t packet = 27 + segments;
    ASSERT_EQ(data.compare(packet, 7, "\x01vorbis"), 0);
    std::string rate;
    appendLittleEndian(rate, rateHz, 4);
    data.replace(packet + 12, 4, rate);
    data.replace(22, 4, std::string(4, '\0'));
    std::string checksum;
    appendLittleEndian(checksum, oggChecksum(data.substr(0, pageLength)), 4);
    data.replace(22, 4, checksum);
    std::ofstream(path, std::ios::binary) << data;
}

// Lets the address space grow by 'bytes' from now on.
void limitMemoryGrowth(rlim_t bytes)
{
    const rlim_t current = processSize("VmSize:");
    const rlimit limit = {current + bytes, current + bytes};
    setrlimit(RLIMIT_AS, &limit);
}

} // namespace

// Audio objects: samples or a stream by the file's extension, and sound files whose headers lie.
// What the player allocates must follow what the file holds: the hostile files are loaded in a
// child process whose address space may grow by 512 MB only, where a header believed would end
// the process with an allocation failure.
TEST(AudioObjectsTest, HeadersCostWhatTheFileHoldsUnloadableFilesAreNamedAndTheExtensionChooses)
{
    setenv("ALSOFT_DRIVERS", "null", 0);
    TemporaryFolder folder;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const uint32_t secondOfMono = 44100 * 2;
    // Claims 4 GB of data and holds one second: plays that second.
    const std::string huge = folder.write("huge.wav", wav(1, 44100, 0xFFFFFFF0u, secondOfMono));
    // 44 bytes claiming 2 GB: holds nothing to play.
    const std::string tiny = folder.write("tiny.wav", wav(2, 44100, 0x80000000u, 0));
    const std::string fast = folder.file("fast.ogg");
    writeOggClaimingRate(fast, 4000000000u);

    EXPECT_EXIT(
        {
            limitMemoryGrowth(512u << 20);
            std::ostringstream failures;
            NotifyCapture capture;
            osg::ref_ptr<ARAudio> second = new ARAudio;
            second->setupAudio(huge, true);
            if (std::fabs(second->getDuration() - 1.0f) > 0.01f)
                failures << "huge.wav lasts " << second->getDuration() << " s\n";
            osg::ref_ptr<ARAudio> nothing = new ARAudio;
            nothing->setupAudio(tiny, true);
            osg::ref_ptr<ARAudio> rate = new ARAudio;
            rate->setupAudio(fast, true);
            for (const std::string& line :
                 {" WARNING: cannot play " + tiny + ": no sound data.",
                  " WARNING: cannot play " + fast + ": sample rate 4000000000 Hz (8000 to 192000 Hz)."})
                if (capture.count(line) != 1 || capture.severityOf(line) != osg::FATAL)
                    failures << "missing visible line: " << line << "\n" << capture.text() << "\n";
            if (capture.count("ERROR: could not load specified audio file.") != 2)
                failures << "expected two load errors\n" << capture.text();
            // Refused sounds stay silent and answer their actions.
            rate->play();
            nothing->rewind();
            std::cerr << failures.str();
            std::exit(failures.str().empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    NotifyCapture capture;
    const auto expectUnloadable = [&](const std::string& file, const std::string& reason)
    {
        capture.clear();
        osg::ref_ptr<ARAudio> audio = new ARAudio;
        audio->setupAudio(file, true);
        EXPECT_EQ(audio->getDuration(), 0.0f) << file;
        EXPECT_EQ(capture.text(osg::FATAL), " WARNING: cannot play " + file + ": " + reason +
                                                ".\nERROR: could not load specified audio file.\n");
    };
    const std::string unknown = "not a sound file of a known format (wav, ogg, flac)";
    expectUnloadable(folder.write("notes.wav", "these are not samples"), unknown);
    expectUnloadable(folder.file("missing.ogg"), "no such readable file");
    // The sound library would size the data by a sample size it has not read yet.
    const std::string inOrder = wav(1, 44100, 64, 64); // RIFF header, format, data: 12, 24 and 72 bytes
    expectUnloadable(
        folder.write("early.wav", inOrder.substr(0, 12) + inOrder.substr(36) + inOrder.substr(12, 24)),
        "a WAV file whose data comes before its format");
    // (Headers out of the output's range: the soundtrack files test, through the same check.)

    // Encodings sound editors export that the sound library cannot decode are named, and so is a
    // channel count the output has no layout for; integer samples of any width it takes, also in
    // the extensible format.
    const std::string played = " (plays: WAV of 8 to 32-bit integer samples, Ogg Vorbis, FLAC)";
    const std::pair<std::string, std::string> encodings[] = {
        {"pcm_f32le float.wav", "a WAV file of 32-bit floating-point samples" + played},
        {"pcm_alaw alaw.wav", "a WAV file of A-law sound" + played},
        {"adpcm_ms adpcm.wav", "a WAV file of ADPCM sound" + played},
        {"libopus opus.ogg", "an Ogg file of Opus sound" + played},
        {"pcm_s16le -ac 3 three.wav", "3 channels (plays 1, 2, 4, 6, 7 or 8)"},
        {"pcm_s24le -ac 4 24-bit.wav", ""}};
    for (const auto& [codecAndFile, reason] : encodings)
    {
        const size_t space = codecAndFile.rfind(' ');
        const std::string file = folder.file(codecAndFile.substr(space + 1));
        ASSERT_TRUE(NovaroTest::runFFmpeg(NovaroTest::toneSource(0.2, 48000) + " -c:a " +
                                          codecAndFile.substr(0, space) + " " + file));
        if (!reason.empty())
        {
            expectUnloadable(file, reason);
            continue;
        }
        capture.clear();
        osg::ref_ptr<ARAudio> audio = new ARAudio;
        audio->setupAudio(file, true);
        EXPECT_NEAR(0.2f, audio->getDuration(), 0.01f) << file;
        EXPECT_EQ("", capture.text(osg::FATAL));
    }

    // An honest stream still loads, its length from its header (samples: the extension test).
    const std::string ogg = folder.file("short.ogg");
    writeOggClaimingRate(ogg, 44100);
    capture.clear();
    osg::ref_ptr<ARAudio> stream = new ARAudio;
    stream->setupAudio(ogg, true);
    EXPECT_NEAR(stream->getDuration(), 0.1f, 0.01f);
    EXPECT_FALSE(stream->getUseSamples());
    EXPECT_EQ(capture.text(osg::FATAL), "");

    // The extension chooses samples or a stream, and the sound answers its keys.
    // A tenth of a second of mono under an extension in capitals, invisible: no geometry, still a
    // sound.
    osg::ref_ptr<ARAudio> audio = new ARAudio(new osg::Geode);
    audio->setupAudio(folder.write("tone.WAV", wav(1, 44100, 8820, 8820)), false);
    EXPECT_TRUE(audio->getUseSamples());
    EXPECT_NEAR(0.1f, audio->getDuration(), 0.001f);
    EXPECT_EQ(0u, audio->getNumChildren());
    // Toggling a sound never started leaves it silent; only a paused sound resumes.
    audio->togglePause();
    EXPECT_NE(sf::SoundSource::Playing, audio->getStatus());
    audio->play();
    audio->togglePause();
    EXPECT_EQ(sf::SoundSource::Paused, audio->getStatus());
    audio->togglePause();
    EXPECT_EQ(sf::SoundSource::Playing, audio->getStatus());
    audio->toggleLoop();
    EXPECT_TRUE(audio->getLoop());

    // Other formats are not loaded at all.
    capture.clear();
    osg::ref_ptr<ARAudio> mp3 = new ARAudio(new osg::Geode);
    mp3->setupAudio(folder.write("song.mp3", "ID3"), false);
    EXPECT_TRUE(capture.printed("WARNING: audio file not supported."));
    EXPECT_EQ(osg::FATAL, capture.severityOf(" WARNING: cannot play " + folder.file("song.mp3") +
                                             ": a sound object plays only .wav and .ogg files."));
    EXPECT_EQ(1u, mp3->getNumChildren());

    // Soundtrack files from the scene's audio settings: only regular files whose header the output
    // can play are opened as streams; everything else is reported by name and left out.
    const fs::path dir = folder.path();
    struct Case
    {
        const char* name;
        std::string data;    // a folder when empty
        const char* message; // empty: the file is a soundtrack
    } cases[] = {
        {"folder.ogg", "", " WARNING: cannot find soundtrack file: "},
        {"surround.wav", wav(65535, 16000, 64, 64), "65535 channels (plays 1, 2, 4, 6, 7 or 8)"},
        {"silent.wav", wav(0, 44100, 64, 64), "0 channels"},
        {"slow.wav", wav(1, 1000, 64, 64), "sample rate 1000 Hz"},
        {"fast.wav", wav(1, 1000000, 64, 64), "sample rate 1000000 Hz"},
        {"stereo.wav", wav(2, 44100, 44100 * 4, 44100 * 4), ""},
    };
    std::string settings = "<audio><soundtracks>";
    for (const Case& c : cases)
    {
        if (c.data.empty())
            fs::create_directories(dir / c.name);
        else
            folder.write(c.name, c.data);
        settings += std::string("<soundtrack name=\"x\" source=\"") + c.name + "\"/>";
    }
    settings += "</soundtracks></audio>";
    folder.write("audio.xml", settings);

    ARApplication application;
    application.setTemporaryDirectory(dir.string());
    ASSERT_TRUE(application.setAudioConfiguration("audio.xml"));
    capture.clear();
    EXPECT_TRUE(application.loadSoundtracks());

    EXPECT_EQ(application.getSoundtrackCount(), 1u);
    for (const Case& c : cases)
    {
        // The reason and the file name on one line; nothing about a file that plays.
        const std::vector<std::string> lines = visibleLinesWith(capture, (dir / c.name).string());
        if (*c.message == '\0')
            EXPECT_TRUE(lines.empty()) << capture.text();
        else
            EXPECT_TRUE(!lines.empty() && lines[0].find(c.message) != std::string::npos) << c.name << "\n"
                                                                                         << capture.text();
    }
    EXPECT_TRUE(saidPart(capture, "ERROR: could not load specified audio file (" +
                                      (dir / "surround.wav").string() + ")."));

    // Handed a folder directly, the loader says it is not found rather than reading it.
    capture.clear();
    application.loadAudioFile((dir / "folder.ogg").string());
    EXPECT_EQ(capture.text(osg::FATAL),
              " WARNING: audio file not found (" + (dir / "folder.ogg").string() + ").\n");
    EXPECT_EQ(application.getSoundtrackCount(), 1u);
}
