#include "settings/XMLLookupRecord.h"

#include <tinyxml.h>

namespace Novaro
{

namespace
{

thread_local XMLLookupRecord* currentRecord = nullptr;

template <class Value>
Value valueOr(const std::map<const TiXmlElement*, Value>& table, const TiXmlElement* key)
{
    const auto entry = table.find(key);
    return entry == table.end() ? Value() : entry->second;
}

} // namespace

XMLLookupRecord::Scope::Scope(XMLLookupRecord& record) : _previous(currentRecord)
{
    currentRecord = &record;
}

XMLLookupRecord::Scope::~Scope()
{
    currentRecord = _previous;
}

XMLLookupRecord* XMLLookupRecord::current()
{
    return currentRecord;
}

std::string XMLLookupRecord::tagOf(const TiXmlElement* element)
{
    return element ? element->ValueStr() : std::string();
}

void XMLLookupRecord::askedTag(const TiXmlElement* parent, const std::string& tag)
{
    _tags[parent].insert(tag);
    _vocabulary.insert("<" + tag + ">");
}

void XMLLookupRecord::askedAttribute(const TiXmlElement* element, const std::string& name)
{
    if (!element)
        return;
    _attributes[element].insert(name);
    _vocabulary.insert(tagOf(element) + "@" + name);
}

void XMLLookupRecord::readValue(const TiXmlElement* element, const std::string& name,
                                const std::string& value)
{
    _lastValue = BadNumber{element, name, value, std::string()};
}

void XMLLookupRecord::notANumber(const std::string& text)
{
    if (_lastValue.element == nullptr || _lastValue.text != text)
        return;
    for (const BadNumber& known : _badNumbers)
        if (known.element == _lastValue.element && known.name == _lastValue.name)
            return;
    _badNumbers.push_back(_lastValue);
}

void XMLLookupRecord::replaced(const std::string& text, const std::string& reason)
{
    if (_lastValue.element == nullptr || _lastValue.text != text)
        return;
    BadNumber noted = _lastValue;
    noted.reason = reason;
    _badNumbers.push_back(noted);
}

void XMLLookupRecord::askedParameter(const TiXmlElement* parent, const std::string& name,
                                     const std::string& value)
{
    if (!parent)
        return;
    auto& parameters = _parameters[parent];
    parameters.first = name;
    parameters.second.insert(value);
    _vocabulary.insert(tagOf(parent) + ":" + value);
}

void XMLLookupRecord::found(const TiXmlElement* element)
{
    if (element)
        _found.insert(element);
}

std::set<std::string> XMLLookupRecord::tagsAskedUnder(const TiXmlElement* parent) const
{
    return valueOr(_tags, parent);
}

std::set<std::string> XMLLookupRecord::attributesAskedOf(const TiXmlElement* element) const
{
    return valueOr(_attributes, element);
}

std::string XMLLookupRecord::parameterAttributeUnder(const TiXmlElement* parent) const
{
    return valueOr(_parameters, parent).first;
}

std::set<std::string> XMLLookupRecord::parametersAskedUnder(const TiXmlElement* parent) const
{
    return valueOr(_parameters, parent).second;
}

} // namespace Novaro
