#include "scene/TextureUnitRenaming.h"

#include <cstdio>

namespace Novaro
{

namespace
{

std::string makeToken(const char* prefix, unsigned int unit, const char* suffix)
{
    char token[64];
    std::snprintf(token, sizeof(token), "%s%d%s", prefix, static_cast<int>(unit), suffix);
    return token;
}

void replaceAll(std::string& text, const std::string& oldToken, const std::string& newToken)
{
    std::string::size_type position = 0;
    while ((position = text.find(oldToken, position)) != std::string::npos)
    {
        text.replace(position, oldToken.size(), newToken);
        position += newToken.size();
    }
}

} // namespace

std::string replaceTextureUnit(unsigned int from, unsigned int to, const std::string& text)
{
    if (from == to)
        return text;

    static const char* const forms[][2] = {
        {"gl_TexCoord[", "]"},  {"gl_TextureMatrix[", "]"}, {"gl_MultiTexCoord", ""}, {"gl_EyePlaneS[", "]"},
        {"gl_EyePlaneT[", "]"}, {"gl_EyePlaneR[", "]"},     {"gl_EyePlaneQ[", "]"},
    };

    std::string result = text;
    for (const auto& form : forms)
        replaceAll(result, makeToken(form[0], from, form[1]), makeToken(form[0], to, form[1]));
    return result;
}

} // namespace Novaro
