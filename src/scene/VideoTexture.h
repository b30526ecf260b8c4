#pragma once

#include <osg/Texture2D>

#include <string>

namespace osg
{
class Image;
class StateSet;
} // namespace osg

namespace Novaro
{

// Uploads a movie into a texture allocated once: the texture object is created empty at the
// movie's size and each new frame is copied into it with one sub-image upload. The texture's
// nominal size is the next power of two strictly above each of the movie's sizes (512 gives 1024,
// 640 gives 1024), what drivers without non-power-of-two support round up to.
class ITexture2DSubloadCallback : public osg::Texture2D::SubloadCallback
{
public:
    explicit ITexture2DSubloadCallback(osg::Texture2D* texture);

    bool textureObjectValid(const osg::Texture2D& texture, osg::State& state) const override;
    void load(const osg::Texture2D& texture, osg::State& state) const override;
    void subload(const osg::Texture2D& texture, osg::State& state) const override;

    double getTextureWidth() const { return _textureWidth; }
    double getTextureHeight() const { return _textureHeight; }

    // 2 to the power (floor(log2 size) + 1).
    static int powerOfTwoAbove(int size);

private:
    double _textureWidth = 0.0;
    double _textureHeight = 0.0;
};

// Texture units a movie may take over on a model's plane.
const unsigned int movieTextureUnitCount = 4;

// The highest of the units 0 to 3 of 'state' that holds a texture, or -1 when none does: the
// movie replaces the plane's top texture, the one the exporter placed the movie's stand-in on.
int highestTexturedUnit(const osg::StateSet* state);

// A texture showing the movie: linear minification, repeating in both directions.
osg::ref_ptr<osg::Texture2D> createMovieTexture(osg::Image* movie);

// Shows the movie's rows the right way up on 'unit' (movie rows come top first, texture rows
// bottom first).
void flipMovieRows(osg::StateSet& state, unsigned int unit);

// The chroma-key shaders. The vertex shader hands the texture coordinate of 'unit' on as
// "texcoord"; the fragment shader samples "baseTexture" upside down (movie rows come top first),
// discards the key colour (green or blue: the key component at least 0.10 and at least 0.10 above
// both others) and makes the rest more transparent the nearer it is to the key.
std::string chromaKeyVertexShader(unsigned int unit);
std::string chromaKeyFragmentShader(bool greenKey);

} // namespace Novaro
