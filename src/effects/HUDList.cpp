#include "effects/HUDList.h"

#include <osg/Notify>

namespace Novaro
{

namespace
{
osgViewer::GraphicsWindow* windowOrError(osgViewer::Viewer* viewer)
{
    osgViewer::GraphicsWindow* window = HUD::firstWindow(viewer);
    if (window == nullptr)
        osg::notify(osg::FATAL) << " ERROR: couldn't add any HUD: windows empty." << std::endl;
    return window;
}
} // namespace

// Refits the head-up display whenever the window changes size.
class HUDResizeHandler : public osgGA::GUIEventHandler
{
public:
    explicit HUDResizeHandler(HUDList* list) : _list(list) {}
    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter&) override
    {
        if (_list && event.getEventType() == osgGA::GUIEventAdapter::RESIZE)
            _list->fitToWindow();
        return false;
    }
    // The list goes before the viewer that holds this handler.
    void detach() { _list = nullptr; }

private:
    HUDList* _list;
};

HUDList::~HUDList()
{
    if (HUDResizeHandler* handler = dynamic_cast<HUDResizeHandler*>(_resizeHandler.get()))
        handler->detach();
}

bool HUDList::init()
{
    if (_viewer == nullptr)
        return false;
    if (!_resizeHandler.valid())
    {
        _resizeHandler = new HUDResizeHandler(this);
        _viewer->addEventHandler(_resizeHandler.get());
    }
    return true;
}

void HUDList::place(HUD* hud, int position, int width, int height)
{
    // Columns left, centre, right; rows top, middle, bottom (the projection has y upwards).
    const float column = static_cast<float>(position % 3) * 0.5f;
    const float row = static_cast<float>(position / 3) * 0.5f;
    hud->getPositionTransform()->setPosition(
        osg::Vec3d(column * static_cast<float>(width), (1.0f - row) * static_cast<float>(height), 0.0));
}

void HUDList::fitToWindow()
{
    osgViewer::GraphicsWindow* window = HUD::firstWindow(_viewer);
    if (window == nullptr)
        return;
    int x = 0, y = 0, width = 0, height = 0;
    window->getWindowRectangle(x, y, width, height);
    if (width <= 0 || height <= 0)
        return;
    for (std::size_t index = 0; index < _huds.size(); ++index)
    {
        HUD* hud = _huds[index].get();
        hud->setProjectionMatrix(osg::Matrix::ortho2D(0.0, width, 0.0, height));
        hud->setViewport(0, 0, width, height);
        place(hud, _positions[index], width, height);
    }
}

void HUDList::attach(HUD* hud, osgViewer::GraphicsWindow* window)
{
    const osg::GraphicsContext::Traits* traits = window->getTraits();
    hud->setGraphicsContext(window);
    hud->setViewport(0, 0, traits->width, traits->height);
    _viewer->addSlave(hud, false);
}

int HUDList::addText(const std::string& text, int position)
{
    osgViewer::GraphicsWindow* window = windowOrError(_viewer);
    if (window == nullptr)
        return -1;

    if (position < 0 || position > 8)
        position = 0;

    int x = 0, y = 0, width = 0, height = 0;
    window->getWindowRectangle(x, y, width, height);

    osg::ref_ptr<HUD> hud = new HUD(_viewer);
    hud->getTextPanel()->setAlignmentAnchor(position);
    hud->setText(text);
    place(hud.get(), position, width, height);
    attach(hud.get(), window);

    _huds.push_back(hud);
    _positions.push_back(position);
    return static_cast<int>(_huds.size()) - 1;
}

HUD* HUDList::getHUD(int id) const
{
    if (id < 0 || static_cast<std::size_t>(id) >= _huds.size())
        return nullptr;
    return _huds[static_cast<std::size_t>(id)].get();
}

void HUDList::setText(int id, const std::string& text)
{
    if (HUD* hud = getHUD(id))
        hud->setText(text);
}

void HUDList::setTimed(int id, bool timed)
{
    if (HUD* hud = getHUD(id))
        hud->setTimed(timed);
}

void HUDList::setDisplayTime(int id, double seconds)
{
    if (HUD* hud = getHUD(id))
        hud->setDisplayTime(seconds);
}

void HUDList::show(int id)
{
    if (HUD* hud = getHUD(id))
        hud->show();
}

void HUDList::hide(int id)
{
    if (HUD* hud = getHUD(id))
        hud->hide();
}

HUD* HUDList::addVideo()
{
    if (!_videoHUD.valid())
    {
        osgViewer::GraphicsWindow* window = windowOrError(_viewer);
        if (window == nullptr)
            return nullptr;
        int x = 0, y = 0, width = 0, height = 0;
        window->getWindowRectangle(x, y, width, height);
        _videoHUD = new HUDVideo(_viewer, static_cast<float>(width), static_cast<float>(height));
        attach(_videoHUD.get(), window);
    }
    _videoHUD->show();
    return _videoHUD.get();
}

void HUDList::showVideo(osg::ImageStream* stream)
{
    HUDVideo* video = dynamic_cast<HUDVideo*>(addVideo());
    if (video == nullptr)
    {
        osg::notify(osg::FATAL) << " ERROR: couldn't get correct HUDVideo." << std::endl;
        return;
    }
    video->show(stream);
}

void HUDList::closeVideo(osg::ImageStream* stream)
{
    if (HUDVideo* video = dynamic_cast<HUDVideo*>(_videoHUD.get()))
        video->close(stream);
}

void HUDList::removeVideos()
{
    closeVideo(nullptr);
}

void HUDList::toggleVideoPanel()
{
    if (_videoHUD.valid())
        _videoHUD->setNodeMask(~_videoHUD->getNodeMask());
}

} // namespace Novaro
