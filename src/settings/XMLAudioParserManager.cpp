#include "settings/XMLAudioParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

namespace Novaro
{

using namespace SettingsValues;

XMLAudioParserManager::XMLAudioParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLAudioParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading audio settings..." << std::endl;

    const TiXmlElement* audio = rootElement();
    if (!elementIs(audio, "audio"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <audio> data in audio file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading audio settings...aborted." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " Audio name: " << attribute(audio, "name") << std::endl;

    const TiXmlElement* soundtracks = childByTag(audio, "soundtracks");
    if (!soundtracks)
    {
        osg::notify(osg::FATAL) << " ERROR: missing <soundtracks> data in audio file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading audio settings...aborted." << std::endl;
        return false;
    }
    readSoundtracks(soundtracks);

    const TiXmlElement* properties = childByTag(audio, "properties");
    if (!properties)
        osg::notify(osg::FATAL) << " WARNING: missing <properties> data in audio file." << std::endl;
    else
        readProperties(properties);

    osg::notify(osg::NOTICE) << "Reading audio settings...done." << std::endl;
    return true;
}

void XMLAudioParserManager::readSoundtracks(const TiXmlElement* soundtracks)
{
    osg::notify(osg::NOTICE) << "Reading audio settings...(soundtracks)..." << std::endl;
    osg::notify(osg::NOTICE) << " soundtracks #: " << countChildren(soundtracks) << std::endl;

    for (const TiXmlElement* element = soundtracks->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "soundtrack"))
        {
            osg::notify(osg::NOTICE) << " WARNING: <soundtrack> was expected (skipping)." << std::endl;
            continue;
        }
        std::string name = attribute(element, "name");
        osg::notify(osg::NOTICE) << " soundtrack name: " << name << std::endl;
        if (!hasAttribute(element, "source"))
        {
            osg::notify(osg::NOTICE) << "WARNING: source missing (skipping)." << std::endl;
            continue;
        }
        std::string source = attribute(element, "source");
        osg::notify(osg::NOTICE) << " soundtrack source: " << source << std::endl;
        _data.getSoundtracks().push_back(SoundtrackData(name, source));
        _data.getSoundtracks().back().setLine(element->Row());
    }

    osg::notify(osg::NOTICE) << "Reading audio settings...(soundtracks)...done." << std::endl;
}

void XMLAudioParserManager::readProperties(const TiXmlElement* properties)
{
    osg::notify(osg::NOTICE) << "Reading audio settings...(properties)..." << std::endl;
    osg::notify(osg::NOTICE) << " properties #: " << countChildren(properties) << std::endl;

    // Both flags default to true when absent, yet a present value must be exactly "true".
    auto readFlag = [&](const char* name)
    {
        const TiXmlElement* element = childByAttribute(properties, "name", name);
        if (!element)
        {
            osg::notify(osg::NOTICE) << " " << name << ": NA (using default)." << std::endl;
            return true;
        }
        osg::notify(osg::NOTICE) << " " << name << ": " << text(element) << std::endl;
        return isTrue(text(element));
    };
    _data.setLoop(readFlag("loop"));
    _data.setAutoplay(readFlag("autoplay"));

    osg::notify(osg::NOTICE) << "Reading audio settings...(properties)...done." << std::endl;
}

bool XMLAudioParserManager::isValid()
{
    for (const SoundtrackData& soundtrack : _data.getSoundtracks())
        if (soundtrack.getSource().empty())
            return false;
    return true;
}

} // namespace Novaro
