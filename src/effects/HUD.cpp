#include "effects/HUD.h"

#include <osg/Notify>

namespace Novaro
{

osgViewer::GraphicsWindow* HUD::firstWindow(osgViewer::Viewer* viewer)
{
    if (viewer == nullptr)
        return nullptr;
    osgViewer::ViewerBase::Windows windows;
    viewer->getWindows(windows);
    return windows.empty() ? nullptr : windows.front();
}

HUD::HUD(osgViewer::Viewer* viewer) : _viewer(viewer)
{
    if (viewer == nullptr)
    {
        osg::notify(osg::FATAL) << " WARNING: viewer not found." << std::endl;
    }
    else if (osgViewer::GraphicsWindow* window = firstWindow(viewer))
    {
        int x = 0, y = 0, width = 0, height = 0;
        window->getWindowRectangle(x, y, width, height);
        setProjectionMatrix(osg::Matrix::ortho2D(0.0, width, 0.0, height));
    }

    setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    setViewMatrix(osg::Matrix::identity());
    // Drawn over the finished scene: keep its colours, start with a fresh depth buffer.
    setClearMask(GL_DEPTH_BUFFER_BIT);
    setRenderOrder(osg::Camera::POST_RENDER, 10);
    setAllowEventFocus(false);

    _textPanel = new TextPanel;
    _positionTransform = new osg::PositionAttitudeTransform;
    _positionTransform->addChild(_textPanel.get());
    addChild(_positionTransform.get());
}

void HUD::setText(const std::string& text)
{
    _textPanel->setText(text);
}

void HUD::setDisplayTime(double seconds)
{
    _displayTime = seconds;
    if (_timerHandler.valid())
        _timerHandler->setDisplayTime(static_cast<float>(seconds));
}

void HUD::show()
{
    setNodeMask(~0u);
    if (!_timed)
        return;

    if (!_timerHandler.valid())
    {
        _timerHandler = new ARTimerEventsHandler(static_cast<float>(_displayTime), this);
        if (_viewer != nullptr)
            _viewer->addEventHandler(_timerHandler.get());
    }
    else
    {
        _timerHandler->restart(this);
    }
}

void HUD::hide()
{
    setNodeMask(0);
}

} // namespace Novaro
