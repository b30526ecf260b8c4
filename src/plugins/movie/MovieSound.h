#pragma once

#include <SFML/Audio/SoundStream.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace Novaro
{

// A movie's sound on its way to the sound output: the decoding thread pushes 16-bit interleaved
// samples, each piece with its movie time, into a queue allocated once; the sound library's
// thread pulls them as it plays.
//
// The output plays the movie's time line without a break: every sample handed out stands for one
// sample period of movie time, whether it is the movie's sound or silence. Silence fills the time
// before the sound starts, its gaps, and any moment the decoder has nothing ready (an underrun,
// counted); sound that arrives for a moment already played is dropped. So the playing position is
// the movie's clock, which the picture follows, and that clock never waits for sound: a decoder
// held up by a full picture ring cannot stop it.
//
// Bounds: the queue holds queueSeconds of sound (the decoding thread waits while it is full, so a
// paused movie stops decoding); the sound library is handed chunkSeconds at a time.
class MovieSound : public sf::SoundStream
{
public:
    static constexpr double queueSeconds = 2.0;
    static constexpr double chunkSeconds = 0.02;
    // Pieces whose times are this close to where the previous piece ended follow it directly: the
    // containers' rounded times are not gaps.
    static constexpr double toleranceSeconds = 0.02;

    MovieSound(unsigned int channels, unsigned int sampleRate);
    ~MovieSound() override;

    // Whether this process has a sound output, asked once (without the sound library's own error
    // lines); 'reason' says why not.
    static bool outputAvailable(std::string& reason);

    // Decoding thread: queues samples decoded for 'generation', the first of them at movie time
    // 'seconds' (NaN: right after the previous piece); samples of an older generation (decoded
    // before a flush) are dropped. Waits while the queue is full.
    void push(const int16_t* samples, size_t frames, double seconds, unsigned int generation);
    // Drops every queued sample and starts a new generation, whose number is returned; the output
    // goes on from movie time 'seconds'. Call it with the output stopped.
    unsigned int flush(double seconds = 0.0);
    unsigned int generation() const;
    // No more samples will come: the output plays what is queued and stops.
    void setEnded(bool ended);
    // Wakes every wait for good (the movie is closing).
    void release();
    // While off, a full queue drops what does not fit instead of waiting: nothing plays the
    // queue yet (the movie is being opened), so waiting would be for good.
    void setWaitForSpace(bool wait);
    // Movie time at which the queued sound ends (where the next piece follows on).
    double endOfQueuedSound() const;
    // Movie time the output is playing now.
    double playingSeconds() const;
    unsigned int underruns() const { return _underruns; }

protected:
    bool onGetData(Chunk& data) override;
    void onSeek(sf::Time) override {}

private:
    // A run of queued samples that follow one another in time.
    struct Piece
    {
        uint64_t start;   // ring position of its first sample
        int64_t position; // movie time of that sample, in sample frames
    };
    size_t queued() const { return _written - _read; }
    int64_t tailPosition() const;
    size_t framesUntilNextPiece() const;
    void writeSamples(std::unique_lock<std::mutex>& lock, const int16_t* samples, size_t count,
                      unsigned int generation);

    const unsigned int _channels;
    const unsigned int _sampleRate;
    mutable std::mutex _mutex;
    std::condition_variable _space;
    std::vector<int16_t> _queue; // ring of samples
    uint64_t _written = 0;       // samples written and read so far (ring positions)
    uint64_t _read = 0;
    std::deque<Piece> _pieces;   // the queued runs, oldest first
    int64_t _readPosition = 0;   // movie time of the next sample handed out, in sample frames
    double _startSeconds = 0.0;  // movie time where the output started (after the last flush)
    std::vector<int16_t> _chunk; // what the sound library is handed
    unsigned int _generation = 0;
    bool _ended = false;
    bool _released = false;
    bool _waitForSpace = true;
    unsigned int _underruns = 0;
};

} // namespace Novaro
