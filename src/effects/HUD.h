#pragma once

#include "effects/ARTimerEventsHandler.h"
#include "effects/TextPanel.h"

#include <osg/Camera>
#include <osg/PositionAttitudeTransform>
#include <osgViewer/GraphicsWindow>
#include <osgViewer/Viewer>

#include <string>

namespace Novaro
{

// One layer of the head-up display: a post-render camera over the scene with a 2D projection in
// window pixels, holding a text panel under a position transform. A timed HUD hides itself a
// fixed time after each text it shows.
class HUD : public osg::Camera
{
public:
    // The projection covers the viewer's first window; without a viewer it is left as it is.
    explicit HUD(osgViewer::Viewer* viewer);

    void setText(const std::string& text);
    void show();
    void hide();
    bool isShown() const { return getNodeMask() != 0; }

    void setTimed(bool timed) { _timed = timed; }
    bool isTimed() const { return _timed; }
    void setDisplayTime(double seconds);
    double getDisplayTime() const { return _displayTime; }

    osgViewer::Viewer* getViewer() const { return _viewer; }
    TextPanel* getTextPanel() { return _textPanel.get(); }
    osg::PositionAttitudeTransform* getPositionTransform() { return _positionTransform.get(); }
    // None until the HUD is first shown timed.
    ARTimerEventsHandler* getTimerHandler() { return _timerHandler.get(); }

    // The viewer's first valid window, or none.
    static osgViewer::GraphicsWindow* firstWindow(osgViewer::Viewer* viewer);

protected:
    ~HUD() override = default;

    osg::ref_ptr<TextPanel> _textPanel;
    osg::ref_ptr<ARTimerEventsHandler> _timerHandler;
    osg::ref_ptr<osg::PositionAttitudeTransform> _positionTransform;
    double _displayTime = 3.0;
    bool _timed = false;
    // Not owning: the viewer outlives its HUDs' use.
    osgViewer::Viewer* _viewer;
};

} // namespace Novaro
