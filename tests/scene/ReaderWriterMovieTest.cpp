// The movie reader through OpenSceneGraph's registry, as the player reaches it: movies written
// here frame by frame (each frame a grey that names its index), played, paused, rewound, looped
// (the files that must be refused are in MovieDecoderTest).

#include "../common/NotifyCapture.h"
#include "../common/PlayerProcess.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "MovieFiles.h"
#include "MovieSound.h"
#include "MovieWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include <osg/ImageStream>

using namespace NovaroTest;

namespace
{

const int frameCount = 10;
const int framesPerSecond = 25;

class MovieReader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        usePluginFolder();
        _movie = _folder.file("ramp.mp4");
        ASSERT_TRUE(writeGreyRampMovie(_movie, frameCount, 64, 48, framesPerSecond));
        stream = openMovie(_movie);
        ASSERT_TRUE(stream.valid());
    }

    // The frame the stream shows now, read back from its picture.
    static int shownFrame(osg::ImageStream& stream) { return frameIndexOfGrey(*stream.data(32, 24)); }

    // Lets movie time pass as frames of a second copy of the movie playing rather than as a fixed
    // sleep, so that a loaded machine only makes it longer; 'held' is updated alongside, as the
    // frame loop would, and must not move meanwhile.
    void letFramesPass(osg::ImageStream& held, int frames)
    {
        osg::ref_ptr<osg::ImageStream> witness = openMovie(_movie);
        ASSERT_TRUE(witness.valid());
        witness->play();
        EXPECT_TRUE(updateMovieUntil(*witness,
                                     [&]
                                     {
                                         held.update(nullptr);
                                         return shownFrame(*witness) >= frames;
                                     }));
    }

    TemporaryFolder _folder;
    std::string _movie;
    osg::ref_ptr<osg::ImageStream> stream; // the movie, opened
};

// The frequency of the tone in a 44.1 kHz stereo recording's left channel, from the median length
// of its cycles louder than the noise floor (a rising crossing counts once the signal went below
// -1000), so that a gap where a busy machine let the output run dry does not count; 'loudSeconds'
// is the time those cycles fill. 0 when the recording is silent.
double toneFrequency(const std::vector<int16_t>& stereo, double& loudSeconds)
{
    std::vector<size_t> periods;
    bool armed = false;
    for (size_t frame = 0, last = 0; 2 * frame < stereo.size(); ++frame)
        if (stereo[2 * frame] < -1000)
            armed = true;
        else if (armed && stereo[2 * frame] >= 0)
        {
            if (last != 0)
                periods.push_back(frame - last);
            armed = false;
            last = frame;
        }
    if (periods.size() < 2)
        return loudSeconds = 0.0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    const double period = static_cast<double>(periods[periods.size() / 2]) / 44100;
    loudSeconds = period * static_cast<double>(periods.size());
    return 1.0 / period;
}

// Bytes the sound output has written to its recording so far.
uintmax_t recordedBytes(const std::string& recording)
{
    std::error_code missing;
    const uintmax_t size = std::filesystem::file_size(recording, missing);
    return missing ? 0 : size;
}

const unsigned int rate = 8000;

// The sound's time line as the output would play it, pulled chunk by chunk.
class Timeline : public Novaro::MovieSound
{
public:
    Timeline() : MovieSound(1, rate) {}

    void push(double seconds, double length, int16_t value)
    {
        const std::vector<int16_t> samples(static_cast<size_t>(std::lround(length * rate)), value);
        MovieSound::push(samples.data(), samples.size(), seconds, generation());
    }
    // The next 'seconds' of output (what the output would play, silence included).
    std::vector<int16_t> pull(double seconds)
    {
        std::vector<int16_t> played;
        while (played.size() < seconds * rate)
        {
            Chunk chunk;
            if (!onGetData(chunk))
                break;
            played.insert(played.end(), chunk.samples, chunk.samples + chunk.sampleCount);
        }
        return played;
    }
};

// The value at each 10 ms of the output, so that a failure reads as a time line.
std::vector<int> every10ms(const std::vector<int16_t>& played)
{
    std::vector<int> steps;
    for (size_t index = 0; index < played.size(); index += rate / 100)
        steps.push_back(played[index]);
    return steps;
}

