#pragma once

#include <osg/Camera>
#include <osg/GraphicsContext>
#include <osg/Image>
#include <osg/RenderInfo>

namespace Novaro
{

// Reads the whole window back after each frame it is drawn in, so the last picture the user saw
// can be written out or looked at. Set as the final draw callback of a camera drawn after every
// other one of the window.
class WindowCapture : public osg::Camera::DrawCallback
{
public:
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        const osg::GraphicsContext* context = renderInfo.getState()->getGraphicsContext();
        if (!context || !context->getTraits())
            return;
        const osg::GraphicsContext::Traits* traits = context->getTraits();
        _image->readPixels(0, 0, traits->width, traits->height, GL_RGB, GL_UNSIGNED_BYTE);
    }
    osg::Image* image() const { return _image.get(); }

private:
    osg::ref_ptr<osg::Image> _image = new osg::Image;
};

} // namespace Novaro
