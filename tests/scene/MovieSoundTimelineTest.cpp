// The sound's time line as the output plays it: each piece at its movie time, silence where
// there is none, late sound dropped, so that the playing position is the movie's clock.

#include "MovieSound.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace
{

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

TEST(MovieSoundTimeline, SoundPlaysAtItsMovieTimeWithSilenceBeforeAndBetween)
{
    setenv("ALSOFT_DRIVERS", "null", 1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    {
        // Starting late, with a hole, then a piece without a time that follows on.
        Timeline sound;
        sound.push(0.05, 0.03, 100);
        sound.push(0.12, 0.02, 200);
        sound.push(nan, 0.02, 300);
        sound.setEnded(true);
        EXPECT_EQ(steps({{5, 0}, {3, 100}, {4, 0}, {2, 200}, {2, 300}}), every10ms(sound.pull(1.0)));
    }
    {
        // Rounded times a few samples off are not holes; a piece overlapping what is queued
        // loses its overlap.
        Timeline sound;
        sound.push(0.0, 0.03, 100);
        sound.push(0.0305, 0.02, 200);
        sound.push(0.0, 0.06, 300);
        sound.setEnded(true);
        EXPECT_EQ(steps({{3, 100}, {2, 200}, {1, 300}}), every10ms(sound.pull(1.0)));
    }
    {
        // Nothing decoded yet: the time runs on in silence, and sound for moments already played
        // is dropped, so that what comes later stays in time with the picture.
        Timeline sound;
        EXPECT_EQ(steps({{6, 0}}), every10ms(sound.pull(0.06)));
        EXPECT_EQ(1u, sound.underruns() / 3);
        sound.push(0.0, 0.1, 100);
        sound.push(0.1, 0.02, 200);
        sound.setEnded(true);
        EXPECT_EQ(steps({{4, 100}, {2, 200}}), every10ms(sound.pull(1.0)));
        // Played out and ended: the output stops.
        EXPECT_TRUE(sound.pull(0.1).empty());
    }
    {
        // The first piece after a start is not snapped to the silence played while waiting for
        // it, however short: that would put the whole sound behind the picture.
        Timeline sound;
        EXPECT_EQ(steps({{2, 0}}), every10ms(sound.pull(0.02)));
        sound.push(0.0, 0.05, 100);
        sound.push(0.05, 0.02, 200);
        sound.setEnded(true);
        EXPECT_EQ(steps({{3, 100}, {2, 200}}), every10ms(sound.pull(1.0)));
    }
    {
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
}
