#pragma once

#include "interaction/AREffectsService.h"
#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

class ARClippingManager;

// Keys of the clipping planes: clipping on or off, capping, which of the six planes are active,
// selected and shown, and moving or turning the selected plane about its marker. The clipping
// manager is taken again from the application on every event (the application may replace it);
// without one, every key that goes to it does nothing.
class ARClippingKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    ARClippingKeyboardEventsHandler(ARInteractionWindow* window, AREffectsService* effects);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARClippingKeyboardEventsHandler, _window, _effects)

protected:
    ~ARClippingKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    // Keys 1 to 6 address planes 0 to 5.
    void planeKeyReleased(ARClippingManager& manager, int plane, Modifier modifier);
    AREffectsService* _effects;
};

} // namespace Novaro