std::vector<int> steps(std::initializer_list<std::pair<int, int>> runs)
{
    std::vector<int> result;
    for (const auto& run : runs)
        result.insert(result.end(), static_cast<size_t>(run.first), run.second);
    return result;
}

} // namespace

// (Sizes: the movie corpus.)
TEST_F(MovieReader, OpensPausedOnTheFirstFrameAndStopsOnTheLastThenPlaysAgainFromTheFirst)
{
    EXPECT_NEAR(25.0, stream->getFrameRate(), 0.01);
    EXPECT_NEAR(0.4, stream->getLength(), 0.05);
    EXPECT_EQ(osg::ImageStream::PAUSED, stream->getStatus());
    EXPECT_EQ(0, shownFrame(*stream));

    // Every name the player gives movies reaches the same reader (the corpus has the others).
    std::filesystem::copy_file(_movie, _folder.file("ramp.qt"));
    EXPECT_TRUE(openMovie(_folder.file("ramp.qt")).valid());

    // (Streams loop unless told otherwise: the test below; every picture in order at the movie's
    // rate: the movie corpus.)
    ASSERT_TRUE(playOnceToTheEnd(*stream));
    EXPECT_EQ(frameCount - 1, shownFrame(*stream));
    letFramesPass(*stream, 3);
    EXPECT_EQ(frameCount - 1, shownFrame(*stream));

    stream->play();
    EXPECT_TRUE(updateMovieUntil(*stream, [&] { return shownFrame(*stream) < frameCount - 1; }));
}

TEST_F(MovieReader, PauseHoldsTheClockRewindGoesBackToTheStartAndALoopingStreamStartsOver)
{
    stream->play();
    ASSERT_TRUE(updateMovieUntil(*stream, [&] { return shownFrame(*stream) >= 3; }));
    stream->pause();
    const int paused = shownFrame(*stream);
    const double time = stream->getCurrentTime();
    letFramesPass(*stream, 5);
    EXPECT_EQ(paused, shownFrame(*stream));
    EXPECT_EQ(time, stream->getCurrentTime());

    stream->rewind();
    EXPECT_EQ(osg::ImageStream::PAUSED, stream->getStatus());
    stream->play();
    EXPECT_TRUE(updateMovieUntil(*stream, [&] { return shownFrame(*stream) == 0; }));

    // Played on from there, the looping stream starts over without stopping.
    // The clock goes on through each start over: it never goes back, and when the picture starts
    // over for the k-th time it reads k lengths of the movie at least (one frame's rounding aside).
    int previous = 0, clockWentBack = 0;
    double previousTime = 0.0;
    std::vector<double> timeAtStartOver;
    ASSERT_TRUE(updateMovieUntil(*stream,
                                 [&]
                                 {
                                     const int frame = shownFrame(*stream);
                                     const double time = stream->getCurrentTime();
                                     clockWentBack += time < previousTime ? 1 : 0;
                                     if (frame < previous)
                                         timeAtStartOver.push_back(time);
                                     previous = frame;
                                     previousTime = time;
                                     return timeAtStartOver.size() >= 2;
                                 }));
    EXPECT_EQ(osg::ImageStream::PLAYING, stream->getStatus());
    EXPECT_EQ(0, clockWentBack);
    for (size_t k = 0; k < timeAtStartOver.size(); ++k)
        EXPECT_GE(timeAtStartOver[k], (k + 1) * 0.4 - 1.0 / framesPerSecond) << "start over " << k + 1;
}

