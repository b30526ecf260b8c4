// novaro-bench-avsync: how far apart picture and sound of a playing movie are, measured from the
// outside: what the movie stream shows against what the sound output actually plays.
//
//   novaro-bench-avsync [SECONDS] [late|early|holes]
//
// Writes a movie (SECONDS long, 60 by default; 25 frames per second, each frame numbered in a band
// of blocks) whose sound is silent but for a 1000 Hz beep at the start of every second. The sound
// output is OpenAL Soft's "wave" back end recording into a file, so the sound is timed by the
// samples that were really mixed. The movie plays through the player's movie stream, its update
// called every millisecond as a fast frame loop would; each time frame 25k (second k) appears,
// its wall-clock time is noted. Afterwards the beeps are found in the recording and each picture
// is paired with the nearest beep: the difference is how much later (+) or earlier (-) the picture
// comes than its sound. A click played at a known time before the movie lines the recording up with the
// wall clock, through the same sound path as the movie's own sound.
//
// Two runs: the whole movie played straight through, then 20 cycles of pause, rewind and looping
// on a 3-second excerpt, after which 5 more seconds are measured.
//
// The sound may also cover only part of the movie, its stream holding no packets elsewhere: "late"
// starts it 2.5 s after the picture, "early" ends it at 60 % of the movie, "holes" leaves it out
// for 1.5 s of every 5. Only the beeps that exist are paired with pictures.
#include "MovieStream.h"
#include "MovieWriter.h"
#include "SoundRecording.h"

#include <SFML/Audio/Sound.hpp>
#include <SFML/Audio/SoundBuffer.hpp>
#include <osg/Timer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

const int framesPerSecond = 25;
const int codeBits = 11; // up to 2047 frames: 80 seconds
const int movieWidth = 176;
const int movieHeight = 96;
const int bandHeight = 16;
const double beepHz = 1000.0;
const double beepSeconds = 0.04;
const int recordingRate = 44100;

std::string temporaryPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() /
            ("novaro-avsync-" + std::to_string(getpid()) + "-" + name))
        .string();
}

bool writeMarkedMovie(const std::string& path, double seconds, const std::string& spans)
{
    NovaroTest::MovieDescription movie;
    if (spans == "late")
        movie.toneSpans = {{2.5, seconds}};
    else if (spans == "early")
        movie.toneSpans = {{0.0, 0.6 * seconds}};
    else if (spans == "holes")
        for (double start = 0.0; start < seconds; start += 5.0)
            movie.toneSpans.emplace_back(start, start + 3.5);
    movie.width = movieWidth;
    movie.height = movieHeight;
    movie.framesPerSecond = framesPerSecond;
    movie.frames = static_cast<int>(seconds * framesPerSecond);
    movie.toneHz = beepHz;
    movie.toneLevel = [](double t) { return std::fmod(t, 1.0) < beepSeconds ? 1.0 : 0.0; };
    movie.paint = [](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red, int chromaStride)
    {
        for (int row = 0; row < movieHeight; ++row)
            std::fill(luma + row * lumaStride, luma + row * lumaStride + movieWidth, 100);
        for (int row = 0; row < movieHeight / 2; ++row)
        {
            std::fill(blue + row * chromaStride, blue + row * chromaStride + movieWidth / 2, 128);
            std::fill(red + row * chromaStride, red + row * chromaStride + movieWidth / 2, 128);
        }
        NovaroTest::paintFrameCode(index, movieWidth, bandHeight, luma, lumaStride, blue, red, chromaStride,
                                   codeBits);
    };
    return NovaroTest::writeMovie(path, movie);
}

// The frame number in the stream's current picture (RGB, first row at the top).
int frameShown(const osg::Image& image)
{
    const int blockWidth = movieWidth / codeBits / 2 * 2;
    const int row = bandHeight / 2;
    return NovaroTest::readFrameCode(
        [&](int block)
        {
            const unsigned char* pixel =
                image.data() + row * image.getRowStepInBytes() + (block * blockWidth + blockWidth / 2) * 3;
            return (pixel[0] + pixel[1] + pixel[2]) / 3;
        },
        codeBits);
}

// Wall-clock seconds (since the clock's start) at which a frame numbered 25k first appeared.
struct SecondMark
{
    double wallSeconds;
    int frame;
};

class Watcher
{
public:
    Watcher(Novaro::MovieStream& stream, const osg::Timer& clock) : _stream(stream), _clock(clock) {}

