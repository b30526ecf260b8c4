#include "XMLLightingParserManager.h"

#include <osg/Notify>

namespace Novaro
{

namespace
{

// The index of text in the list of known texts, or 0 when it is not one of them.
int indexOf(const std::string& text, const char* const* known, int count)
{
    for (int index = 0; index < count; ++index)
        if (text == known[index])
            return index;
    return 0;
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
        osg::notify(osg::NOTICE) << " " << name << ": " << text(element) << std::endl;
        return indexOf(text(element), known, count);
    };
    _data.setMode(readValue("mode", modes, 2));
    _data.setCompatibilityHint(readValue("compatibility_hint", hints, 7));
    _data.setShadowTechnique(readValue("shadow_technique", techniques, 5));

    osg::notify(osg::NOTICE) << "Reading lighting settings...done." << std::endl;
    return true;
}

bool XMLLightingParserManager::isValid()
{
    return true;
}

} // namespace Novaro
