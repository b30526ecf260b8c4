#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace Novaro
{

// A JSON document read into memory, for looking at a glTF file's structure before Assimp sees it.
// Assimp's own JSON reader recurses once per nesting level, so a few hundred kilobytes of "["
// overflow the stack; this reader refuses nesting beyond a bound instead.
struct JsonValue
{
    enum class Kind
    {
        Null,
        Boolean,
        Number,
        String,
        Array,
        Object
    };

    Kind kind = Kind::Null;
    // The string's text with its escapes kept as written; numbers, booleans and null keep theirs too.
    std::string text;
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The first member named 'name' of an object, else null.
    const JsonValue* member(const std::string& name) const;
};

// Deepest nesting of arrays and objects read. glTF files nest some ten levels; each level costs a
// stack frame of the reader.
const int maximumJsonDepth = 64;

// Reads the JSON text 'data' of 'size' bytes (white space and a UTF-8 byte order mark around it
// allowed) into 'value'. Returns an empty text on success, else what is wrong and where.
std::string readJson(const char* data, size_t size, JsonValue& value);

} // namespace Novaro
