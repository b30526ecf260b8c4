#include "osgART/XmlText.h"

#include <algorithm>

namespace osgART
{

namespace
{

// Zero bytes after the text, bytes: more than the longest step TinyXML may take over one character
// (a UTF-8 lead byte announces four bytes at most, six in the old forms).
const std::size_t kEndPadding = 8;

// "\r\n" and a lone "\r" become "\n", as TinyXML's LoadFile makes them before parsing.
void unifyLineEnds(std::string& text)
{
    std::size_t kept = 0;
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] == '\r')
        {
            text[kept++] = '\n';
            if (at + 1 < text.size() && text[at + 1] == '\n')
                ++at;
        }
        else
            text[kept++] = text[at];
    }
    text.resize(kept);
}

} // namespace

void parseXmlText(TiXmlDocument& document, std::string text, TiXmlEncoding encoding)
{
    unifyLineEnds(text);
    // Zero bytes after the text's own end: a step from its last byte lands on one of them.
    text.append(kEndPadding, '\0');
    document.Parse(text.c_str(), nullptr, encoding);
}

} // namespace osgART
