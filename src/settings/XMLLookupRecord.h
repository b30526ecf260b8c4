#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

class TiXmlElement;

namespace Novaro
{

// What a settings reader looked at in its document: the tags it asked for under each element, the
// attributes it asked for on each element, the parameters (children found by an attribute value)
// it asked for under each element, and the elements it found. A scene check compares this with
// the document to name what no reader reads (a typo, an element in the wrong place), and the
// names asked for are the readers' vocabulary, which the format document must list.
//
// Recording is off unless a Scope is alive on the calling thread; the readers' lookups then cost
// one pointer test. The record keys elements by address, so it is only meaningful while the
// document it was made on is alive: one record per reader.
class XMLLookupRecord
{
public:
    // Makes 'record' the current one of this thread for the scope's lifetime.
    class Scope
    {
    public:
        explicit Scope(XMLLookupRecord& record);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        XMLLookupRecord* _previous;
    };

    // The record of this thread's innermost scope, or null.
    static XMLLookupRecord* current();

    // A reader asked for a child of 'parent' (null: the document's root) with this tag.
    void askedTag(const TiXmlElement* parent, const std::string& tag);
    // A reader asked for the attribute 'name' of 'element'.
    void askedAttribute(const TiXmlElement* element, const std::string& name);
    // A reader asked for the child of 'parent' whose attribute 'name' is 'value'.
    void askedParameter(const TiXmlElement* parent, const std::string& name, const std::string& value);
    // A lookup found 'element'.
    void found(const TiXmlElement* element);

    // A reader read the value of an attribute of 'element', or its text (empty 'name'); a number
    // read right after from that value is judged against it.
    void readValue(const TiXmlElement* element, const std::string& name, const std::string& value);
    // A reader took 'text' for a number and it is not one (C's rules then read a prefix of it, or
    // 0): noted with the value read last, when that is this text.
    void notANumber(const std::string& text);
    // A reader replaced the value read last, 'text', by another: 'reason' says why and with what
    // ("a marker's size must be above 0: 80 is used").
    void replaced(const std::string& text, const std::string& reason);
    struct BadNumber
    {
        const TiXmlElement* element = nullptr;
        std::string name; ///< the attribute, or empty for the element's text
        std::string text;
        std::string reason; ///< empty: not a number
    };
    const std::vector<BadNumber>& badNumbers() const { return _badNumbers; }

    bool wasFound(const TiXmlElement* element) const { return _found.count(element) != 0; }
    std::set<std::string> tagsAskedUnder(const TiXmlElement* parent) const;
    std::set<std::string> attributesAskedOf(const TiXmlElement* element) const;
    // The attribute that names parameters under 'parent' (empty when none was asked for), and the
    // values asked for.
    std::string parameterAttributeUnder(const TiXmlElement* parent) const;
    std::set<std::string> parametersAskedUnder(const TiXmlElement* parent) const;

    // Every name asked for, as "<tag>" for an element, "tag@attribute" for an attribute of an
    // element with that tag, and "tag:value" for a parameter under an element with that tag.
    const std::set<std::string>& vocabulary() const { return _vocabulary; }

private:
    static std::string tagOf(const TiXmlElement* element);

    std::map<const TiXmlElement*, std::set<std::string>> _tags;
    std::map<const TiXmlElement*, std::set<std::string>> _attributes;
    std::map<const TiXmlElement*, std::pair<std::string, std::set<std::string>>> _parameters;
    std::set<const TiXmlElement*> _found;
    std::set<std::string> _vocabulary;
    BadNumber _lastValue;
    std::vector<BadNumber> _badNumbers;
};

} // namespace Novaro
