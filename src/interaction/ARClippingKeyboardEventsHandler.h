#pragma once

#include "ARKeyboardEventsHandler.h"

namespace Novaro
{

// Keys of the clipping planes: clipping on or off, capping, which of the six planes are active,
// selected and shown, and moving or turning the selected plane about its marker.
//
// The keys are decoded here; the operations they call (the application's clipping switch and the
// clipping manager, taken again from the application on every event) join when clipping planes
// land, so for now every key of this mode does nothing.
class ARClippingKeyboardEventsHandler : public ARKeyboardEventsHandler
{
public:
    explicit ARClippingKeyboardEventsHandler(ARApplication* application);
    NOVARO_KEYBOARD_HANDLER_IDENTITY(ARClippingKeyboardEventsHandler)

protected:
    ~ARClippingKeyboardEventsHandler() override = default;
    void keyPressed(const osgGA::GUIEventAdapter& event) override;
    void keyReleased(const osgGA::GUIEventAdapter& event) override;

private:
    // Keys 1 to 6 address planes 0 to 5.
    void planeKeyReleased(int plane, Modifier modifier);
};

} // namespace Novaro
