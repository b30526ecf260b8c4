#include "interaction/ARSoundsKeyboardEventsHandler.h"

#include "app/ARApplication.h"

namespace Novaro
{

ARSoundsKeyboardEventsHandler::ARSoundsKeyboardEventsHandler(ARApplication* application)
    : ARKeyboardEventsHandler(application, "Sounds Management Mode:")
{
    addBinding("Key: Return", "Toggle music ON/OFF");
    addBinding("Key: BackSpace", "Rewind current soundtrack");
    addBinding("Arrows: Left/Down", "Jump to previous soundtrack");
    addBinding("Arrows: Right/Up", "Jump to next soundtrack");
}

void ARSoundsKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Return:
        _application->toggleMusic();
        break;
    case osgGA::GUIEventAdapter::KEY_BackSpace:
        _application->rewindSoundtrack();
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
    case osgGA::GUIEventAdapter::KEY_Down:
        _application->previousSoundtrack();
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
    case osgGA::GUIEventAdapter::KEY_Up:
        _application->nextSoundtrack();
        break;
    default:
        break;
    }
}

} // namespace Novaro
