#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// One background soundtrack: its name and sound file.
class SoundtrackData
{
public:
    SoundtrackData() = default;
    SoundtrackData(const std::string& name, const std::string& source) : _name(name), _source(source) {}

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::string& getSource() const { return _source; }
    void setSource(const std::string& source) { _source = source; }

    // Line of the element this entry was read from (0 when not read from a file), for messages.
    int getLine() const { return _line; }
    void setLine(int line) { _line = line; }

private:
    std::string _name;
    std::string _source;
    int _line = 0;
};

// The audio settings file as read: the soundtracks in file order and how they play.
class AudioData
{
public:
    AudioData() = default;

    const std::vector<SoundtrackData>& getSoundtracks() const { return _soundtracks; }
    std::vector<SoundtrackData>& getSoundtracks() { return _soundtracks; }

    bool getLoop() const { return _loop; }
    void setLoop(bool loop) { _loop = loop; }

    bool getAutoplay() const { return _autoplay; }
    void setAutoplay(bool autoplay) { _autoplay = autoplay; }

private:
    std::vector<SoundtrackData> _soundtracks;
    bool _loop = true;
    bool _autoplay = true;
};

} // namespace Novaro
