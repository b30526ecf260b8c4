#include "settings/XMLParserManager.h"

#include "settings/SceneBoundary.h"
#include "settings/XMLLookupRecord.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>
#include <osgART/XmlText.h>
#include <osgDB/FileNameUtils>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

#include <sys/stat.h>

namespace Novaro
{

namespace
{

// TinyXML parses nested elements recursively; settings files nest a handful of levels, so a
// document nesting deeper than this is refused before it can exhaust the stack.
const int maximumNesting = 256;

// Largest settings file read, bytes (16 MiB). A scene of a thousand objects writes a scene file of
// about one megabyte; TinyXML holds some 40 bytes per byte of a file of empty elements, so a bound
// keeps a crafted file from taking the machine's memory.
const off_t maximumFileBytes = 16 * 1024 * 1024;

// The attribute of that name (compared exactly), or null.
const TiXmlAttribute* findAttribute(const TiXmlElement* element, const std::string& name)
{
    if (!element)
        return nullptr;
    for (const TiXmlAttribute* each = element->FirstAttribute(); each; each = each->Next())
        if (each->NameTStr() == name)
            return each;
    return nullptr;
}

// Line and column just after the file's last character.
void endOfFile(const std::string& path, int& line, int& column)
{
    std::ifstream file(path, std::ios::binary);
    line = 1;
    column = 1;
    for (char c; file.get(c);)
    {
        if (c == '\n')
        {
            ++line;
            column = 1;
        }
        else
            ++column;
    }
}

// The node after 'node' in a walk of the whole document, depth first, without recursion.
TiXmlNode* nextInDocumentOrder(TiXmlNode* node)
{
    if (node->FirstChild())
        return node->FirstChild();
    for (; node; node = node->Parent())
        if (node->NextSibling())
            return node->NextSibling();
    return nullptr;
}

} // namespace

// Only regular files are read: a directory opens fine on this platform, and a device may never end.
std::string XMLParserManager::unloadableReason(std::string& content) const
{
    struct stat status;
    if (::stat(_path.c_str(), &status) != 0)
        return "no such file";
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (status.st_size > maximumFileBytes)
        return "larger than " + std::to_string(maximumFileBytes / (1024 * 1024)) +
               " MiB, the limit for a settings file";
    std::ifstream file(_path, std::ios::binary);
    content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return "cannot be read";
    if (osgART::xmlNestingDepth(content) > maximumNesting)
        return "elements nested deeper than " + std::to_string(maximumNesting) + " levels";
    return std::string();
}

XMLParserManager::XMLParserManager(const std::string& path) : _path(path) {}

XMLParserManager::~XMLParserManager() {}

bool XMLParserManager::loadFile()
{
    _loadError = LoadError();
    _refusedNames.clear();
    std::string content;
    _loadError.reason = unloadableReason(content);
    if (_loadError.reason.empty())
        osgART::parseXmlText(_document, std::move(content), TIXML_DEFAULT_ENCODING);
    if (_loadError.reason.empty() && _document.Error())
    {
        _loadError.line = _document.ErrorRow();
        _loadError.column = _document.ErrorCol();
        _loadError.reason = _document.ErrorDesc() ? _document.ErrorDesc() : "not well-formed XML";
        // The parser gives no place when the text ended before the document did (an element left
        // open at the end): that place is the end of the file.
        if (_loadError.line < 1)
            endOfFile(_path, _loadError.line, _loadError.column);
    }
    if (!_loadError.reason.empty())
    {
        std::ostream& out = osg::notify(osg::FATAL);
        out << " ERROR: could not load XML file: " << _path;
        if (_loadError.line > 0)
            out << ":" << _loadError.line << ":" << _loadError.column;
        out << ": " << _loadError.reason << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << " XML file loaded: " << _path << std::endl;
    refuseNamesLeavingTheScene();
    return true;
}

void XMLParserManager::refuseNamesLeavingTheScene()
{
    if (!SceneBoundary::isBounded())
        return;
    const std::string base = osgDB::getFilePath(_path);
    // Every value is looked at, not only the ones a reader takes for a file name: which ones those
    // are is the readers' business, and a file name hidden in a value no reader takes is harmless.
    // A refused name is read as its last component, in the scene's own folder: the entry stays
    // (a marker or an object with no file at all would make the whole file invalid) and fails,
    // or finds a file the scene ships, as any name of the scene would.
    auto confine = [&](const TiXmlBase& place, const std::string& value)
    {
        if (!SceneBoundary::leadsOutside(base, value))
            return value;
        const std::string inside = SceneBoundary::lastComponent(value);
        osg::notify(osg::FATAL) << " WARNING: " << _path << ":" << place.Row() << ":" << place.Column()
                                << ": refusing the name '" << value
                                << "': it leads outside the scene's folders ("
                                << SceneBoundary::describeFolders() << "); read as '" << inside
                                << "' in the scene's folder." << std::endl;
        _refusedNames.push_back({place.Row(), place.Column(), value});
        return inside;
    };
    for (TiXmlNode* node = _document.FirstChild(); node; node = nextInDocumentOrder(node))
    {
        if (TiXmlElement* element = node->ToElement())
        {
            for (TiXmlAttribute* each = element->FirstAttribute(); each; each = each->Next())
                each->SetValue(confine(*each, each->ValueStr()));
        }
        else if (TiXmlText* text = node->ToText())
            text->SetValue(confine(*text, text->ValueStr()));
    }
}

const TiXmlElement* XMLParserManager::rootElement() const
{
    return _document.FirstChildElement();
}

bool XMLParserManager::elementIs(const TiXmlElement* element, const std::string& tag)
{
    if (XMLLookupRecord* record = XMLLookupRecord::current())
        if (element)
        {
            record->askedTag(element->Parent() ? element->Parent()->ToElement() : nullptr, tag);
            if (element->ValueStr() == tag)
                record->found(element);
        }
    return element && element->ValueStr() == tag;
}

std::string XMLParserManager::attribute(const TiXmlElement* element, const std::string& name)
{
    XMLLookupRecord* record = XMLLookupRecord::current();
    if (record)
        record->askedAttribute(element, name);
    const TiXmlAttribute* found = findAttribute(element, name);
    const std::string value = found ? found->ValueStr() : std::string();
    if (record && found)
        record->readValue(element, name, value);
    return value;
}

bool XMLParserManager::hasAttribute(const TiXmlElement* element, const std::string& name)
{
    if (XMLLookupRecord* record = XMLLookupRecord::current())
        record->askedAttribute(element, name);
    return findAttribute(element, name) != nullptr;
}

std::string XMLParserManager::text(const TiXmlElement* element)
{
    if (!element)
        return std::string();
    const char* content = element->GetText();
    const std::string value = content ? std::string(content) : std::string();
    if (XMLLookupRecord* record = XMLLookupRecord::current(); record && content)
        record->readValue(element, std::string(), value);
    return value;
}

const TiXmlElement* XMLParserManager::childByTag(const TiXmlElement* parent, const std::string& tag)
{
    XMLLookupRecord* record = XMLLookupRecord::current();
    if (record && parent)
        record->askedTag(parent, tag);
    if (!parent)
        return nullptr;
    for (const TiXmlElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement())
        if (child->ValueStr() == tag)
        {
            if (record)
                record->found(child);
            return child;
        }
    return nullptr;
}

const TiXmlElement* XMLParserManager::childByAttribute(const TiXmlElement* parent, const std::string& name,
                                                       const std::string& value)
{
    XMLLookupRecord* record = XMLLookupRecord::current();
    if (record && parent)
        record->askedParameter(parent, name, value);
    if (!parent)
        return nullptr;
    // The other children's attributes are looked at too, but only the match counts as read.
    for (const TiXmlElement* child = parent->FirstChildElement(); child; child = child->NextSiblingElement())
        if (const TiXmlAttribute* match = findAttribute(child, name); match && match->ValueStr() == value)
        {
            if (record)
            {
                record->found(child);
                record->askedAttribute(child, name);
            }
            return child;
        }
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
