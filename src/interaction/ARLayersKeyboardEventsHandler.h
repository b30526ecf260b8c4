#pragma once

#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys that change the layers and sequences of every marker node at once, in marker order.
class ARLayersKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARLayersKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARLayersKeyboardEventsHandler)

protected:
    ~ARLayersKeyboardEventsHandler() override = default;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;
};

} // namespace Novaro
