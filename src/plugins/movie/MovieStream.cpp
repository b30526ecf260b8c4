#include "MovieStream.h"

#include <osg/Notify>

#include <algorithm>
#include <cstdio>

namespace Novaro
{

namespace
{

// Without a sound output every movie plays on the system clock; that is said once per run.
bool soundOutputAvailable()
{
    std::string reason;
    const bool available = MovieSound::outputAvailable(reason);
    static std::once_flag told;
    if (!available)
        std::call_once(told,
                       [&]
                       {
                           osg::notify(osg::FATAL) << "WARNING: no sound output (" << reason
                                                   << "): movies play without their sound" << std::endl;
                       });
    return available;
}

} // namespace

osg::ref_ptr<MovieStream> MovieStream::open(const std::string& path, std::string& error)
{
    osg::ref_ptr<MovieStream> stream = new MovieStream;
    if (!stream->_decoder.open(path, error))
        return nullptr;
    for (Slot& slot : stream->_slots)
        slot.picture.resize(stream->_decoder.pictureSize());
    if (stream->_decoder.hasSound() && !soundOutputAvailable())
        stream->_decoder.dropSound();
    if (stream->_decoder.hasSound())
    {
        MovieStream* self = stream.get();
        self->_sound.reset(new MovieSound(self->_decoder.soundChannels(), self->_decoder.soundSampleRate()));
        self->_decoder.setSoundSink(
            [self](const int16_t* samples, size_t frames, double seconds)
            { self->_sound->push(samples, frames, seconds + self->_loopOffset, self->_soundGeneration); });
    }
    // The first picture now, so the stream has its size and something to show before playing.
    if (stream->_sound)
        stream->_sound->setWaitForSpace(false);
    const bool decoded = stream->decodeInto(stream->_slots[0]);
    if (stream->_sound)
        stream->_sound->setWaitForSpace(true);
    if (!decoded)
    {
        error = stream->_decoder.lastError().empty() ? "no picture could be decoded"
                                                     : stream->_decoder.lastError();
        return nullptr;
    }
    // Said only of a movie that plays: a refused one has its own line.
    if (!stream->_decoder.soundProblem().empty())
        osg::notify(osg::FATAL) << "WARNING: movie " << path
                                << " plays without its sound: " << stream->_decoder.soundProblem()
                                << std::endl;
    stream->_nextToFill = 1;
    stream->_nextToShow = 1;
    stream->show(stream->_slots[0]);
    stream->setFileName(path);
    stream->_status = PAUSED;
    stream->_looping = stream->getLoopingMode() == LOOPING;
    stream->_thread = std::thread(&MovieStream::decodeLoop, stream.get());
    return stream;
}

MovieStream::~MovieStream()
{
    quit(true);
}

bool MovieStream::decodeInto(Slot& slot)
{
    double seconds = 0.0;
    const MovieDecoder::Result result = _decoder.next(slot.picture.data(), seconds);
    if (result != MovieDecoder::Result::Picture)
        return false;
    slot.seconds = seconds;
    return true;
}

void MovieStream::show(Slot& slot)
{
    for (Slot& other : _slots)
    {
        if (other.state == SlotState::Shown && &other != &slot)
            other.state = SlotState::Free;
    }
    slot.state = SlotState::Shown;
    setImage(_decoder.width(), _decoder.height(), 1, GL_RGB, GL_RGB, GL_UNSIGNED_BYTE, slot.picture.data(),
             osg::Image::NO_DELETE, 1);
    dirty();
}

void MovieStream::decodeLoop()
{
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;)
    {
        _wakeDecoder.wait(lock,
                          [this] {
                              return _quit || _rewindRequested ||
                                     (!_endOfStream && _slots[_nextToFill].state == SlotState::Free);
                          });
        if (_quit)
            return;
        if (_rewindRequested)
        {
            _rewindRequested = false;
            _endOfStream = false;
            _failed = false;
            _loopOffset = 0.0;
            _decoder.rewind();
            if (_sound)
                _soundGeneration = _sound->generation();
            continue;
        }
        Slot& slot = _slots[_nextToFill];
        // Decoding runs unlocked: the main thread only looks at slots that are Ready or Shown.
        lock.unlock();
        const bool decoded = decodeInto(slot);
        lock.lock();
        if (_rewindRequested || _quit)
            continue; // a picture from before the rewind is not shown
        if (decoded)
        {
            slot.seconds += _loopOffset;
            _lastDecodedSeconds = slot.seconds;
            slot.state = SlotState::Ready;
            _nextToFill = (_nextToFill + 1) % ringSize;
        }
        else if (!_decoder.lastError().empty())
        {
            // Reported once, by the main thread; the last picture stays.
            if (!_toldFailure)
                _reports.push_back("WARNING: movie " + getFileName() + " stopped: " + _decoder.lastError());
            _toldFailure = true;
            _failed = true;
            _endOfStream = true;
            if (_sound)
                _sound->setEnded(true);
        }
        else
            reachEnd();
    }
}

// At the end of the packets: start over when looping, else stop there. Called locked.
void MovieStream::reachEnd()
{
    reportShortEnd();
    if (_looping && _decoder.rewind())
    {
        // Start over with the clock going on: the first frame comes one frame after the last
        // one, or after the sound's end when the sound lasts longer.
        double end = _lastDecodedSeconds + 1.0 / _decoder.frameRate();
        if (_sound)
            end = std::max(end, _sound->endOfQueuedSound());
        _loopOffset = end;
        return;
    }
    _endOfStream = true;
    if (_sound)
        _sound->setEnded(true);
}

