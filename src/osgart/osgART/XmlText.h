#pragma once

#include <string>

#include <tinyxml.h>

namespace osgART
{

/// Parses a whole XML text into document, as TinyXML's own LoadFile does (line ends made "\n"
/// first), but safely at the text's end. TinyXML 2.6 steps over a UTF-8 sequence by the length its
/// first byte announces, even where the text ends inside the sequence, and then reads past the end
/// of its buffer: a file whose last byte is such a lead byte makes it do so. The text is handed
/// over followed by enough zero bytes to end any sequence. Failure shows in document.Error().
void parseXmlText(TiXmlDocument& document, std::string text, TiXmlEncoding encoding);

} // namespace osgART