TEST_F(MovieReader, AMovieWithSoundPlaysItThroughTheSoundOutput)
{
    // The sound output writes what it plays to a file: set before anything opens it.
    if (!inAFreshProcess())
        return;
    const std::string recording = _folder.file("played.wav");
    _folder.write("alsoft.conf", "[general]\nchannels = stereo\nsample-type = int16\nfrequency = 44100\n"
                                 "[wave]\nfile = " +
                                     recording + "\n");
    setenv("ALSOFT_DRIVERS", "wave", 1);
    setenv("ALSOFT_CONF", _folder.file("alsoft.conf").c_str(), 1);

    // One second of pictures and of a 440 Hz tone.
    const std::string path = _folder.file("tone.mkv");
    ASSERT_TRUE(runFFmpeg(greyRampSource(64, 48, 1.0) + " " + toneSource(1.0) +
                          " -c:v mpeg4 -c:a pcm_s16le " + path));
    {
        osg::ref_ptr<osg::ImageStream> stream = openMovie(path);
        ASSERT_TRUE(stream.valid());
        // The picture follows the sound to the end and stops there.
        ASSERT_TRUE(playOnceToTheEnd(*stream));
        EXPECT_GT(stream->getCurrentTime(), 0.9);
        // The sound still queued plays out while the output writes 0.3 s more (stereo, 16 bits).
        const auto written = recordedBytes(recording);
        EXPECT_TRUE(updateMovieUntil(*stream, [&]
                                     { return recordedBytes(recording) >= written + 44100 * 4 * 3 / 10; }));
    }

    // The samples follow the header's "data" tag and length.
    const std::string played = readFile(recording);
    const size_t data = played.find("data");
    ASSERT_NE(std::string::npos, data) << "nothing was played to " << recording;
    std::vector<int16_t> samples((played.size() - data - 8) / sizeof(int16_t));
    std::memcpy(samples.data(), played.data() + data + 8, samples.size() * sizeof(int16_t));
    double loudSeconds = 0.0;
    const double frequency = toneFrequency(samples, loudSeconds);
    EXPECT_GT(loudSeconds, 0.8);
    EXPECT_NEAR(440.0, frequency, 5.0);
}

// The sound's time line as the output plays it: each piece at its movie time, silence where
// there is none, late sound dropped, so that the playing position is the movie's clock.

TEST(MovieSoundTimeline, SoundPlaysAtItsMovieTimeWithSilenceBeforeAndBetween)
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    struct Piece
    {
        double seconds, length;
        int16_t value;
    };
    // Pulls 'waitFirst' seconds of silence, queues the pieces and ends: the output holds 'played'.
    const auto expectPlayed =
        [](double waitFirst, const std::vector<Piece>& pieces, const std::vector<int>& played)
    {
        Timeline sound;
        EXPECT_EQ(std::vector<int>(static_cast<size_t>(std::lround(waitFirst * 100)), 0),
                  every10ms(sound.pull(waitFirst)));
        EXPECT_EQ(std::lround(waitFirst / Novaro::MovieSound::chunkSeconds), long(sound.underruns()));
        for (const Piece& piece : pieces)
            sound.push(piece.seconds, piece.length, piece.value);
        sound.setEnded(true);
        EXPECT_EQ(played, every10ms(sound.pull(1.0)));
        // Played out and ended: the output stops.
        EXPECT_TRUE(sound.pull(0.1).empty());
    };
    // Starting late, with a hole, then a piece without a time that follows on.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    expectPlayed(0.0, {{0.05, 0.03, 100}, {0.12, 0.02, 200}, {nan, 0.02, 300}},
                 steps({{5, 0}, {3, 100}, {4, 0}, {2, 200}, {2, 300}}));
    // Rounded times a few samples off are not holes; a piece overlapping what is queued loses its
    // overlap.
    expectPlayed(0.0, {{0.0, 0.03, 100}, {0.0305, 0.02, 200}, {0.0, 0.06, 300}},
                 steps({{3, 100}, {2, 200}, {1, 300}}));
    // Nothing decoded yet: the time runs on in silence, and sound for moments already played is
    // dropped, so that what comes later stays in time with the picture.
    expectPlayed(0.06, {{0.0, 0.1, 100}, {0.1, 0.02, 200}}, steps({{4, 100}, {2, 200}}));
    // The first piece after a start is not snapped to the silence played while waiting for it,
    // however short: that would put the whole sound behind the picture.
    expectPlayed(0.02, {{0.0, 0.05, 100}, {0.05, 0.02, 200}}, steps({{3, 100}, {2, 200}}));
    // A flush starts the time line anew at the given time; older sound is gone.
    Timeline sound;
    sound.push(0.0, 0.05, 100);
    const unsigned int before = sound.generation();
    sound.flush(2.0);
    EXPECT_NE(before, sound.generation());
    sound.push(2.05, 0.02, 200);
    EXPECT_NEAR(2.07, sound.endOfQueuedSound(), 1e-9);
    sound.setEnded(true);
    EXPECT_EQ(steps({{5, 0}, {2, 200}}), every10ms(sound.pull(1.0)));
}
