#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys of the soundtrack player: music on or off, rewind and the previous or next soundtrack.
class ARSoundsKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARSoundsKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARSoundsKeyboardEventsHandler)

protected:
    ~ARSoundsKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;
};

} // namespace Novaro
