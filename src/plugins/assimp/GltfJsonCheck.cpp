#include "GltfJsonCheck.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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
    Nodes,      // the top-level "nodes" array
    Node,       // one of its items
    Children,   // a node's "children" array
    Animations, // the top-level "animations" array
    Animation,  // one of its items
    Channels,   // an animation's "channels" array
    Skins,      // the top-level "skins" array
    Skin,       // one of its items
    Accessors,  // the top-level "accessors" array
    Accessor,   // one of its items
    BufferViews,
    BufferView,
    Buffers,
    Buffer,
    Other
};

// The numbers of an accessor, a buffer view or a buffer that say which bytes it covers; -1 where
// the file gives none.
struct ByteRange
{
    double reference = -1; // an accessor's bufferView, a view's buffer
    double offset = 0;     // byteOffset
    double length = -1;    // a view's or buffer's byteLength, an accessor's count
    double stride = 0;     // a view's byteStride
    double componentType = -1;
    std::string type;    // an accessor's SCALAR, VEC3, ...
    size_t uriStart = 0; // a buffer's uri, where it stands in the text (none: length 0)
    size_t uriLength = 0;
};

// A primitive drawn as a closed line through indexed vertices.
struct IndexedLineLoop
{
    std::string name;      // "primitive P of mesh M"
    double indices = -1;   // its indices accessor
    double positions = -1; // its POSITION accessor
};

// Largest count, offset or index a file may declare: 2^53 bytes is past any file, and beyond it a
// double no longer holds every whole number. Bounding them first keeps every sum the checks form
// finite and every index they convert in range.
const double largestDeclaredNumber = 9007199254740992.0;

// A whole number of bytes for a message; sums of bounded numbers can exceed any integer type.
std::string wholeNumberText(double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.0f", value);
    return text;
}

// A JSON string's text as its reader gives it, for the escapes a URI can hold ("\/" for "/", as
// some writers put it); others (\uXXXX) are kept as written.
std::string unescaped(const std::string& text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\\' && i + 1 < text.size() && std::strchr("/\\\"", text[i + 1]) != nullptr)
            ++i;
        plain.push_back(text[i]);
    }
    return plain;
}

// glTF's primitive mode for a closed line.
const double lineLoopMode = 2;

