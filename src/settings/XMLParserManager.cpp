#include "settings/XMLParserManager.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include <sys/stat.h>

namespace Novaro
{

namespace
{

// TinyXML parses nested elements recursively; settings files nest a handful of levels, so a
// document nesting deeper than this is refused before it can exhaust the stack.
const int maximumNesting = 256;

// Whether the file is a regular file whose nesting TinyXML can take. Directories are refused too:
// they open fine on this platform but report a meaningless length to TinyXML's sizing seek.
bool isLoadable(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    std::ifstream file(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return file.good() || file.eof() ? osgART::xmlNestingDepth(content) <= maximumNesting : false;
}

} // namespace

XMLParserManager::XMLParserManager(const std::string& path) : _path(path) {}

XMLParserManager::~XMLParserManager() {}

bool XMLParserManager::loadFile()
{
    bool loaded = isLoadable(_path) && _document.LoadFile(_path.c_str(), TIXML_DEFAULT_ENCODING);
    if (!loaded)
    {
        osg::notify(osg::FATAL) << " ERROR: could not load XML file: " << _path << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " XML file loaded: " << _path << std::endl;
    return true;
}

const TiXmlElement* XMLParserManager::rootElement() const
{
    return _document.FirstChildElement();
}

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
        for (const TiXmlElement* child = parent->FirstChildElement(); child;
             child = child->NextSiblingElement())
            ++count;
    return count;
}

} // namespace Novaro
