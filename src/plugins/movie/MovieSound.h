#pragma once

#include <SFML/Audio/SoundStream.hpp>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Novaro
{

// A movie's sound on its way to the sound output: the decoding thread pushes 16-bit interleaved
// samples into a queue allocated once; the sound library's thread pulls them as it plays. Its
// playing offset is the movie's clock, which the picture follows.
//
// Bounds: the queue holds queueSeconds of sound (the decoding thread waits while it is full, so a
// paused movie stops decoding); the sound library is handed chunkSeconds at a time; when the queue
// runs dry before the end, a chunk of silence keeps the output going (an underrun, counted).
class MovieSound : public sf::SoundStream
{
public:
    static constexpr double queueSeconds = 2.0;
    static constexpr double chunkSeconds = 0.02;

    MovieSound(unsigned int channels, unsigned int sampleRate);
    ~MovieSound() override;

    // Decoding thread: appends samples decoded for 'generation'; samples of an older generation
    // (decoded before a flush) are dropped. Waits while the queue is full.
    void push(const int16_t* samples, size_t frames, unsigned int generation);
    // Drops every queued sample and starts a new generation, whose number is returned.
    unsigned int flush();
    unsigned int generation() const;
    // No more samples will come: the output plays what is queued and stops.
    void setEnded(bool ended);
    // Wakes every wait for good (the movie is closing).
    void release();
    // Seconds of sound pushed since the last flush.
    double secondsPushed() const;
    // Seconds of silence handed out since the last flush because nothing was decoded yet. They
    // are not movie time: a clock on the playing position takes them off.
    double secondsOfSilence() const;
    unsigned int underruns() const { return _underruns; }

protected:
    bool onGetData(Chunk& data) override;
    void onSeek(sf::Time) override {}

private:
    size_t queued() const { return _written - _read; }

    const unsigned int _channels;
    const unsigned int _sampleRate;
    mutable std::mutex _mutex;
    std::condition_variable _space;
    std::vector<int16_t> _queue; // ring of samples
    uint64_t _written = 0;       // samples written and read so far (ring positions)
    uint64_t _read = 0;
    uint64_t _pushedSinceFlush = 0;
    uint64_t _silenceSinceFlush = 0;
    std::vector<int16_t> _chunk; // what the sound library is handed
    unsigned int _generation = 0;
    bool _ended = false;
    bool _released = false;
    unsigned int _underruns = 0;
};

} // namespace Novaro
