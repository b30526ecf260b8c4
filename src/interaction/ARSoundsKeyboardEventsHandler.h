#pragma once

#include "interaction/ARKeyboardEventsHandler.h"
#include "interaction/ARSoundtrackService.h"

namespace Novaro
{

// Keys of the soundtrack player: music on or off, rewind and the previous or next soundtrack.
class ARSoundsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARSoundsKeyboardEventsHandler(ARInteractionWindow* window, ARSoundtrackService* soundtracks);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARSoundsKeyboardEventsHandler, _window, _soundtracks)

protected:
    ~ARSoundsKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    ARSoundtrackService* _soundtracks;
};

} // namespace Novaro
