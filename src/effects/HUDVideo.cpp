#include "effects/HUDVideo.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Notify>
#include <osg/TexMat>
#include <osg/Texture2D>

namespace Novaro
{

HUDVideo::HUDVideo(osgViewer::Viewer* viewer, float windowWidth, float windowHeight)
    : HUD(viewer), _windowWidth(windowWidth), _windowHeight(windowHeight)
{
    // Under the text HUDs, so that status messages stay readable over a full-window video.
    setRenderOrder(osg::Camera::POST_RENDER, 1);
}

void HUDVideo::show(osg::ImageStream* stream)
{
    if (stream == nullptr)
    {
        osg::notify(osg::FATAL) << "WARNING: empty imagestream, nothing will be created." << std::endl;
        return;
    }

    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(stream);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::REPEAT);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::REPEAT);
    // Rescaling every new frame to a power of two on the CPU costs more than the whole draw;
    // cards without non-power-of-two textures still get one.
    texture->setResizeNonPowerOfTwoHint(false);

    // Video rows arrive top first while texture coordinates grow upwards: flipping t (with
    // repeat wrapping) shows the picture upright.
    osg::ref_ptr<osg::TexMat> textureMatrix = new osg::TexMat(osg::Matrix::scale(1.0, -1.0, 1.0));

    osg::ref_ptr<osg::Geometry> quad =
        osg::createTexturedQuadGeometry(osg::Vec3(0.0f, 0.0f, 0.0f), osg::Vec3(_windowWidth, 0.0f, 0.0f),
                                        osg::Vec3(0.0f, _windowHeight, 0.0f), 0.0f, 0.0f, 1.0f, 1.0f);

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(quad.get());
    osg::StateSet* stateSet = geode->getOrCreateStateSet();
    stateSet->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    stateSet->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    stateSet->setTextureAttribute(0, textureMatrix.get());

    _positionTransform->removeChildren(0, _positionTransform->getNumChildren());
    _positionTransform->addChild(geode.get());
    _stream = stream;
}

void HUDVideo::close(osg::ImageStream* stream)
{
    if (stream != nullptr && stream != _stream.get())
        return;
    _stream = nullptr;
    _positionTransform->removeChildren(0, _positionTransform->getNumChildren());
}

} // namespace Novaro
