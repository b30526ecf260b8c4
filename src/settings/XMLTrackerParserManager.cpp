#include "settings/XMLTrackerParserManager.h"

#include "settings/SettingsValues.h"

#include <osg/Notify>

namespace Novaro
{

using namespace SettingsValues;

XMLTrackerParserManager::XMLTrackerParserManager(const std::string& path) : XMLParserManager(path) {}

bool XMLTrackerParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading tracker settings..." << std::endl;

    const TiXmlElement* tracker = rootElement();
    if (!elementIs(tracker, "tracker"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <tracker> data in tracker file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading tracker settings...aborted." << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " Tracker name: " << attribute(tracker, "name") << std::endl;

    const TiXmlElement* parameters = childByTag(tracker, "parameters");
    if (!parameters)
    {
        osg::notify(osg::NOTICE) << " WARNING: missing <parameters> data (using defaults)." << std::endl;
        _data = TrackerData();
    }
    else
        readParameters(parameters);

    osg::notify(osg::NOTICE) << "Reading tracker settings...done." << std::endl;
    return true;
}

void XMLTrackerParserManager::readParameters(const TiXmlElement* parameters)
{
    osg::notify(osg::NOTICE) << "Reading tracker settings...(parameters)..." << std::endl;

    auto lookUp = [&](const char* name, std::string& value)
    {
        const TiXmlElement* element = childByAttribute(parameters, "name", name);
        if (!element)
        {
            osg::notify(osg::NOTICE) << " " << name << ": NA (using default)." << std::endl;
            return false;
        }
        value = text(element);
        osg::notify(osg::NOTICE) << " " << name << ": " << value << std::endl;
        return true;
    };

    std::string value;
    const TrackerData defaults;
    _data.setSmoothTracking(lookUp("smooth_tracking", value) ? isNotFalse(value)
                                                             : defaults.getSmoothTracking());
    _data.setRotationalSmoothingFactor(lookUp("rotational_smoothing_factor", value)
                                           ? toFloat(value)
                                           : defaults.getRotationalSmoothingFactor());
    _data.setTranslationalSmoothingFactor(lookUp("translational_smoothing_factor", value)
                                              ? toFloat(value)
                                              : defaults.getTranslationalSmoothingFactor());
    _data.setThreshold(lookUp("threshold", value) ? toInt(value) : defaults.getThreshold());
    _data.setHalfTracking(lookUp("half_tracking", value) ? isTrue(value) : defaults.getHalfTracking());
    // Not written by the exporters: read when present, its absence not worth a line.
    if (const TiXmlElement* adaptive = childByAttribute(parameters, "name", "adaptive_threshold"))
    {
        value = text(adaptive);
        osg::notify(osg::NOTICE) << " adaptive_threshold: " << value << std::endl;
        _data.setAdaptiveThreshold(isNotFalse(value));
    }

    osg::notify(osg::NOTICE) << "Reading tracker settings...(parameters)...done." << std::endl;
}

bool XMLTrackerParserManager::isValid()
{
    return true;
}

} // namespace Novaro
