#pragma once

#include "settings/AudioData.h"
#include "settings/XMLParserManager.h"

namespace Novaro
{

// Reads the audio settings file (root <audio> with <soundtracks> and optional <properties>) into
// an AudioData record.
class XMLAudioParserManager : public XMLParserManager
{
public:
    explicit XMLAudioParserManager(const std::string& path);

    bool parse() override;
    // True when every soundtrack names a sound file; no soundtrack at all is fine.
    bool isValid() override;

    const AudioData& getData() const { return _data; }

private:
    void readSoundtracks(const TiXmlElement* soundtracks);
    void readProperties(const TiXmlElement* properties);

    AudioData _data;
};

} // namespace Novaro
