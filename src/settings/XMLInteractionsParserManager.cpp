#include "settings/XMLInteractionsParserManager.h"

#include <osg/Notify>

namespace Novaro
{

XMLInteractionsParserManager::XMLInteractionsParserManager(const std::string& path) : XMLParserManager(path)
{
}

bool XMLInteractionsParserManager::readActions(const TiXmlElement* actions, std::vector<ActionData>& list)
{
    osg::notify(osg::NOTICE) << "Reading actions..." << std::endl;
    osg::notify(osg::NOTICE) << " actions #: " << countChildren(actions) << std::endl;

    for (const TiXmlElement* element = actions->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "action"))
        {
            osg::notify(osg::FATAL) << " ERROR: missing <action> data." << std::endl;
            osg::notify(osg::NOTICE) << "Reading actions settings...aborted." << std::endl;
            return false;
        }

        // An empty source or target means the object that owns the event.
        ActionData action;
        action.setLine(element->Row());
        if (!hasAttribute(element, "source"))
        {
            osg::notify(osg::FATAL) << "WARNING: source missing (skipping)." << std::endl;
            continue;
        }
        std::string source = attribute(element, "source");
        action.setSource(source.empty() ? "_self_" : source);
        osg::notify(osg::NOTICE) << " - source: " << action.getSource() << std::endl;

        if (!hasAttribute(element, "target"))
        {
            osg::notify(osg::FATAL) << "WARNING: target missing (skipping)." << std::endl;
            continue;
        }
        std::string target = attribute(element, "target");
        action.setTarget(target.empty() ? "_self_" : target);
        osg::notify(osg::NOTICE) << " - target: " << action.getTarget() << std::endl;

        const TiXmlElement* command = childByTag(element, "command");
        if (!command)
        {
            osg::notify(osg::FATAL) << " ERROR: missing <command> data." << std::endl;
            osg::notify(osg::NOTICE) << "Reading actions settings...aborted." << std::endl;
            return false;
        }
        osg::notify(osg::NOTICE) << " Reading actions...(command)..." << std::endl;
        action.setCommand(text(command));
        osg::notify(osg::NOTICE) << " command:" << action.getCommand() << std::endl;
        osg::notify(osg::NOTICE) << " Reading actions...(command)...done." << std::endl;

        const TiXmlElement* parameters = childByTag(element, "parameters");
        if (!parameters)
            osg::notify(osg::NOTICE) << " WARNING: missing <parameters> data." << std::endl;
        else
            readParameters(parameters, action);

        list.push_back(action);
    }

    osg::notify(osg::NOTICE) << " Reading actions...done." << std::endl;
    return true;
}

void XMLInteractionsParserManager::readParameters(const TiXmlElement* parameters, ActionData& action)
{
    osg::notify(osg::NOTICE) << " Reading actions...(parameters)..." << std::endl;
    osg::notify(osg::NOTICE) << " parameters #: " << countChildren(parameters) << std::endl;

    for (const TiXmlElement* element = parameters->FirstChildElement(); element;
         element = element->NextSiblingElement())
    {
        if (!elementIs(element, "parameter"))
        {
            osg::notify(osg::FATAL) << " WARNING: <parameter> was expected (skipping)." << std::endl;
            continue;
        }
        std::string name = attribute(element, "name");
        std::string& value = action.getParameters()[name];
        value = text(element);
        osg::notify(osg::NOTICE) << " - parameter name:" << name << std::endl;
        osg::notify(osg::NOTICE) << " - parameter value:" << value << std::endl;
    }

    osg::notify(osg::NOTICE) << " Reading actions...(parameters)...done." << std::endl;
}

} // namespace Novaro
