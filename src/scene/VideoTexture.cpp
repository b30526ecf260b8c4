#include "scene/VideoTexture.h"

#include "scene/TextureUnitRenaming.h"

#include <osg/GL>
#include <osg/Image>
#include <osg/Notify>
#include <osg/StateSet>
#include <osg/TexMat>

#include <cmath>

namespace Novaro
{

ITexture2DSubloadCallback::ITexture2DSubloadCallback(osg::Texture2D* texture)
{
    const osg::Image* image = texture->getImage();
    const int width = image ? image->s() : 0;
    const int height = image ? image->t() : 0;
    _textureWidth = powerOfTwoAbove(width);
    _textureHeight = powerOfTwoAbove(height);
    texture->setTextureSize(static_cast<int>(_textureWidth), static_cast<int>(_textureHeight));
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
}

int ITexture2DSubloadCallback::powerOfTwoAbove(int size)
{
    if (size < 1)
        return 1;
    // Bounded by the largest picture a movie may have, far from the top of int.
    return 1 << (static_cast<int>(std::floor(std::log2(static_cast<double>(size)))) + 1);
}

bool ITexture2DSubloadCallback::textureObjectValid(const osg::Texture2D&, osg::State&) const
{
    return true;
}

void ITexture2DSubloadCallback::load(const osg::Texture2D& texture, osg::State&) const
{
    const osg::Image* image = texture.getImage();
    if (!image)
        return;
    // Allocated once, at the movie's size so that the plane's coordinates span the whole picture.
    glTexImage2D(GL_TEXTURE_2D, 0, image->getInternalTextureFormat(), image->s(), image->t(), 0,
                 image->getPixelFormat(), image->getDataType(), nullptr);
}

void ITexture2DSubloadCallback::subload(const osg::Texture2D& texture, osg::State&) const
{
    const osg::Image* image = texture.getImage();
    if (!image || !image->data())
        return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, image->getPacking());
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image->s(), image->t(), image->getPixelFormat(),
                    image->getDataType(), image->data());
}

int highestTexturedUnit(const osg::StateSet* state)
{
    if (!state)
        return -1;
    for (int unit = static_cast<int>(movieTextureUnitCount) - 1; unit >= 0; --unit)
    {
        if (state->getTextureAttribute(static_cast<unsigned int>(unit), osg::StateAttribute::TEXTURE))
            return unit;
    }
    return -1;
}

osg::ref_ptr<osg::Texture2D> createMovieTexture(osg::Image* movie)
{
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(movie);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::REPEAT);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::REPEAT);
    // Movie pictures are rarely powers of two; resizing each frame would cost more than drawing it.
    texture->setResizeNonPowerOfTwoHint(false);
    return texture;
}

void flipMovieRows(osg::StateSet& state, unsigned int unit)
{
    state.setTextureAttributeAndModes(unit, new osg::TexMat(osg::Matrix::scale(1.0, -1.0, 1.0)),
                                      osg::StateAttribute::ON);
}

std::string chromaKeyVertexShader(unsigned int unit)
{
    const std::string source = "varying vec2 texcoord;\n"
                               "void main()\n"
                               "{\n"
                               "    gl_Position = ftransform();\n"
                               "    texcoord = gl_MultiTexCoord0.xy;\n"
                               "}\n";
    if (unit == 0)
    {
        osg::notify(osg::NOTICE) << " Using TU0, no need to replace in shader." << std::endl;
        return source;
    }
    return replaceTextureUnit(0, unit, source);
}

std::string chromaKeyFragmentShader(bool greenKey)
{
    const std::string key = greenKey ? "colour.g" : "colour.b";
    const std::string others = greenKey ? "max(colour.b, colour.r)" : "max(colour.g, colour.r)";
    return "uniform sampler2D baseTexture;\n"
           "varying vec2 texcoord;\n"
           "void main()\n"
           "{\n"
           "    vec4 colour = texture2D(baseTexture, vec2(texcoord.x, 1.0 - texcoord.y));\n"
           "    float distance = " +
           key + " - " + others +
           ";\n"
           "    if (" +
           key +
           " >= 0.10 && distance >= 0.10)\n"
           "        discard;\n"
           "    gl_FragColor = vec4(colour.rgb, 1.0 - distance);\n"
           "}\n";
}

} // namespace Novaro
