#pragma once

#include <string>
#include <vector>

#include <tinyxml.h>

namespace Novaro
{

// Base of every settings reader: owns the file path and the parsed document and offers the small
// set of lookups all readers share. A reader is used once: construct, loadFile, parse, isValid,
// then the caller copies the record.
//
// Lookups compare tags, attribute names and values exactly (case-sensitive, whole text) and walk
// the children with FirstChildElement/NextSiblingElement without a name filter, so that the
// comparison rules do not depend on TinyXML's own name matching.
class XMLParserManager
{
public:
    explicit XMLParserManager(const std::string& path);
    virtual ~XMLParserManager();

    XMLParserManager(const XMLParserManager&) = delete;
    XMLParserManager& operator=(const XMLParserManager&) = delete;

    // Loads the document from the path, with the encoding detected from the file. Prints the
    // loaded line at notice level or the error line at fatal level; the error line ends with where
    // the XML parser stopped and why, and loadError() keeps both. Files larger than 16 MiB or
    // nesting deeper than 256 elements are refused before parsing. Once loaded, every attribute
    // value and text that names a place outside the scene's folders (see SceneBoundary) is said,
    // with its line and column, and replaced by its last component, so that no reader ever
    // reaches outside.
    bool loadFile();

    // Why the last loadFile failed: the line and column (1-based; 0 when the failure has no place
    // in the text, such as a missing file) and the reason. Empty reason after a successful load.
    struct LoadError
    {
        int line = 0;
        int column = 0;
        std::string reason;
    };
    const LoadError& loadError() const { return _loadError; }

    // A name the load refused because it leads outside the scene's folders, where it stood.
    struct RefusedName
    {
        int line = 0;
        int column = 0;
        std::string value;
    };
    const std::vector<RefusedName>& refusedNames() const { return _refusedNames; }
    // How the file's encoding was taken when it was not UTF-8 (transcoded from ISO-8859-1), or empty.
    const std::string& encodingNote() const { return _encodingNote; }

    // The parsed document, for callers that look at it beside the record (a scene check).
    const TiXmlDocument& document() const { return _document; }

    // Reads the document into the derived reader's record.
    virtual bool parse() = 0;
    // Checks the record after parse.
    virtual bool isValid() = 0;

    const std::string& getPath() const { return _path; }

protected:
    // The document's first child element (the root), or none before a successful load.
    const TiXmlElement* rootElement() const;

    static bool elementIs(const TiXmlElement* element, const std::string& tag);
    static std::string attribute(const TiXmlElement* element, const std::string& name);
    static bool hasAttribute(const TiXmlElement* element, const std::string& name);
    static std::string text(const TiXmlElement* element);
    static const TiXmlElement* childByTag(const TiXmlElement* parent, const std::string& tag);
    static const TiXmlElement* childByAttribute(const TiXmlElement* parent, const std::string& name,
                                                const std::string& value);
    static int countChildren(const TiXmlElement* parent);

private:
    void refuseNamesLeavingTheScene();

    // Why the file cannot be handed to TinyXML, or empty; content holds the file when it can.
    std::string unloadableReason(std::string& content);
    // Why the text cannot be read as UTF-8, or empty: it is then UTF-8 (transcoded if need be).
    std::string readAsUtf8(std::string& content);

    std::string _path;
    TiXmlDocument _document;
    LoadError _loadError;
    std::vector<RefusedName> _refusedNames;
    std::string _encodingNote;
};

} // namespace Novaro