    // Updates the stream every millisecond for 'seconds', noting each second's first frame.
    void watch(double seconds, bool measure)
    {
        const double end = _clock.time_s() + seconds;
        while (_clock.time_s() < end)
        {
            _stream.update(nullptr);
            if (_stream.getModifiedCount() != _modified)
            {
                _modified = _stream.getModifiedCount();
                const int frame = frameShown(_stream);
                if (measure && frame % framesPerSecond == 0 && frame != _lastMarked)
                    marks.push_back({_clock.time_s(), frame});
                _lastMarked = frame % framesPerSecond == 0 ? frame : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    std::vector<SecondMark> marks;

private:
    Novaro::MovieStream& _stream;
    const osg::Timer& _clock;
    unsigned int _modified = 0;
    int _lastMarked = -1;
};

// Onsets of the beeps in the recording, in recording seconds: where the 1000 Hz level in a 5 ms
// window first passes half the beep's level after a quiet stretch.
std::vector<double> beepOnsets(const NovaroTest::SoundRecording& sound, double hz)
{
    const size_t window = sound.sampleRate / 200, hop = sound.sampleRate / 1000;
    double loudest = 0.0;
    for (size_t first = 0; first + window < sound.samples.size(); first += window)
        loudest = std::max(loudest, sound.toneAmplitude(hz, first, window));
    std::vector<double> onsets;
    double lastOnset = -1.0;
    for (size_t first = 0; first + window < sound.samples.size(); first += hop)
    {
        const double seconds = static_cast<double>(first + window) / sound.sampleRate;
        if (sound.toneAmplitude(hz, first, window) > 0.5 * loudest && seconds - lastOnset > 0.2)
        {
            onsets.push_back(seconds);
            lastOnset = seconds;
        }
        else if (sound.toneAmplitude(hz, first, window) > 0.5 * loudest)
            lastOnset = seconds;
    }
    return onsets;
}

void report(const char* title, const std::vector<SecondMark>& marks, const std::vector<double>& beeps,
            double recordingStart)
{
    std::vector<double> offsets;
    for (const SecondMark& mark : marks)
    {
        double nearest = 1e9;
        for (double beep : beeps)
            if (std::fabs(mark.wallSeconds - (recordingStart + beep)) < std::fabs(nearest))
                nearest = mark.wallSeconds - (recordingStart + beep);
        if (std::fabs(nearest) < 0.5)
            offsets.push_back(nearest * 1000.0);
    }
    if (offsets.empty())
    {
        std::printf("%-38s no pictures paired with beeps\n", title);
        return;
    }
    std::sort(offsets.begin(), offsets.end());
    double sum = 0.0, worst = 0.0;
    for (double offset : offsets)
    {
        sum += offset;
        worst = std::max(worst, std::fabs(offset));
    }
    std::printf("%-38s %3zu marks  picture minus sound: mean %+6.1f ms  median %+6.1f ms  min %+6.1f ms  "
                "max %+6.1f ms  worst |%.1f| ms\n",
                title, offsets.size(), sum / offsets.size(), offsets[offsets.size() / 2], offsets.front(),
                offsets.back(), worst);
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const std::string spans = argc > 2 ? argv[2] : "";
    if (seconds < 4.0 || seconds * framesPerSecond >= (1 << codeBits) ||
        !(spans.empty() || spans == "late" || spans == "early" || spans == "holes"))
    {
        std::fprintf(stderr, "usage: novaro-bench-avsync [SECONDS from 4 to 80] [late|early|holes]\n");
        return 2;
    }
    const std::string moviePath = temporaryPath("movie.mkv");
    const std::string recordingPath = temporaryPath("sound.wav");
    const std::string configurationPath = temporaryPath("alsoft.conf");
    std::ofstream(configurationPath.c_str())
        << NovaroTest::waveRecorderConfiguration(recordingPath) << "\n[general]\nperiod_size = 256\n";
    setenv("ALSOFT_CONF", configurationPath.c_str(), 1);
    setenv("ALSOFT_DRIVERS", "wave", 1);
    if (!writeMarkedMovie(moviePath, seconds, spans))
    {
        std::fprintf(stderr, "cannot write %s\n", moviePath.c_str());
        return 1;
    }

    // The click: a 2000 Hz burst whose onset in the recording ties recording time to wall time.
    osg::Timer clock;
    std::vector<sf::Int16> burst(recordingRate / 50);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<sf::Int16>(20000.0 * std::sin(2.0 * M_PI * 2000.0 * i / recordingRate));
    sf::SoundBuffer clickBuffer;
    clickBuffer.loadFromSamples(burst.data(), burst.size(), 1, recordingRate);
    sf::Sound click(clickBuffer);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double clickWall = clock.time_s();
    click.play();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    std::string error;
    osg::ref_ptr<Novaro::MovieStream> stream = Novaro::MovieStream::open(moviePath, error);
    if (!stream.valid() || !stream->hasSound())
    {
        std::fprintf(stderr, "cannot play %s with sound: %s\n", moviePath.c_str(), error.c_str());
        return 1;
    }
    Watcher watcher(*stream, clock);
    stream->setLoopingMode(osg::ImageStream::NO_LOOPING);
    stream->play();
    watcher.watch(seconds + 0.5, true);
    const size_t straightMarks = watcher.marks.size();

    // Cycles on the first three seconds, looped.
    stream->setLoopingMode(osg::ImageStream::LOOPING);
    stream->rewind();
    stream->play();
    for (int cycle = 0; cycle < 20; ++cycle)
    {
        watcher.watch(0.4, false);
        stream->pause();
        watcher.watch(0.2, false);
        stream->play();
        watcher.watch(0.3, false);
        stream->rewind();
    }
    watcher.watch(5.0, true);
    stream->quit();
    stream = nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    NovaroTest::SoundRecording sound;
    if (!sound.read(recordingPath))
    {
        std::fprintf(stderr, "cannot read the recording %s\n", recordingPath.c_str());
        return 1;
    }
    const std::vector<double> clicks = beepOnsets(sound, 2000.0);
    if (clicks.empty())
    {
        std::fprintf(stderr, "the click is not in the recording\n");
        return 1;
    }
    const double recordingStart = clickWall - clicks.front();
    const std::vector<double> beeps = beepOnsets(sound, beepHz);
    std::printf(
        "movie %.0f s, %d fps, sound 1000 Hz beep each second%s%s; recording %.1f s, %zu beeps found\n",
        seconds, framesPerSecond, spans.empty() ? "" : ", sound ", spans.c_str(), sound.seconds(),
        beeps.size());
    report("straight through",
           std::vector<SecondMark>(watcher.marks.begin(), watcher.marks.begin() + straightMarks), beeps,
           recordingStart);
    report("after 20 pause/rewind/loop cycles",
           std::vector<SecondMark>(watcher.marks.begin() + straightMarks, watcher.marks.end()), beeps,
           recordingStart);
    std::filesystem::remove(moviePath);
    std::filesystem::remove(recordingPath);
    std::filesystem::remove(configurationPath);
    return 0;
}
