#include "effects/ARTimerEventsHandler.h"

#include "effects/HUD.h"
#include "effects/TimerInfoHUD.h"
#include "scene/SceneClock.h"

#include <osgViewer/Viewer>

namespace Novaro
{

ARTimerEventsHandler::ARTimerEventsHandler(float displayTime, HUD* hud) : _hud(hud), _displayTime(displayTime)
{
    _timer.setStartTick(SceneClock::tick());
}

void ARTimerEventsHandler::restart(HUD* hud)
{
    _timer.setStartTick(SceneClock::tick());
    _hud = hud;
}

double ARTimerEventsHandler::getElapsedSeconds() const
{
    return _timer.delta_s(_timer.getStartTick(), SceneClock::tick());
}

bool ARTimerEventsHandler::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& actionAdapter)
{
    osg::ref_ptr<HUD> hud;
    if (!_hud.lock(hud))
        return false;

    switch (event.getEventType())
    {
    case osgGA::GUIEventAdapter::FRAME:
    {
        osgViewer::Viewer* viewer = hud->getViewer();
        if (getElapsedSeconds() > _displayTime && viewer != nullptr &&
            &actionAdapter == static_cast<osgGA::GUIActionAdapter*>(viewer))
        {
            // Posted again every frame until the user event has come back and been handled.
            osgGA::EventQueue* queue = viewer->getEventQueue();
            queue->userEvent(new TimerInfoHUD(_displayTime, hud.get()), queue->getTime());
        }
        break;
    }
    case osgGA::GUIEventAdapter::USER:
    {
        const TimerInfoHUD* info = dynamic_cast<const TimerInfoHUD*>(event.getUserData());
        if (info != nullptr && info->getHUD() == hud.get())
        {
            hud->hide();
            _hud = nullptr;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace Novaro
