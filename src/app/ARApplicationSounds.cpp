// Background soundtracks of the application: loaded at set-up, played by the frame loop and the
// sounds interaction mode.
#include "app/ARApplication.h"

#include "scene/AudioOutput.h"
#include "settings/AudioData.h"
#include "settings/PathRule.h"

#include <SFML/Audio/Music.hpp>

namespace Novaro
{

bool ARApplication::loadSoundtracks()
{
    if (!_audioConfiguration)
    {
        osg::notify(osg::FATAL) << "WARNING: missing audio data." << std::endl;
        return true;
    }
    for (const SoundtrackData& soundtrack : _audioConfiguration->getSoundtracks())
    {
        if (soundtrack.getSource().empty())
            continue;
        const std::string path = PathRule::resolve(_temporaryDirectory, soundtrack.getSource());
        if (PathRule::isReadableFile(path))
            loadAudioFile(path);
        else
            osg::notify(osg::FATAL) << " WARNING: cannot find soundtrack file: " << path << std::endl;
    }
    _currentSoundtrack = 0;
    return true;
}

void ARApplication::loadAudioFile(const std::string& path)
{
    if (path.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: audio file name not valid (" << path << ")." << std::endl;
        return;
    }
    // A folder or a device would keep the decoders reading forever.
    if (!PathRule::isReadableFile(path))
    {
        osg::notify(osg::FATAL) << " WARNING: audio file not found (" << path << ")." << std::endl;
        return;
    }
    // Opening the stream already sizes its buffer after the header's channels and rate.
    const std::string unplayable = AudioOutput::checkPlayable(path);
    if (!unplayable.empty())
        osg::notify(osg::FATAL) << " WARNING: cannot play " << path << ": " << unplayable << "." << std::endl;
    sf::Music* music = new sf::Music;
    if (!unplayable.empty() || !music->openFromFile(path))
    {
        osg::notify(osg::FATAL) << "ERROR: could not load specified audio file (" << path << ")."
                                << std::endl;
        delete music;
        return;
    }
    osg::notify(osg::NOTICE) << "SampleRate: " << music->getSampleRate() << std::endl;
    osg::notify(osg::NOTICE) << "Channels: " << music->getChannelCount() << std::endl;
    osg::notify(osg::NOTICE) << "Duration: " << music->getDuration().asSeconds() << std::endl;
    music->setLoop(_audioConfiguration ? _audioConfiguration->getLoop() : true);
    music->setPitch(1.0f);
    music->setVolume(100.0f);
    _soundtracks.push_back(music);
}

bool ARApplication::isSoundtrackIndexValid() const
{
    return _currentSoundtrack < _soundtracks.size() && _soundtracks[_currentSoundtrack] != nullptr;
}

void ARApplication::toggleMusic()
{
    if (!isSoundtrackIndexValid())
        return;
    sf::Music* music = _soundtracks[_currentSoundtrack];
    if (music->getStatus() == sf::SoundSource::Playing)
        music->pause();
    else
        music->play();
}

void ARApplication::rewindSoundtrack()
{
    if (!isSoundtrackIndexValid())
        return;
    _soundtracks[_currentSoundtrack]->stop();
    _soundtracks[_currentSoundtrack]->play();
}

void ARApplication::switchSoundtrack(bool forward)
{
    if (_soundtracks.empty())
        return;
    const bool playing =
        isSoundtrackIndexValid() && _soundtracks[_currentSoundtrack]->getStatus() == sf::SoundSource::Playing;
    if (playing)
        _soundtracks[_currentSoundtrack]->pause();
    const unsigned int size = static_cast<unsigned int>(_soundtracks.size());
    if (forward)
        _currentSoundtrack = _currentSoundtrack < size - 1 ? _currentSoundtrack + 1 : 0;
    else
        _currentSoundtrack =
            (_currentSoundtrack == 0 || _currentSoundtrack > size - 1) ? size - 1 : _currentSoundtrack - 1;
    if (playing)
        _soundtracks[_currentSoundtrack]->play();
}

void ARApplication::nextSoundtrack()
{
    switchSoundtrack(true);
}

void ARApplication::previousSoundtrack()
{
    switchSoundtrack(false);
}

} // namespace Novaro
