#include "settings/XMLParserManager.h"

#include "settings/SceneBoundary.h"
#include "settings/XMLLookupRecord.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>
#include <osgART/XmlText.h>
#include <osgDB/FileNameUtils>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
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

// The encoding the XML declaration names, lower case, or empty without one.
std::string declaredEncoding(const std::string& content)
{
    const size_t start = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    if (content.compare(start, 5, "<?xml") != 0)
        return std::string();
    const size_t end = content.find("?>", start);
    const size_t at = content.find("encoding", start);
    if (at == std::string::npos || at > end)
        return std::string();
    const size_t open = content.find_first_of("\"'", at);
    if (open == std::string::npos || open > end)
        return std::string();
    const size_t close = content.find(content[open], open + 1);
    if (close == std::string::npos || close > end)
        return std::string();
    std::string name = content.substr(open + 1, close - open - 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return name;
}

bool isLatin1Name(const std::string& encoding)
{
    return encoding == "iso-8859-1" || encoding == "iso8859-1" || encoding == "latin1" ||
           encoding == "latin-1" || encoding == "windows-1252" || encoding == "cp1252" ||
           encoding == "iso-8859-15";
}

// Offset of the first byte that does not belong to a well-formed UTF-8 sequence, or npos.
size_t firstInvalidUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();)
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80           ? 1
                           : (c >> 5) == 0x6  ? 2
                           : (c >> 4) == 0xE  ? 3
                           : (c >> 3) == 0x1E ? 4
                                              : 0;
        if (length == 0 || i + size_t(length) > text.size())
            return i;
        for (int k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + size_t(k)]) & 0xC0) != 0x80)
                return i;
        i += size_t(length);
    }
    return std::string::npos;
}

// Each byte taken as the character of that number (ISO-8859-1), written in UTF-8; the declaration
// then says UTF-8.
std::string latin1ToUtf8(const std::string& text, const std::string& declared)
{
    std::string converted;
    converted.reserve(text.size() + text.size() / 8);
    for (const char byte : text)
    {
        const unsigned char c = static_cast<unsigned char>(byte);
        if (c < 0x80)
            converted += byte;
        else
        {
            converted += char(0xC0 | (c >> 6));
            converted += char(0x80 | (c & 0x3F));
        }
    }
    if (!declared.empty())
    {
        const size_t at = converted.find("encoding");
        const size_t open = converted.find_first_of("\"'", at);
        const size_t close = converted.find(converted[open], open + 1);
        converted.replace(open + 1, close - open - 1, "UTF-8");
    }
    return converted;
}

// Line and column (1-based) of a byte offset.
std::pair<int, int> placeOf(const std::string& text, size_t offset)
{
    int line = 1, column = 1;
    for (size_t i = 0; i < offset && i < text.size(); ++i)
    {
        if (text[i] == '\n')
        {
            ++line;
            column = 1;
        }
        else
            ++column;
    }
    return {line, column};
}

} // namespace

// Settings are read as UTF-8, so that the file names they hold match the files. A file in
// ISO-8859-1 (declared, or undeclared with bytes that are not UTF-8) is transcoded, and said; one
// declaring any other encoding is refused by its name.
std::string XMLParserManager::readAsUtf8(std::string& content)
{
    _encodingNote.clear();
    const std::string declared = declaredEncoding(content);
    if (!declared.empty() && declared != "utf-8" && declared != "utf8" && !isLatin1Name(declared))
        return "encoded in " + declared +
               ": the player reads settings in UTF-8 (or ISO-8859-1); save it as UTF-8";
    if (isLatin1Name(declared))
        _encodingNote = "declared " + declared + ": read as such and turned into UTF-8 (save it as UTF-8)";
    else
    {
        const size_t bad = firstInvalidUtf8(content);
        if (bad == std::string::npos)
            return std::string();
        const std::pair<int, int> place = placeOf(content, bad);
        std::ostringstream note;
        note << "not UTF-8 (byte 0x" << std::hex << int(static_cast<unsigned char>(content[bad])) << std::dec
             << " at line " << place.first << ", column " << place.second
             << "): read as ISO-8859-1 (save it as UTF-8)";
        _encodingNote = note.str();
    }
    content = latin1ToUtf8(content, declared);
    osg::notify(osg::FATAL) << " WARNING: " << _path << ": " << _encodingNote << "." << std::endl;
    return std::string();
}

// Only regular files are read: a directory opens fine on this platform, and a device may never end.
std::string XMLParserManager::unloadableReason(std::string& content)
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
    return readAsUtf8(content);
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
