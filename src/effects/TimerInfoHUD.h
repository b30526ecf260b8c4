#pragma once

#include <osg/Referenced>

namespace Novaro
{

class HUD;

// The message a timed HUD's handler posts to itself through the view's event queue when the
// HUD's display time is over: which HUD to hide, and after how long.
class TimerInfoHUD : public osg::Referenced
{
public:
    TimerInfoHUD(double displayTime, const HUD* hud) : _displayTime(displayTime), _hud(hud) {}

    double getDisplayTime() const { return _displayTime; }
    // Only compared, never dereferenced: the HUD may be gone by the time the event arrives.
    const HUD* getHUD() const { return _hud; }

protected:
    ~TimerInfoHUD() override = default;

private:
    double _displayTime;
    const HUD* _hud;
};

} // namespace Novaro