// A file that lacks its end (cut before it was opened, or damaged there) plays what it has; it
// is said once, since the movie the user placed is not the movie that plays.
void MovieStream::reportShortEnd()
{
    if (_toldShortEnd)
        return;
    _toldShortEnd = true;
    const double duration = _decoder.duration();
    const double reached = _decoder.reachedSeconds();
    if (duration <= 0.0 || reached >= duration - std::max(shortEndSeconds, 0.1 * duration))
        return;
    char text[128];
    std::snprintf(text, sizeof(text), " ends at %.2f s of its %.2f s: the file is cut short or damaged",
                  reached, duration);
    _reports.push_back("WARNING: movie " + getFileName() + text);
}

bool MovieStream::soundIsClock() const
{
    return _sound && _sound->getStatus() == sf::SoundSource::Playing;
}

double MovieStream::clockSeconds() const
{
    if (_status != PLAYING)
        return _clockBase;
    if (soundIsClock())
        return _sound->playingSeconds();
    return _clockBase + osg::Timer::instance()->delta_s(_clockStart, osg::Timer::instance()->tick());
}

// Stops the sound, drops what was queued, and plays it again from the decoder's new position.
void MovieStream::restartSound()
{
    if (!_sound)
        return;
    _sound->stop();
    _sound->flush();
    if (_status == PLAYING)
        _sound->play();
}

double MovieStream::getCurrentTime() const
{
    return clockSeconds();
}

void MovieStream::printReport()
{
    std::vector<std::string> reports;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_reports.empty())
            return;
        reports.swap(_reports);
    }
    for (const std::string& report : reports)
        osg::notify(osg::FATAL) << report << std::endl;
}

void MovieStream::update(osg::NodeVisitor*)
{
    printReport();
    if (_status != PLAYING)
        return;
    const double now = clockSeconds();
    // The system clock carries on from the sound's position when the sound stops (at its end).
    _clockBase = now;
    _clockStart = osg::Timer::instance()->tick();
    std::lock_guard<std::mutex> lock(_mutex);
    Slot* due = nullptr;
    while (_slots[_nextToShow].state == SlotState::Ready && _slots[_nextToShow].seconds <= now)
    {
        if (due)
        {
            due->state = SlotState::Free;
            ++_droppedPictures;
        }
        due = &_slots[_nextToShow];
        _nextToShow = (_nextToShow + 1) % ringSize;
    }
    if (due)
    {
        show(*due);
        ++_shownPictures;
        _wakeDecoder.notify_one();
    }
    else if (_endOfStream && _slots[_nextToShow].state != SlotState::Ready)
    {
        // The last picture stays; the stream pauses where it ended.
        _clockBase = now;
        _status = PAUSED;
    }
}

void MovieStream::play()
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (_status == PLAYING)
        return;
    if (_endOfStream && _slots[_nextToShow].state != SlotState::Ready)
    {
        // Play after the end starts the movie again, as a player's play button does.
        _rewindRequested = true;
        _endOfStream = false;
        for (Slot& slot : _slots)
            if (slot.state == SlotState::Ready)
                slot.state = SlotState::Free;
        _nextToFill = _nextToShow;
        _clockBase = 0.0;
        _wakeDecoder.notify_one();
        _status = PLAYING;
        restartSound();
    }
    _clockStart = osg::Timer::instance()->tick();
    _status = PLAYING;
    if (_sound && _sound->getStatus() != sf::SoundSource::Playing)
        _sound->play();
}

void MovieStream::pause()
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (_status != PLAYING)
        return;
    _clockBase = clockSeconds();
    _status = PAUSED;
    if (_sound)
        _sound->pause();
}

void MovieStream::rewind()
{
    std::lock_guard<std::mutex> lock(_mutex);
    // Pictures decoded ahead are dropped; the decoder starts again from the first frame, which is
    // shown as soon as it is decoded.
    for (Slot& slot : _slots)
        if (slot.state == SlotState::Ready)
            slot.state = SlotState::Free;
    _nextToFill = _nextToShow;
    _rewindRequested = true;
    _endOfStream = false;
    _clockBase = 0.0;
    _clockStart = osg::Timer::instance()->tick();
    restartSound();
    _wakeDecoder.notify_one();
}

void MovieStream::applyLoopingMode()
{
    std::lock_guard<std::mutex> lock(_mutex);
    _looping = getLoopingMode() == LOOPING;
    // A stream whose decoder had reached the end starts over when looping is switched on.
    if (_looping && _endOfStream && !_failed)
    {
        _endOfStream = false;
        _wakeDecoder.notify_one();
    }
}

void MovieStream::quit(bool waitForThreadToExit)
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _quit = true;
        _status = INVALID;
    }
    // A decoding thread waiting to hand over sound must not wait for good.
    if (_sound)
        _sound->release();
    _wakeDecoder.notify_one();
    if (_thread.joinable())
    {
        if (waitForThreadToExit)
            _thread.join();
        else
            _thread.detach();
    }
}

} // namespace Novaro
