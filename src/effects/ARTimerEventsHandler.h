#pragma once

#include <osg/Timer>
#include <osg/observer_ptr>
#include <osgGA/GUIEventHandler>

namespace Novaro
{

class HUD;

// Hides a timed HUD once its display time has passed since the text was shown. The handler does
// not hide the HUD directly from the frame event: it posts a user event to the view and hides the
// HUD when that event comes back, so the hiding happens in the normal event order of a frame.
// Time is the scene clock's (SceneClock), which tests and a fixed frame time drive.
class ARTimerEventsHandler : public osgGA::GUIEventHandler
{
public:
    ARTimerEventsHandler(float displayTime, HUD* hud);

    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& actionAdapter) override;

    // A new text was shown on a timed HUD: count again from now, for that HUD.
    void restart(HUD* hud);

    void setDisplayTime(float seconds) { _displayTime = seconds; }
    float getDisplayTime() const { return _displayTime; }
    HUD* getHUD() const { return _hud.get(); }
    double getElapsedSeconds() const;

protected:
    ~ARTimerEventsHandler() override = default;

private:
    // Not owning: the HUD owns this handler.
    osg::observer_ptr<HUD> _hud;
    float _displayTime;
    osg::Timer _timer;
};

} // namespace Novaro
