#include "settings/XMLEventsParserManager.h"

#include <osg/Notify>

namespace Novaro
{

XMLEventsParserManager::XMLEventsParserManager(const std::string& path) : XMLInteractionsParserManager(path)
{
}

bool XMLEventsParserManager::parse()
{
    osg::notify(osg::NOTICE) << "Reading events settings..." << std::endl;

    const TiXmlElement* events = rootElement();
    if (!elementIs(events, "events"))
    {
        osg::notify(osg::FATAL) << " ERROR: missing <events> data in events file." << std::endl;
        osg::notify(osg::NOTICE) << "Reading events settings...aborted." << std::endl;
        return false;
    }
    _data.setName(attribute(events, "name"));
    osg::notify(osg::NOTICE) << " Events name: " << _data.getName() << std::endl;

    if (!readEvents(events))
    {
        osg::notify(osg::NOTICE) << "Reading events settings...aborted." << std::endl;
        return false;
    }

    osg::notify(osg::NOTICE) << "Reading events settings...done." << std::endl;
    return true;
}

bool XMLEventsParserManager::readEvents(const TiXmlElement* events)
{
    osg::notify(osg::NOTICE) << "Reading events settings...(events)..." << std::endl;
    osg::notify(osg::NOTICE) << " events #: " << countChildren(events) << std::endl;

    for (const TiXmlElement* element = events->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "event"))
        {
            osg::notify(osg::FATAL) << " WARNING: <event> was expected (skipping)." << std::endl;
            continue;
        }
        // Objects look their events up by name, so an unnamed event could never run.
        if (!hasAttribute(element, "name"))
        {
            osg::notify(osg::FATAL) << "WARNING: name missing (skipping)." << std::endl;
            continue;
        }
        const TiXmlElement* actions = childByTag(element, "actions");
        if (!actions)
        {
            osg::notify(osg::NOTICE) << " WARNING: missing <actions> (skipping)." << std::endl;
            continue;
        }
        EventData event;
        event.setName(attribute(element, "name"));
        if (readActions(actions, event.getActions()))
            _data.getEvents().push_back(event);
    }

    osg::notify(osg::NOTICE) << "Reading events settings...(events)...done." << std::endl;
    return true;
}

bool XMLEventsParserManager::isValid()
{
    for (const EventData& event : _data.getEvents())
        if (event.getActions().empty())
            return false;
    return true;
}

} // namespace Novaro
