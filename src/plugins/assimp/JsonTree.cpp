#include "JsonTree.h"

#include <cstring>

namespace Novaro
{

const JsonValue* JsonValue::member(const std::string& name) const
{
    if (kind != Kind::Object)
        return nullptr;
    for (const auto& entry : members)
        if (entry.first == name)
            return &entry.second;
    return nullptr;
}

namespace
{

// Recursive descent, one call per nesting level, bounded by maximumJsonDepth.
class JsonReader
{
public:
    JsonReader(const char* data, size_t size) : _data(data), _size(size) {}

    std::string read(JsonValue& value)
    {
        if (_size >= 3 && std::memcmp(_data, "\xEF\xBB\xBF", 3) == 0)
            _position = 3;
        if (readValue(value, 0) && (skipSpace(), _position != _size))
            fail("text after the document");
        return _error;
    }

private:
    bool fail(const char* what)
    {
        if (_error.empty())
            _error = std::string(what) + " at byte " + std::to_string(_position);
        return false;
    }

    void skipSpace()
    {
        while (_position < _size && std::strchr(" \t\r\n", _data[_position]) != nullptr &&
               _data[_position] != '\0')
            ++_position;
    }

    bool consume(char c)
    {
        skipSpace();
        if (_position >= _size || _data[_position] != c)
            return false;
        ++_position;
        return true;
    }

    bool readValue(JsonValue& value, int depth)
    {
        skipSpace();
        if (_position >= _size)
            return fail("unexpected end");
        const char c = _data[_position];
        if (c == '{' || c == '[')
        {
            if (depth >= maximumJsonDepth)
                return fail(("nesting deeper than " + std::to_string(maximumJsonDepth) + " levels").c_str());
            return c == '{' ? readObject(value, depth + 1) : readArray(value, depth + 1);
        }
        if (c == '"')
        {
            value.kind = JsonValue::Kind::String;
            return readString(value.text);
        }
        return readScalar(value);
    }

    bool readObject(JsonValue& value, int depth)
    {
        value.kind = JsonValue::Kind::Object;
        ++_position;
        if (consume('}'))
            return true;
        do
        {
            std::string name;
            if (!consume('"'))
                return fail("member name expected");
            --_position;
            if (!readString(name))
                return false;
            if (!consume(':'))
                return fail("':' expected");
            value.members.emplace_back(std::move(name), JsonValue());
            if (!readValue(value.members.back().second, depth))
                return false;
        } while (consume(','));
        return consume('}') || fail("'}' expected");
    }

    bool readArray(JsonValue& value, int depth)
    {
        value.kind = JsonValue::Kind::Array;
        ++_position;
        if (consume(']'))
            return true;
        do
        {
            value.items.emplace_back();
            if (!readValue(value.items.back(), depth))
                return false;
        } while (consume(','));
        return consume(']') || fail("']' expected");
    }

    // At the opening quote; escapes are checked for their form and kept as written.
    bool readString(std::string& text)
    {
        const size_t start = ++_position;
        while (_position < _size && _data[_position] != '"')
        {
            if (static_cast<unsigned char>(_data[_position]) < 0x20)
                return fail("control character in a string");
            if (_data[_position] == '\\')
                ++_position;
            ++_position;
        }
        if (_position >= _size)
            return fail("unterminated string");
        text.assign(_data + start, _position - start);
        ++_position;
        return true;
    }

    bool readScalar(JsonValue& value)
    {
        const size_t start = _position;
        while (_position < _size && std::strchr("+-.0123456789eEtrufalsn", _data[_position]) != nullptr &&
               _data[_position] != '\0')
            ++_position;
        value.text.assign(_data + start, _position - start);
        if (value.text == "true" || value.text == "false")
            value.kind = JsonValue::Kind::Boolean;
        else if (value.text == "null")
            value.kind = JsonValue::Kind::Null;
        else if (!value.text.empty() && std::strchr("-0123456789", value.text[0]) != nullptr)
            value.kind = JsonValue::Kind::Number;
        else
            return fail("value expected");
        return true;
    }

    const char* _data;
    size_t _size;
    size_t _position = 0;
    std::string _error;
};

} // namespace

std::string readJson(const char* data, size_t size, JsonValue& value)
{
    value = JsonValue();
    return JsonReader(data, size).read(value);
}

} // namespace Novaro