// Recursive descent, one call per nesting level, bounded by maximumGltfJsonDepth. Values are
// checked for their form and dropped at once.
class GltfJsonChecker
{
public:
    GltfJsonChecker(const char* data, size_t size, const GltfBufferSource* buffers)
        : _data(data), _size(size), _bufferSource(buffers)
    {
    }

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
        if (_channels > maximumGltfAnimationChannels)
            return std::to_string(_channels) + " animation channels, more than " +
                   std::to_string(maximumGltfAnimationChannels);
        std::string fault = checkByteRanges();
        if (fault.empty())
            fault = checkNodeHierarchy();
        return fault.empty() ? checkLineLoops() : fault;
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
        if (place == Place::Skin && c != '{')
            return refuse("skin " + std::to_string(_skin) + " is not an object");
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
        if (place == Place::Root && name == "nodes")
            return Place::Nodes;
        if (place == Place::Node && name == "children")
            return Place::Children;
        if (place == Place::Root && name == "animations")
            return Place::Animations;
        if (place == Place::Animation && name == "channels")
            return Place::Channels;
        if (place == Place::Root && name == "skins")
            return Place::Skins;
        if (place == Place::Root && name == "accessors")
            return Place::Accessors;
        if (place == Place::Root && name == "bufferViews")
            return Place::BufferViews;
        if (place == Place::Root && name == "buffers")
            return Place::Buffers;
        return Place::Other;
    }

    bool readObject(Place place, int depth)
    {
        ++_position;
        bool hasPosition = false;
        bool hasInverseBindMatrices = false;
        double mode = 4; // triangles, when not given
        double indices = -1;
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
                    _primitiveHasPosition = false, _primitivePositions = -1;
                if (place == Place::Skin && name == "inverseBindMatrices")
                    hasInverseBindMatrices = true;
                skipSpace();
                const size_t valueStart = _position;
                if (!readValue(memberPlace(place, name), depth))
                    return false;
                if ((place == Place::Accessor || place == Place::BufferView || place == Place::Buffer) &&
                    !recordRangeMember(place, name, valueStart))
                    return false;
                if (place == Place::Primitive && name == "mode")
                    numberAt(valueStart, mode);
                if (place == Place::Primitive && name == "indices")
                    numberAt(valueStart, indices);
                if (place == Place::Attributes && name == "POSITION")
                    numberAt(valueStart, _primitivePositions);
                if (place == Place::Primitive && name == "attributes")
                    hasPosition = _primitiveHasPosition;
            } while (consume(','));
            if (!consume('}'))
                return fail("'}' expected");
        }
        if (place == Place::Primitive && !hasPosition)
            return refuse(primitiveName() + " has no POSITION");
        if (place == Place::Primitive && mode == lineLoopMode && indices >= 0)
            _lineLoops.push_back({primitiveName(), indices, _primitivePositions});
        // Optional in glTF (identity matrices), but Assimp reads them through a null pointer.
        if (place == Place::Skin && !hasInverseBindMatrices)
            return refuse("skin " + std::to_string(_skin) + " has no inverseBindMatrices");
        return true;
    }

    bool readArray(Place place, int depth)
    {
        ++_position;
        if (consume(']'))
            return true;
        // Items of the meshes and primitives arrays are counted for the messages.
        const Place itemPlace = place == Place::Meshes        ? Place::Mesh
                                : place == Place::Primitives  ? Place::Primitive
                                : place == Place::Nodes       ? Place::Node
                                : place == Place::Animations  ? Place::Animation
                                : place == Place::Skins       ? Place::Skin
                                : place == Place::Accessors   ? Place::Accessor
                                : place == Place::BufferViews ? Place::BufferView
                                : place == Place::Buffers     ? Place::Buffer
                                                              : Place::Other;
        size_t index = 0;
        do
        {
            if (itemPlace == Place::Mesh)
                _mesh = index;
            if (itemPlace == Place::Primitive)
                _primitive = index;
            if (itemPlace == Place::Node)
                _parents.push_back(noParent);
            if (itemPlace == Place::Skin)
                _skin = index;
            if (place == Place::Channels)
                ++_channels;
            if (itemPlace == Place::Accessor)
                _accessors.emplace_back();
            if (itemPlace == Place::BufferView)
                _bufferViews.emplace_back();
            if (itemPlace == Place::Buffer)
                _buffers.emplace_back();
            if (place == Place::Children && !readChild())
                return false;
            if (place != Place::Children && !readValue(itemPlace, depth))
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

    // One index of the current node's "children": recorded as that child's parent.
    bool readChild()
    {
        skipSpace();
        const size_t start = _position;
        uint64_t child = 0;
        while (_position < _size && _data[_position] >= '0' && _data[_position] <= '9' && child <= noParent)
            child = child * 10 + static_cast<uint64_t>(_data[_position++] - '0');
        if (_position == start)
            return readValue(Place::Other, 0) &&
                   refuse("a child of node " + std::to_string(currentNode()) + " is not a node index");
        if (child >= noParent)
            return refuse("node " + std::to_string(currentNode()) + " names a child beyond any node");
        _children.emplace_back(currentNode(), static_cast<size_t>(child));
        return true;
    }

    size_t currentNode() const { return _parents.empty() ? 0 : _parents.size() - 1; }

    // Assimp builds the node tree recursively, a stack frame per level, and copies a node once per
    // parent: a deep chain (a skin of thousands of joints, each the child of the one before)
    // overflows its stack, and nodes shared between parents multiply. Each node must have one
    // parent at most, no node may be its own ancestor, and no chain may be deeper than
    // maximumGltfNodeDepth.
    std::string checkNodeHierarchy()
    {
        for (const auto& link : _children)
        {
            if (link.second >= _parents.size())
                return "node " + std::to_string(link.first) + " names child " + std::to_string(link.second) +
                       " of " + std::to_string(_parents.size()) + " nodes";
            if (_parents[link.second] != noParent)
                return "node " + std::to_string(link.second) + " has more than one parent";
            _parents[link.second] = link.first;
        }
        _children.clear();
        // Depths are found walking up from each node; a depth once known is not walked again.
        std::vector<size_t> depths(_parents.size(), 0);
        std::vector<size_t> chain;
        for (size_t node = 0; node < _parents.size(); ++node)
        {
            chain.clear();
            size_t current = node;
            while (current != noParent && depths[current] == 0)
            {
                chain.push_back(current);
                if (chain.size() > _parents.size())
                    return "node " + std::to_string(node) + " is its own ancestor";
                current = _parents[current];
            }
            size_t depth = current == noParent ? 0 : depths[current];
            for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            {
                depths[*it] = ++depth;
                if (depth > maximumGltfNodeDepth)
                    return "node hierarchy deeper than " + std::to_string(maximumGltfNodeDepth) +
                           " levels (node " + std::to_string(*it) + ")";
            }
        }
        return std::string();
    }

    // The member just read at 'start' of the accessor, view or buffer being read, when it is one
    // of the numbers (or the type) that place its bytes.
    // A number beyond largestDeclaredNumber (or not a number, as "-nan" reads) is refused.
    bool recordRangeMember(Place place, const std::string& name, size_t start)
    {
        std::vector<ByteRange>& list = place == Place::Accessor     ? _accessors
                                       : place == Place::BufferView ? _bufferViews
                                                                    : _buffers;
        ByteRange& range = list.back();
        const std::string value(_data + start, _position - start);
        if (name == "type" && value.size() >= 2 && value.front() == '"')
        {
            range.type = value.substr(1, value.size() - 2);
            return true;
        }
        if (place == Place::Buffer && name == "uri" && value.size() >= 2 && value.front() == '"')
        {
            range.uriStart = start + 1;
            range.uriLength = value.size() - 2;
            return true;
        }
        double* member = name == (place == Place::Accessor ? "bufferView" : "buffer")  ? &range.reference
                         : name == "byteOffset"                                        ? &range.offset
                         : name == (place == Place::Accessor ? "count" : "byteLength") ? &range.length
                         : name == "byteStride"                                        ? &range.stride
                         : name == "componentType"                                     ? &range.componentType
                                                                                       : nullptr;
        double number = 0;
        if (member == nullptr || !numberAt(start, number))
            return true;
        if (!(std::fabs(number) <= largestDeclaredNumber))
        {
            const char* what = place == Place::Accessor     ? "accessor "
                               : place == Place::BufferView ? "buffer view "
                                                            : "buffer ";
            return refuse(what + std::to_string(list.size() - 1) + " declares " + name + " " +
                          value.substr(0, 32) + ", beyond any file");
        }
        *member = number;
        return true;
    }

    // Bytes of one component of a glTF component type, or 0 for one glTF does not have.
    static int componentBytes(double type)
    {
        return type == 5120 || type == 5121   ? 1
               : type == 5122 || type == 5123 ? 2
               : type == 5125 || type == 5126 ? 4
                                              : 0;
    }

    // Bytes of one element of an accessor, or 0 for a type glTF does not have.
    static double elementBytes(const ByteRange& accessor)
    {
        static const std::pair<const char*, int> types[] = {
            {"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}, {"VEC4", 4}, {"MAT2", 4}, {"MAT3", 9}, {"MAT4", 16}};
        int components = 0;
        for (const auto& type : types)
            if (accessor.type == type.first)
                components = type.second;
        return static_cast<double>(components * componentBytes(accessor.componentType));
    }

    // Assimp copies an accessor's elements without checking them against the view they lie in,
    // nor a view against its buffer: every accessor must lie inside its view, every view inside
    // its buffer.
    std::string checkByteRanges() const
    {
        for (size_t index = 0; index < _bufferViews.size(); ++index)
        {
            const ByteRange& view = _bufferViews[index];
            const std::string name = "buffer view " + std::to_string(index);
            if (view.reference < 0 || view.reference >= static_cast<double>(_buffers.size()))
                return name + " names no buffer";
            const ByteRange& buffer = _buffers[static_cast<size_t>(view.reference)];
            if (view.length < 0 || view.offset < 0 || view.offset + view.length > buffer.length)
                return name + " reaches past its buffer";
        }
        for (size_t index = 0; index < _accessors.size(); ++index)
        {
            const ByteRange& accessor = _accessors[index];
            const std::string name = "accessor " + std::to_string(index);
            const double element = elementBytes(accessor);
            if (element == 0 || accessor.length < 1)
                return name + " has no valid type, component type and count";
            if (accessor.reference < 0)
                continue; // all zeros, made by the reader itself
            if (accessor.reference >= static_cast<double>(_bufferViews.size()))
                return name + " names no buffer view";
            const ByteRange& view = _bufferViews[static_cast<size_t>(accessor.reference)];
            const double stride = view.stride > 0 ? view.stride : element;
            const double last = accessor.offset + (accessor.length - 1) * stride + element;
            if (accessor.offset < 0 || last > view.length)
                return name + " reaches past its buffer view (" + wholeNumberText(last) + " of " +
                       wholeNumberText(view.length) + " bytes)";
        }
        return std::string();
    }

    // The value just read from 'start' as a number, when it is one.
    bool numberAt(size_t start, double& number) const
    {
        const std::string value(_data + start, _position - start);
        char* end = nullptr;
        const double parsed = std::strtod(value.c_str(), &end);
        if (value.empty() || end != value.c_str() + value.size())
            return false;
        number = parsed;
        return true;
    }

    // Assimp closes an indexed line loop on its first segment's first vertex, read through a null
    // pointer when no segment has both indices naming a vertex (it skips such segments). The
    // indices are read where Assimp reads them; a loop whose indices cannot be read is refused,
    // since what Assimp would make of them is not known.
    std::string checkLineLoops() const
    {
        for (const IndexedLineLoop& loop : _lineLoops)
        {
            if (loop.indices >= static_cast<double>(_accessors.size()) ||
                !(loop.positions >= 0 && loop.positions < static_cast<double>(_accessors.size())))
                continue;
            const ByteRange& accessor = _accessors[static_cast<size_t>(loop.indices)];
            if (accessor.length < 2)
                return loop.name + " is a line loop of fewer than two indices";
            if (accessor.reference < 0 || _bufferSource == nullptr)
                continue; // all zeros (made by the reader itself), or nothing to read them from
            std::vector<uint32_t> indices;
            if (!readIndices(accessor, indices))
                return loop.name + " is a line loop whose indices cannot be read";
            const double vertices = _accessors[static_cast<size_t>(loop.positions)].length;
            if (!hasSegment(indices, vertices))
                return loop.name + " is a line loop whose indices name no segment of its " +
                       wholeNumberText(vertices) + " vertices";
        }
        return std::string();
    }

    // Reads the index values of 'accessor' (its ranges checked already), when its buffer can be
    // had.
    bool readIndices(const ByteRange& accessor, std::vector<uint32_t>& indices) const
    {
        // Assimp takes each index's bytes whatever their component type says they are (a valid
        // one: the byte ranges check refused the others).
        const uint64_t bytes = static_cast<uint64_t>(componentBytes(accessor.componentType));
        const ByteRange& view = _bufferViews[static_cast<size_t>(accessor.reference)];
        const ByteRange& buffer = _buffers[static_cast<size_t>(view.reference)];
        const uint64_t stride = view.stride > 0 ? static_cast<uint64_t>(view.stride) : bytes;
        const uint64_t count = static_cast<uint64_t>(accessor.length);
        std::string data;
        if (!_bufferSource->read(unescaped(std::string(_data + buffer.uriStart, buffer.uriLength)),
                                 static_cast<uint64_t>(view.offset + accessor.offset),
                                 (count - 1) * stride + bytes, data))
            return false;
        indices.resize(static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i)
        {
            const auto* at = reinterpret_cast<const unsigned char*>(data.data() + i * stride);
            indices[i] = 0;
            for (size_t b = 0; b < bytes; ++b)
                indices[i] |= static_cast<uint32_t>(at[b]) << (8 * b);
        }
        return true;
    }

    static bool hasSegment(const std::vector<uint32_t>& indices, double vertices)
    {
        for (size_t i = 1; i < indices.size(); ++i)
            if (indices[i - 1] < vertices && indices[i] < vertices)
                return true;
        return false;
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
    double _primitivePositions = -1;
    std::vector<IndexedLineLoop> _lineLoops;
    const GltfBufferSource* _bufferSource;
    size_t _mesh = 0;
    size_t _primitive = 0;
    // Per node its parent, filled from the children lists once all nodes are known.
    static constexpr size_t noParent = static_cast<size_t>(1) << 40;
    std::vector<size_t> _parents;
    std::vector<std::pair<size_t, size_t>> _children;
    size_t _channels = 0;
    size_t _skin = 0;
    std::vector<ByteRange> _accessors;
    std::vector<ByteRange> _bufferViews;
    std::vector<ByteRange> _buffers;
};

} // namespace

std::string checkGltfJson(const char* data, size_t size, const GltfBufferSource* buffers)
{
    return GltfJsonChecker(data, size, buffers).check();
}

} // namespace Novaro
