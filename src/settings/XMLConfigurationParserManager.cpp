#include "settings/XMLConfigurationParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

namespace Novaro
{

using namespace SettingsValues;

namespace
{

RenderMode modeFromText(const std::string& text)
{
    if (text == "ar_mixed")
        return AR_MIXED;
    if (text == "ar_fake")
        return AR_FAKE;
    return AR_SIMPLE;
}

} // namespace

XMLConfigurationParserManager::XMLConfigurationParserManager(const std::string& path) : XMLParserManager(path)
{
}

bool XMLConfigurationParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading configuration settings..." << std::endl;

    const TiXmlElement* configuration = rootElement();
    if (!elementIs(configuration, "configuration"))
    {
        osg::notify(osg::FATAL) << "ERROR: missing <configuration> data in configuration file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading configuration settings...aborted." << std::endl;
        return false;
    }

    osg::notify(osg::NOTICE) << " Configuration name: " << attribute(configuration, "name") << std::endl;
    _data.setDebug(isTrue(attribute(configuration, "debug")));
    osg::notify(osg::NOTICE) << " debug: " << boolText(_data.getDebug()) << std::endl;

    const TiXmlElement* parameters = configuration->FirstChildElement();
    if (!elementIs(parameters, "parameters"))
    {
        osg::notify(osg::FATAL) << "ERROR: missing <parameters> data in configuration file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading configuration settings...aborted." << std::endl;
        return false;
    }

    readParameters(parameters);
    osg::notify(osg::NOTICE) << "Reading configuration settings...done." << std::endl;
    return true;
}

// The display parameters, each from its <parameter> or its default.
void XMLConfigurationParserManager::readParameters(const TiXmlElement* parameters)
{
    // Looks a parameter up by name, printing its value when found and its absence message (at the
    // parameter's own severity) otherwise. Returns whether it was found and its text.
    auto lookUp = [&](const char* name, osg::NotifySeverity absentLevel, std::string& value)
    {
        const TiXmlElement* element = childByAttribute(parameters, "name", name);
        if (!element)
        {
            osg::notify(absentLevel) << " " << name << ": NA (using default)." << std::endl;
            return false;
        }
        value = text(element);
        osg::notify(osg::NOTICE) << " " << name << ": " << value << std::endl;
        return true;
    };

    std::string value;
    _data.setMode(lookUp("mode", osg::FATAL, value) ? modeFromText(value) : AR_SIMPLE);
    _data.setMirror(lookUp("mirror", osg::NOTICE, value) ? isNotFalse(value) : true);
    _data.setFullscreen(lookUp("fullscreen", osg::NOTICE, value) ? isNotFalse(value) : true);
    _data.setWireframe(lookUp("wireframe", osg::NOTICE, value) ? isTrue(value) : false);
    _data.setCameraSettings(lookUp("camera_settings", osg::NOTICE, value) ? isTrue(value) : false);
    _data.setUseAntialiasing(lookUp("use_antialiasing", osg::NOTICE, value) ? isTrue(value) : false);
    if (lookUp("antialiasing_samples", osg::FATAL, value))
    {
        // Even counts are kept as written (the rendering set-up falls back when the card refuses
        // them); odd counts mean no multisampling.
        int samples = toInt(value);
        _data.setRawAntialiasingSamples(samples % 2 == 0 ? samples : 1);
    }
    else
        _data.setAntialiasingSamples(1);
    _data.setAnimations(lookUp("animations", osg::NOTICE, value) ? isNotFalse(value) : true);
    _data.setFitting(lookUp("fitting", osg::NOTICE, value) ? isTrue(value) : false);
}

bool XMLConfigurationParserManager::isValid()
{
    RenderMode mode = _data.getMode();
    return mode == AR_SIMPLE || mode == AR_MIXED || mode == AR_FAKE;
}

} // namespace Novaro
