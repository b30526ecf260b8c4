#include "XMLParserManager.h"

#include <osg/Notify>

#include <sys/stat.h>

namespace Novaro
{

XMLParserManager::XMLParserManager(const std::string& path) : path_(path) {}

XMLParserManager::~XMLParserManager() {}

bool XMLParserManager::loadFile()
{
    // TinyXML sizes its buffer from a seek to the end of the stream; a directory opens fine on
    // this platform but reports a meaningless length, so only regular files are handed to it.
    struct stat status;
    bool loaded = ::stat(path_.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                  document_.LoadFile(path_.c_str(), TIXML_DEFAULT_ENCODING);
    if (!loaded)
    {
        osg::notify(osg::FATAL) << " ERROR: could not load XML file: " << path_ << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " XML file loaded: " << path_ << std::endl;
    return true;
}

const TiXmlElement* XMLParserManager::rootElement() const { return document_.FirstChildElement(); }

bool XMLParserManager::elementIs(const TiXmlElement* element, const std::string& tag)
{
    return element && element->ValueStr() == tag;
}

std::string XMLParserManager::attribute(const TiXmlElement* element, const std::string& name)
{
    if (!element)
        return std::string();
    for (const TiXmlAttribute* each = element->FirstAttribute(); each; each = each->Next())
        if (each->NameTStr() == name)
            return each->ValueStr();
    return std::string();
}

bool XMLParserManager::hasAttribute(const TiXmlElement* element, const std::string& name)
{
    if (!element)
        return false;
    for (const TiXmlAttribute* each = element->FirstAttribute(); each; each = each->Next())
        if (each->NameTStr() == name)
            return true;
    return false;
}

std::string XMLParserManager::text(const TiXmlElement* element)
{
    if (!element)
        return std::string();
    const char* content = element->GetText();
    return content ? std::string(content) : std::string();
}

const TiXmlElement* XMLParserManager::childByTag(const TiXmlElement* parent, const std::string& tag)
{
    if (!parent)
        return nullptr;
    for (const TiXmlElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement())
        if (child->ValueStr() == tag)
            return child;
    return nullptr;
}

const TiXmlElement* XMLParserManager::childByAttribute(const TiXmlElement* parent, const std::string& name,
                                                       const std::string& value)
{
    if (!parent)
        return nullptr;
    for (const TiXmlElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement())
        if (hasAttribute(child, name) && attribute(child, name) == value)
            return child;
    return nullptr;
}

int XMLParserManager::countChildren(const TiXmlElement* parent)
{
    int count = 0;
    if (parent)
        for (const TiXmlElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement())
            ++count;
    return count;
}

} // namespace Novaro
