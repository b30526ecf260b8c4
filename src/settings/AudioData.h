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
    SoundtrackData(const std::string& name, const std::string& source) : name_(name), source_(source) {}

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::string& getSource() const { return source_; }
    void setSource(const std::string& source) { source_ = source; }

private:
    std::string name_;
    std::string source_;
};

// The audio settings file as read: the soundtracks in file order and how they play.
class AudioData
{
public:
    AudioData() = default;

    const std::vector<SoundtrackData>& getSoundtracks() const { return soundtracks_; }
    std::vector<SoundtrackData>& getSoundtracks() { return soundtracks_; }

    bool getLoop() const { return loop_; }
    void setLoop(bool loop) { loop_ = loop; }

    bool getAutoplay() const { return autoplay_; }
    void setAutoplay(bool autoplay) { autoplay_ = autoplay; }

private:
    std::vector<SoundtrackData> soundtracks_;
    bool loop_ = true;
    bool autoplay_ = true;
};

} // namespace Novaro
