#include "MovieSound.h"

#include <SFML/Audio/SoundBuffer.hpp>
#include <SFML/System/Err.hpp>

#include <algorithm>
#include <cmath>
#include <dlfcn.h>
#include <streambuf>

namespace Novaro
{

namespace
{

// Swallows what the sound library writes while the output is being asked for.
class Discard : public std::streambuf
{
protected:
    int overflow(int character) override { return character == EOF ? 0 : character; }
};

bool askOutput(std::string& reason)
{
    Discard discard;
    std::streambuf* previous = sf::err().rdbuf(&discard);
    bool available = false;
    {
        // The sound library opens its output device with its first object, and makes its
        // context current only when the device opened. OpenAL is reached through the library
        // already loaded for the sound library; its headers are not needed for one call.
        sf::SoundBuffer probe;
        using CurrentContext = void* (*)();
        const auto currentContext =
            reinterpret_cast<CurrentContext>(dlsym(RTLD_DEFAULT, "alcGetCurrentContext"));
        available = currentContext && currentContext() != nullptr;
        if (!currentContext)
            reason = "the OpenAL library is not loaded";
        else if (!available)
            reason = "no sound output device could be opened";
    }
    sf::err().rdbuf(previous);
    return available;
}

} // namespace

bool MovieSound::outputAvailable(std::string& reason)
{
    static std::string why;
    static const bool available = askOutput(why);
    reason = why;
    return available;
}

MovieSound::MovieSound(unsigned int channels, unsigned int sampleRate)
    : _channels(channels), _sampleRate(sampleRate),
      _queue(static_cast<size_t>(queueSeconds * sampleRate) * channels),
      _chunk(static_cast<size_t>(chunkSeconds * sampleRate) * channels)
{
    initialize(channels, sampleRate);
}

MovieSound::~MovieSound()
{
    release();
    stop();
}

int64_t MovieSound::tailPosition() const
{
    if (_pieces.empty())
        return _readPosition;
    const Piece& last = _pieces.back();
    return last.position + static_cast<int64_t>((_written - last.start) / _channels);
}

void MovieSound::push(const int16_t* samples, size_t frames, double seconds, unsigned int generation)
{
    std::unique_lock<std::mutex> lock(_mutex);
    if (_released || generation != _generation)
        return;
    const int64_t tail = tailPosition();
    int64_t position = tail;
    if (std::isfinite(seconds) && std::abs(seconds) < 1e9)
    {
        position = std::llround(seconds * _sampleRate);
        // Only a piece that follows another one is snapped to it: the first after a start is
        // placed exactly, or the silence played while waiting for it would delay it.
        if (!_pieces.empty() &&
            std::abs(position - tail) <= static_cast<int64_t>(toleranceSeconds * _sampleRate))
            position = tail;
    }
    // Sound for a moment already played (or overlapping what is queued) is dropped.
    if (position < tail)
    {
        const uint64_t late = static_cast<uint64_t>(tail - position);
        if (late >= frames)
            return;
        samples += late * _channels;
        frames -= late;
        position = tail;
    }
    if (_pieces.empty() || position != tail)
        _pieces.push_back({_written, position});
    writeSamples(lock, samples, frames * _channels, generation);
}

void MovieSound::writeSamples(std::unique_lock<std::mutex>& lock, const int16_t* samples, size_t count,
                              unsigned int generation)
{
    while (count > 0)
    {
        if (!_waitForSpace && queued() == _queue.size())
            return;
        _space.wait(lock, [this, generation]
                    { return _released || generation != _generation || queued() < _queue.size(); });
        if (_released || generation != _generation)
            return;
        const size_t part = std::min(count, _queue.size() - queued());
        for (size_t index = 0; index < part; ++index)
            _queue[(_written + index) % _queue.size()] = samples[index];
        _written += part;
        samples += part;
        count -= part;
    }
}

unsigned int MovieSound::flush(double seconds)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _read = _written;
    _pieces.clear();
    _readPosition = std::llround(seconds * _sampleRate);
    _startSeconds = seconds;
    _ended = false;
    ++_generation;
    _space.notify_all();
    return _generation;
}

unsigned int MovieSound::generation() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _generation;
}

void MovieSound::setEnded(bool ended)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _ended = ended;
}

void MovieSound::release()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _released = true;
    _space.notify_all();
}

void MovieSound::setWaitForSpace(bool wait)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _waitForSpace = wait;
}

double MovieSound::endOfQueuedSound() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<double>(tailPosition()) / _sampleRate;
}

double MovieSound::playingSeconds() const
{
    double start = 0.0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        start = _startSeconds;
    }
    return start + getPlayingOffset().asSeconds();
}

size_t MovieSound::framesUntilNextPiece() const
{
    const uint64_t end = _pieces.size() > 1 ? _pieces[1].start : _written;
    return static_cast<size_t>((end - _read) / _channels);
}

bool MovieSound::onGetData(Chunk& data)
{
    std::lock_guard<std::mutex> lock(_mutex);
    const size_t chunkFrames = _chunk.size() / _channels;
    size_t filled = 0;
    while (filled < chunkFrames && !_pieces.empty())
    {
        const size_t available = framesUntilNextPiece();
        if (available == 0)
        {
            // The last piece stays, even when played out: the decoder may be adding to it.
            if (_pieces.size() == 1)
                break;
            _pieces.pop_front();
            continue;
        }
        const Piece& piece = _pieces.front();
        const int64_t head = piece.position + static_cast<int64_t>((_read - piece.start) / _channels);
        if (head < _readPosition)
        {
            // Came after its moment was played.
            const size_t late = static_cast<size_t>(std::min<int64_t>(_readPosition - head, available));
            _read += late * _channels;
            continue;
        }
        if (head > _readPosition)
        {
            // Silence until the piece's moment.
            const size_t wait =
                static_cast<size_t>(std::min<int64_t>(head - _readPosition, chunkFrames - filled));
            std::fill(_chunk.begin() + filled * _channels, _chunk.begin() + (filled + wait) * _channels, 0);
            filled += wait;
            _readPosition += static_cast<int64_t>(wait);
            continue;
        }
        const size_t count = std::min(available, chunkFrames - filled);
        for (size_t index = 0; index < count * _channels; ++index)
            _chunk[filled * _channels + index] = _queue[(_read + index) % _queue.size()];
        _read += count * _channels;
        filled += count;
        _readPosition += static_cast<int64_t>(count);
    }
    _space.notify_all();
    if (filled < chunkFrames && !(_ended || _released))
    {
        // Nothing more decoded yet: the time goes on in silence rather than stopping the output.
        if (filled == 0)
            ++_underruns;
        std::fill(_chunk.begin() + filled * _channels, _chunk.end(), 0);
        _readPosition += static_cast<int64_t>(chunkFrames - filled);
        filled = chunkFrames;
    }
    data.samples = _chunk.data();
    data.sampleCount = filled * _channels;
    return filled > 0;
}

} // namespace Novaro
