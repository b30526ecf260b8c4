#include "XMLParserManager.h"

#include <osg/Notify>

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

// The deepest element nesting of an XML text, skipping comments, CDATA sections, processing
// instructions and declarations, and '>' inside quoted attribute values.
int nestingDepth(const std::string& xml)
{
    int depth = 0;
    int deepest = 0;
    std::size_t at = 0;
    auto skipPast = [&](const char* end, std::size_t from)
    {
        std::size_t found = xml.find(end, from);
        return found == std::string::npos ? found : found + std::char_traits<char>::length(end);
    };
    while ((at = xml.find('<', at)) != std::string::npos)
    {
        if (xml.compare(at, 4, "<!--") == 0)
            at = skipPast("-->", at + 4);
        else if (xml.compare(at, 9, "<![CDATA[") == 0)
            at = skipPast("]]>", at + 9);
        else if (xml.compare(at, 2, "<?") == 0)
            at = skipPast("?>", at + 2);
        else if (xml.compare(at, 2, "<!") == 0)
            at = skipPast(">", at + 2);
        else if (xml.compare(at, 2, "</") == 0)
        {
            if (depth > 0)
                --depth;
            at = skipPast(">", at + 2);
        }
        else
        {
            char quote = 0;
            std::size_t end = at + 1;
            for (; end < xml.size(); ++end)
            {
                char c = xml[end];
                if (quote)
                    quote = c == quote ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            if (end >= xml.size())
                break;
            if (xml[end - 1] != '/')
                deepest = std::max(deepest, ++depth);
            at = end + 1;
        }
        if (at == std::string::npos)
            break;
    }
    return deepest;
}

// Whether the file is a regular file whose nesting TinyXML can take. Directories are refused too:
// they open fine on this platform but report a meaningless length to TinyXML's sizing seek.
bool isLoadable(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    std::ifstream file(path, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return file.good() || file.eof() ? nestingDepth(content) <= maximumNesting : false;
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
