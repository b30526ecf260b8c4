#include "GltfJsonCheck.h"

#include <cstring>

namespace Novaro
{

namespace
{

// Where a value sits in the glTF structure, as far as the checks care.
enum class Place
{
    Root,
    Meshes,     // the top-level "meshes" array
    Mesh,       // one of its items
    Primitives, // a mesh's "primitives" array
    Primitive,  // one of its items
    Attributes, // a primitive's "attributes" object
    Other
};

// Recursive descent, one call per nesting level, bounded by maximumGltfJsonDepth. Values are
// checked for their form and dropped at once.
class GltfJsonChecker
{
public:
    GltfJsonChecker(const char* data, size_t size) : _data(data), _size(size) {}

    std::string check()
    {
        if (_size >= 3 && std::memcmp(_data, "\xEF\xBB\xBF", 3) == 0)
            _position = 3;
        skipSpace();
        if (_position >= _size || _data[_position] != '{')
            return "not a JSON object with an \"asset\" member";
        if (!readValue(Place::Root, 0))
            return _error;
        skipSpace();
        if (_position != _size)
            return "not JSON: text after the document at byte " + std::to_string(_position);
        if (!_hasAsset)
            return "not a JSON object with an \"asset\" member";
        return std::string();
    }

private:
    bool fail(const std::string& what)
    {
        if (_error.empty())
            _error = "not JSON: " + what + " at byte " + std::to_string(_position);
        return false;
    }

    // A structural fault rather than a syntax one.
    bool refuse(const std::string& what)
    {
        if (_error.empty())
            _error = what;
        return false;
    }

    void skipSpace()
    {
        while (_position < _size && (_data[_position] == ' ' || _data[_position] == '\t' ||
                                     _data[_position] == '\r' || _data[_position] == '\n'))
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

    bool readValue(Place place, int depth)
    {
        skipSpace();
        if (_position >= _size)
            return fail("unexpected end");
        const char c = _data[_position];
        if ((c == '{' || c == '[') && depth >= maximumGltfJsonDepth)
            return fail("nesting deeper than " + std::to_string(maximumGltfJsonDepth) + " levels");
        if (place == Place::Primitive && c != '{')
            return refuse(primitiveName() + " is not an object");
        if (c == '{')
            return readObject(place, depth + 1);
        if (c == '[')
            return readArray(place, depth + 1);
        if (c == '"')
            return readString(nullptr);
        return readScalar();
    }

    // The place of member 'name' of an object at 'place'.
    static Place memberPlace(Place place, const std::string& name)
    {
        if (place == Place::Root && name == "meshes")
            return Place::Meshes;
        if (place == Place::Mesh && name == "primitives")
            return Place::Primitives;
        if (place == Place::Primitive && name == "attributes")
            return Place::Attributes;
        return Place::Other;
    }

    bool readObject(Place place, int depth)
    {
        ++_position;
        bool hasPosition = false;
        if (!consume('}'))
        {
            do
            {
                std::string name;
                skipSpace();
                if (_position >= _size || _data[_position] != '"')
                    return fail("member name expected");
                if (!readString(&name))
                    return false;
                if (!consume(':'))
                    return fail("':' expected");
                if (place == Place::Root && name == "asset")
                    _hasAsset = (skipSpace(), _position < _size && _data[_position] == '{');
                if (place == Place::Attributes && name == "POSITION")
                    _primitiveHasPosition = true;
                if (place == Place::Primitive && name == "attributes")
                    _primitiveHasPosition = false;
                if (!readValue(memberPlace(place, name), depth))
                    return false;
                if (place == Place::Primitive && name == "attributes")
                    hasPosition = _primitiveHasPosition;
            } while (consume(','));
            if (!consume('}'))
                return fail("'}' expected");
        }
        if (place == Place::Primitive && !hasPosition)
            return refuse(primitiveName() + " has no POSITION");
        return true;
    }

    bool readArray(Place place, int depth)
    {
        ++_position;
        if (consume(']'))
            return true;
        // Items of the meshes and primitives arrays are counted for the messages.
        const Place itemPlace = place == Place::Meshes       ? Place::Mesh
                                : place == Place::Primitives ? Place::Primitive
                                                             : Place::Other;
        size_t index = 0;
        do
        {
            if (itemPlace == Place::Mesh)
                _mesh = index;
            if (itemPlace == Place::Primitive)
                _primitive = index;
            if (!readValue(itemPlace, depth))
                return false;
            ++index;
        } while (consume(','));
        return consume(']') || fail("']' expected");
    }

    // At the opening quote. Escapes are checked for their form only; 'text', when given, receives
    // the string as written.
    bool readString(std::string* text)
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
        if (text != nullptr)
            text->assign(_data + start, _position - start);
        ++_position;
        return true;
    }

    bool readScalar()
    {
        const size_t start = _position;
        while (_position < _size && _data[_position] != '\0' &&
               std::strchr("+-.0123456789eEtrufalsn", _data[_position]) != nullptr)
            ++_position;
        const std::string text(_data + start, _position - start);
        if (text == "true" || text == "false" || text == "null")
            return true;
        if (!text.empty() && (text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
            return true;
        _position = start;
        return fail("value expected");
    }

    std::string primitiveName() const
    {
        return "primitive " + std::to_string(_primitive) + " of mesh " + std::to_string(_mesh);
    }

    const char* _data;
    size_t _size;
    size_t _position = 0;
    std::string _error;
    bool _hasAsset = false;
    bool _primitiveHasPosition = false;
    size_t _mesh = 0;
    size_t _primitive = 0;
};

} // namespace

std::string checkGltfJson(const char* data, size_t size)
{
    return GltfJsonChecker(data, size).check();
}

} // namespace Novaro
