#pragma once

#include "effects/HUD.h"
#include "effects/HUDVideo.h"

#include <osg/ImageStream>
#include <osgViewer/Viewer>

#include <string>
#include <vector>

namespace Novaro
{

// The application's head-up display: the text HUDs, addressed by their index in creation order,
// and at most one full-window video HUD. Every HUD is a slave camera of the viewer's view, drawn
// on the viewer's first window.
class HUDList
{
public:
    HUDList() = default;
    ~HUDList();
    HUDList(const HUDList&) = delete;
    HUDList& operator=(const HUDList&) = delete;

    void setViewer(osgViewer::Viewer* viewer) { _viewer = viewer; }
    osgViewer::Viewer* getViewer() const { return _viewer; }

    // Ready when it has a viewer to draw on.
    bool init();

    // Adds a text HUD and returns its identifier, or -1 when the viewer has no window. Positions
    // 0 to 8 form a 3x3 grid over the window, read row by row from the top left (0 top left,
    // 4 centre, 7 bottom centre); the text is anchored at the same grid point of its own panel so
    // that it stays inside the window. Other values count as 0.
    int addText(const std::string& text, int position);

    // None when the identifier is out of range.
    HUD* getHUD(int id) const;
    std::size_t getNumHUDs() const { return _huds.size(); }
    // Lays the text HUDs out again over the first window's current size, so texts keep their
    // pixel size and their place when the window leaves or enters full screen.
    void fitToWindow();

    void setText(int id, const std::string& text);
    void setTimed(int id, bool timed);
    void setDisplayTime(int id, double seconds);
    void show(int id);
    void hide(int id);

    // The video HUD fills the whole window (the full-screen position, 9, beyond the text grid).
    // Created on first use and shown; none when the viewer has no window.
    HUD* addVideo();
    HUD* getVideoHUD() const { return _videoHUD.get(); }
    void showVideo(osg::ImageStream* stream);
    // Takes any video off when no stream is given, otherwise only that stream.
    void closeVideo(osg::ImageStream* stream = nullptr);
    void removeVideos();
    void toggleVideoPanel();

private:
    // Puts the HUD on the window's graphics context over the whole window and adds it to the view.
    void attach(HUD* hud, osgViewer::GraphicsWindow* window);

    osgViewer::Viewer* _viewer = nullptr;
    void place(HUD* hud, int position, int width, int height);

    std::vector<osg::ref_ptr<HUD>> _huds;
    std::vector<int> _positions;
    osg::ref_ptr<osgGA::GUIEventHandler> _resizeHandler;
    osg::ref_ptr<HUD> _videoHUD;
};

} // namespace Novaro
