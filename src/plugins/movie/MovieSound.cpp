#include "MovieSound.h"

#include <algorithm>

namespace Novaro
{

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

void MovieSound::push(const int16_t* samples, size_t frames, unsigned int generation)
{
    size_t remaining = frames * _channels;
    std::unique_lock<std::mutex> lock(_mutex);
    while (remaining > 0)
    {
        _space.wait(lock, [this, generation]
                    { return _released || generation != _generation || queued() < _queue.size(); });
        if (_released || generation != _generation)
            return;
        const size_t count = std::min(remaining, _queue.size() - queued());
        for (size_t index = 0; index < count; ++index)
            _queue[(_written + index) % _queue.size()] = samples[index];
        _written += count;
        _pushedSinceFlush += count;
        samples += count;
        remaining -= count;
    }
}

unsigned int MovieSound::flush()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _read = _written;
    _pushedSinceFlush = 0;
    _silenceSinceFlush = 0;
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

double MovieSound::secondsPushed() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<double>(_pushedSinceFlush) / _channels / _sampleRate;
}

double MovieSound::secondsOfSilence() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<double>(_silenceSinceFlush) / _channels / _sampleRate;
}

bool MovieSound::onGetData(Chunk& data)
{
    std::lock_guard<std::mutex> lock(_mutex);
    size_t count = std::min(queued(), _chunk.size());
    if (count == 0)
    {
        if (_ended || _released)
            return false;
        // Nothing decoded yet: silence rather than stopping the output.
        ++_underruns;
        std::fill(_chunk.begin(), _chunk.end(), 0);
        count = _chunk.size();
        _silenceSinceFlush += count;
    }
    else
    {
        for (size_t index = 0; index < count; ++index)
            _chunk[index] = _queue[(_read + index) % _queue.size()];
        _read += count;
        _space.notify_all();
    }
    // Whole frames only.
    count -= count % _channels;
    data.samples = _chunk.data();
    data.sampleCount = count;
    return count > 0;
}

} // namespace Novaro
