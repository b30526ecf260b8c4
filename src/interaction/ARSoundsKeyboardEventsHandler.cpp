#include "interaction/ARSoundsKeyboardEventsHandler.h"

namespace Novaro
{

ARSoundsKeyboardEventsHandler::ARSoundsKeyboardEventsHandler(ARInteractionWindow* window,
                                                             ARSoundtrackService* soundtracks)
    : ARKeyboardEventsHandler(window, "Sounds Management Mode:"), _soundtracks(soundtracks)
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
        _soundtracks->toggleMusic();
        break;
    case osgGA::GUIEventAdapter::KEY_BackSpace:
        _soundtracks->rewindSoundtrack();
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
    case osgGA::GUIEventAdapter::KEY_Down:
        _soundtracks->previousSoundtrack();
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
    case osgGA::GUIEventAdapter::KEY_Up:
        _soundtracks->nextSoundtrack();
        break;
    default:
        break;
    }
}

} // namespace Novaro
