#pragma once

#include "effects/HUD.h"

#include <osg/ImageStream>

namespace Novaro
{

// The full-window video layer of the head-up display: one video stream on a quad that covers the
// window, drawn under the text HUDs.
class HUDVideo : public HUD
{
public:
    HUDVideo(osgViewer::Viewer* viewer, float windowWidth, float windowHeight);

    using HUD::show;
    // Puts the stream on the full-window quad; an empty stream is refused with a warning.
    void show(osg::ImageStream* stream);
    // Takes the video off: any stream when none is given, otherwise only that stream.
    void close(osg::ImageStream* stream = nullptr);

    osg::ImageStream* getStream() const { return _stream.get(); }
    float getWindowWidth() const { return _windowWidth; }
    float getWindowHeight() const { return _windowHeight; }

protected:
    ~HUDVideo() override = default;

private:
    osg::ref_ptr<osg::ImageStream> _stream;
    float _windowWidth;
    float _windowHeight;
};

} // namespace Novaro
