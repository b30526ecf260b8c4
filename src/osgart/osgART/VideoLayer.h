#pragma once

#include <osg/Geometry>
#include <osg/Group>
#include <osg/Image>
#include <osg/ref_ptr>

namespace osgART
{

/// The smallest power of two not below size: 1 for sizes up to 1, and 2^30, the largest int power
/// of two, for every size from 2^30 on (no texture is that large; the caller bounds its images).
int powerOfTwoAtLeast(int size);

/// Draws an image as a background that fills the viewport whatever the enclosing projection (own
/// orthographic projection, absolute reference frame, no depth test or write, drawn before its
/// siblings). Image rows are taken bottom-up as OpenGL does.
class VideoLayer : public osg::Group
{
public:
    VideoLayer(osg::Image* image, int layer);

    /// 1: GL_TEXTURE_2D on a power-of-two texture with scaled texture coordinates;
    /// 2: GL_TEXTURE_RECTANGLE. Set before init().
    void setTextureMode(int mode) { _textureMode = mode; }
    int getTextureMode() const { return _textureMode; }

    /// Builds the drawing nodes.
    void init();

    osg::Image* getImage() { return _image.get(); }

protected:
    ~VideoLayer() override = default;

private:
    void updateTextureCoordinates();

    osg::ref_ptr<osg::Image> _image;
    int _layer;
    int _textureMode;
    int _coordinatesWidth;
    int _coordinatesHeight;
    osg::ref_ptr<osg::Geometry> _geometry;

    friend class VideoLayerUpdateCallback;
};

} // namespace osgART
