#include "ARAudio.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

namespace Novaro
{

ARAudio::~ARAudio()
{
    _sound.stop();
    _music.stop();
}

void ARAudio::setupAudio(const std::string& file, bool visible)
{
    if (file.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: could not create audio node: missing audio file name."
                                << std::endl;
        return;
    }
    _audioFile = file;
    const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(file));
    if (extension == "wav")
    {
        _useSamples = true;
        osg::notify(osg::NOTICE) << "ARAudio: using samples..." << std::endl;
    }
    else if (extension == "ogg")
    {
        _useSamples = false;
        osg::notify(osg::NOTICE) << "ARAudio: using streams..." << std::endl;
    }
    else
    {
        osg::notify(osg::NOTICE) << "WARNING: audio file not supported." << std::endl;
        return;
    }
    if (!load(file))
    {
        osg::notify(osg::FATAL) << "ERROR: could not load specified audio file." << std::endl;
        return;
    }
    if (!visible)
        removeChildren(0, getNumChildren());
}

bool ARAudio::load(const std::string& file)
{
    unsigned int sampleRate = 0;
    unsigned int channels = 0;
    if (_useSamples)
    {
        if (!_buffer.loadFromFile(file))
            return false;
        sampleRate = _buffer.getSampleRate();
        channels = _buffer.getChannelCount();
        _duration = _buffer.getDuration().asSeconds();
        _sound.setBuffer(_buffer);
    }
    else
    {
        if (!_music.openFromFile(file))
            return false;
        sampleRate = _music.getSampleRate();
        channels = _music.getChannelCount();
        _duration = _music.getDuration().asSeconds();
    }
    osg::notify(osg::NOTICE) << "SampleRate: " << sampleRate << std::endl;
    osg::notify(osg::NOTICE) << "Channels: " << channels << std::endl;
    osg::notify(osg::NOTICE) << "Duration: " << _duration << std::endl;
    setLooping(false);
    source().setPitch(1.0f);
    source().setVolume(100.0f);
    _loaded = true;
    return true;
}

sf::SoundSource& ARAudio::source()
{
    return _useSamples ? static_cast<sf::SoundSource&>(_sound) : _music;
}

sf::SoundSource::Status ARAudio::getStatus() const
{
    return _useSamples ? _sound.getStatus() : _music.getStatus();
}

bool ARAudio::getLoop() const
{
    return _useSamples ? _sound.getLoop() : _music.getLoop();
}

void ARAudio::play()
{
    osg::notify(osg::NOTICE) << " Audio <" << _audioFile << "> PLAY" << std::endl;
    if (_loaded)
        source().play();
}

void ARAudio::pause()
{
    osg::notify(osg::NOTICE) << " Audio <" << _audioFile << "> PAUSE" << std::endl;
    if (_loaded)
        source().pause();
}

void ARAudio::togglePause()
{
    osg::notify(osg::NOTICE) << " Audio <" << _audioFile << "> TOGGLE PAUSE" << std::endl;
    if (!_loaded)
        return;
    // Only a paused sound resumes; one never started is paused and so stays silent.
    if (getStatus() == sf::SoundSource::Paused)
        source().play();
    else
        source().pause();
}

void ARAudio::rewind()
{
    osg::notify(osg::NOTICE) << " Audio <" << _audioFile << "> REWIND" << std::endl;
    if (!_loaded)
        return;
    source().stop();
    source().play();
}

void ARAudio::setLoop(bool on)
{
    osg::notify(osg::NOTICE) << " Audio <" << _audioFile << "> LOOP (" << (on ? "on" : "off") << ")"
                             << std::endl;
    setLooping(on);
}

// Looping is not part of the sound library's common base: samples and streams each have their own.
void ARAudio::setLooping(bool on)
{
    if (_useSamples)
        _sound.setLoop(on);
    else
        _music.setLoop(on);
}

void ARAudio::toggleLoop()
{
    setLooping(!getLoop());
}

} // namespace Novaro
