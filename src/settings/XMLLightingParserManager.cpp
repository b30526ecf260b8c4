#include "settings/XMLLightingParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

#include <vector>

namespace Novaro
{

namespace
{

// The index of text in the list of known texts, or -1 when it is not one of them.
int indexOf(const std::string& text, const char* const* known, int count)
{
    for (int index = 0; index < count; ++index)
        if (text == known[index])
            return index;
    return -1;
}

} // namespace

XMLLightingParserManager::XMLLightingParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLLightingParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading lighting settings..." << std::endl;

    const TiXmlElement* lighting = rootElement();
    if (!elementIs(lighting, "lighting"))
    {
        osg::notify(osg::FATAL) << "ERROR: missing <lighting> data in configuration file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading lighting settings...aborted." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " Lighting Configuration name: " << attribute(lighting, "name") << std::endl;

    const TiXmlElement* parameters = lighting->FirstChildElement();
    if (!elementIs(parameters, "parameters"))
    {
        osg::notify(osg::FATAL) << "ERROR: missing <parameters> data in lighting configuration file."
                                << std::endl;
        osg::notify(osg::NOTICE) << "Reading lighting settings...aborted." << std::endl;
        return false;
    }

    static const char* const modes[] = {"direct", "deferred"};
    static const char* const hints[] = {"", "su", "max", "maya", "vectorworks", "scia", "cinema4d"};
    static const char* const techniques[] = {"sm", "ssm", "stsm", "vdsm", "sv"};

    auto readValue = [&](const char* name, const char* const* known, int count)
    {
        const TiXmlElement* element = childByAttribute(parameters, "name", name);
        if (!element)
        {
            osg::notify(osg::FATAL) << " " << name << ": NA (using default)." << std::endl;
            return 0;
        }
        const std::string value = text(element);
        osg::notify(osg::NOTICE) << " " << name << ": " << value << std::endl;
        const int index = indexOf(value, known, count);
        if (index >= 0)
            return index;
        reportUnknownValue(element, name, value, std::vector<std::string>(known, known + count));
        return 0;
    };
    _data.setMode(readValue("mode", modes, 2));
    _data.setCompatibilityHint(readValue("compatibility_hint", hints, 7));
    _data.setShadowTechnique(readValue("shadow_technique", techniques, 5));

    osg::notify(osg::NOTICE) << "Reading lighting settings...done." << std::endl;
    return true;
}

// A value the table does not hold falls back to the first one: said where it shows, with the
// value that was probably meant.
void XMLLightingParserManager::reportUnknownValue(const TiXmlElement* element, const std::string& name,
                                                  const std::string& value,
                                                  const std::vector<std::string>& known) const
{
    std::ostream& out = osg::notify(osg::FATAL);
    out << "WARNING: " << getPath() << ":" << element->Row() << ": unknown " << name << " \"" << value
        << "\", using \"" << (known.front().empty() ? std::string("none") : known.front()) << "\"";
    const std::string closest = SettingsValues::closestName(value, known);
    if (!closest.empty() && closest != known.front())
        out << " (did you mean \"" << closest << "\"?)";
    out << "." << std::endl;
}

bool XMLLightingParserManager::isValid()
{
    return true;
}

} // namespace Novaro
