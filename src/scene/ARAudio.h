#pragma once

#include "scene/ARMultimediaInterface.h"

#include <SFML/Audio/Music.hpp>
#include <SFML/Audio/Sound.hpp>
#include <SFML/Audio/SoundBuffer.hpp>

#include <string>

namespace Novaro
{

// A scene object bound to one sound: a sample held in memory for "wav" files, a stream read while
// playing for "ogg" files. An invisible audio object has no geometry but plays on its events.
class ARAudio : public ARMultimediaInterface
{
public:
    using ARMultimediaInterface::ARMultimediaInterface;

    // Loads the sound; every failure is reported and leaves the object silent.
    void setupAudio(const std::string& file, bool visible);

    // Why an audio object stays silent on this file's type (empty when it plays it): only ".wav"
    // and ".ogg", in any case, are played. The scene check asks it too.
    static std::string unplayedFileType(const std::string& file);

    void play() override;
    void pause() override;
    void togglePause() override;
    void rewind() override;
    void toggleLoop() override;
    void setLoop(bool on) override;

    const std::string& getAudioFile() const { return _audioFile; }
    float getDuration() const { return _duration; }
    bool getUseSamples() const { return _useSamples; }
    // The status of the sound in use (stopped before any set-up).
    sf::SoundSource::Status getStatus() const;
    bool getLoop() const;

protected:
    ~ARAudio() override;

private:
    // Each returns an empty text when the sound is ready, else why it is not.
    std::string load(const std::string& file);
    std::string loadSamples(const std::string& file);
    std::string openStream(const std::string& file);
    // The sample's sound or the stream, whichever the file's type chose.
    sf::SoundSource& source();
    void setLooping(bool on);

    std::string _audioFile; // as given to setupAudio, shown in messages
    float _duration = 0.0f;
    bool _useSamples = true;
    bool _loaded = false;
    sf::SoundBuffer _buffer;
    sf::Sound _sound;
    sf::Music _music;
};

} // namespace Novaro
