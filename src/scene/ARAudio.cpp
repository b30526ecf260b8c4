#include "scene/ARAudio.h"

#include "scene/AudioOutput.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <new>
#include <vector>

namespace Novaro
{

namespace
{

// Samples or stream is chosen by the name alone, in any case (".WAV" is a sample).
std::string lowerCaseExtension(const std::string& file)
{
    return osgDB::convertToLowerCase(osgDB::getFileExtension(file));
}

} // namespace

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
    const std::string unplayed = unplayedFileType(file);
    if (!unplayed.empty())
    {
        osg::notify(osg::NOTICE) << "WARNING: audio file not supported." << std::endl;
        // The line above shows only with -verbose; the user must learn which sound stays silent.
        osg::notify(osg::FATAL) << " WARNING: cannot play " << file << ": " << unplayed << "." << std::endl;
        return;
    }
    _useSamples = lowerCaseExtension(file) == "wav";
    osg::notify(osg::NOTICE) << (_useSamples ? "ARAudio: using samples..." : "ARAudio: using streams...")
                             << std::endl;
    const std::string failure = load(file);
    if (!failure.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot play " << file << ": " << failure << "." << std::endl;
        osg::notify(osg::FATAL) << "ERROR: could not load specified audio file." << std::endl;
        return;
    }
    if (!visible)
        removeChildren(0, getNumChildren());
}

std::string ARAudio::unplayedFileType(const std::string& file)
{
    const std::string extension = lowerCaseExtension(file);
    if (extension == "wav" || extension == "ogg")
        return std::string();
    return "a sound object plays only .wav and .ogg files";
}

std::string ARAudio::load(const std::string& file)
{
    // The decoders allocate after the file's header: a sample after its claimed length, a stream
    // after its claimed channels and rate. The header is checked first, and a sample is read no
    // further than the file's data goes.
    try
    {
        const std::string failure = _useSamples ? loadSamples(file) : openStream(file);
        if (!failure.empty())
            return failure;
    }
    catch (const std::bad_alloc&)
    {
        return "not enough memory";
    }
    osg::notify(osg::NOTICE) << "SampleRate: "
                             << (_useSamples ? _buffer.getSampleRate() : _music.getSampleRate()) << std::endl;
    osg::notify(osg::NOTICE) << "Channels: "
                             << (_useSamples ? _buffer.getChannelCount() : _music.getChannelCount())
                             << std::endl;
    osg::notify(osg::NOTICE) << "Duration: " << _duration << std::endl;
    setLooping(false);
    source().setPitch(1.0f);
    source().setVolume(100.0f);
    _loaded = true;
    return std::string();
}

std::string ARAudio::loadSamples(const std::string& file)
{
    std::vector<short> samples;
    unsigned int channels = 0;
    unsigned int sampleRate = 0;
    const std::string failure = AudioOutput::readSamples(file, samples, channels, sampleRate);
    if (!failure.empty())
        return failure;
    if (!_buffer.loadFromSamples(samples.data(), samples.size(), channels, sampleRate))
        return "the sound library refused its samples";
    _duration = _buffer.getDuration().asSeconds();
    _sound.setBuffer(_buffer);
    return std::string();
}

std::string ARAudio::openStream(const std::string& file)
{
    const std::string unplayable = AudioOutput::checkPlayable(file);
    if (!unplayable.empty())
        return unplayable;
    if (!_music.openFromFile(file))
        return "the sound library could not open it";
    _duration = _music.getDuration().asSeconds();
    return std::string();
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
