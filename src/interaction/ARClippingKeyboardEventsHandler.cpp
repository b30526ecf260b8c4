#include "ARClippingKeyboardEventsHandler.h"

#include "ARApplication.h"

namespace Novaro
{

ARClippingKeyboardEventsHandler::ARClippingKeyboardEventsHandler(ARApplication* application)
    : ARKeyboardEventsHandler(application, "Clipping Management Mode:")
{
    addBinding("Key: Return", "    Enable clipping mode");
    addBinding("Key: BackSpace", "    Disable clipping mode");
    addBinding("Key: Space", "    Toggle fill sections holes");
    addBinding("Keys: a/A", "    Activate all clipping planes");
    addBinding("Keys: n/N", "    Deactivate all clipping planes");
    addBinding("Keys: 1..6", "    Toggle activation for clipping plane 1..6");
    addBinding("Keys: 1..6+CTRL", "    Select (active) clipping plane 1..6");
    addBinding("Keys: 1..6+ALT", "    Toggle show (active) clipping plane 1..6");
    addBinding("Mouse Left Click", "    Select clicked clipping plane");
    addBinding("Arrow: Down", "Move (selected) clipping plane away from the marker");
    addBinding("Arrow: Up", "Move (selected) clipping plane towards the marker");
    addBinding("Arrow: Left", "Rotate (selected) clipping plane clockwise wrt the marker's center");
    addBinding("Arrow: Right", "Rotate (selected) clipping plane counter-clockwise wrt the marker's center");
}

void ARClippingKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    const int key = event.getKey();
    if (key >= '1' && key <= '6')
    {
        planeKeyReleased(key - '1', modifierOf(event.getModKeyMask()));
        return;
    }
    switch (key)
    {
    case osgGA::GUIEventAdapter::KEY_Return:
        // Joins with clipping planes: the application enables clipping, "Clipping [ENABLED]".
        break;
    case osgGA::GUIEventAdapter::KEY_BackSpace:
        // Joins with clipping planes: the application disables clipping, "Clipping [DISABLED]".
        break;
    case osgGA::GUIEventAdapter::KEY_Space:
        // Joins with clipping planes: toggle capping, "Clipping [toggling sections visibility]".
        break;
    case 'a':
    case 'A':
        // Joins with clipping planes: activate all planes, "Clipping [All planes activated]".
        break;
    case 'n':
    case 'N':
        // Joins with clipping planes: clear the selection, deactivate all planes,
        // "Clipping [No planes activated]".
        break;
    default:
        break;
    }
}

void ARClippingKeyboardEventsHandler::planeKeyReleased(int plane, Modifier modifier)
{
    (void)plane;
    switch (modifier)
    {
    case MODIFIER_CTRL:
        // Joins with clipping planes: select the plane.
        break;
    case MODIFIER_ALT:
        // Joins with clipping planes: toggle showing the plane.
        break;
    case MODIFIER_NONE:
        // Joins with clipping planes: toggle the plane's activation, then select it.
        break;
    }
}

void ARClippingKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Down:
        // Joins with clipping planes: move the selected plane by +1 (away from the marker).
        break;
    case osgGA::GUIEventAdapter::KEY_Up:
        // Joins with clipping planes: move the selected plane by -1 (towards the marker).
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
        // Joins with clipping planes: rotate the selected plane by +1 (clockwise).
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
        // Joins with clipping planes: rotate the selected plane by -1 (counter-clockwise).
        break;
    default:
        break;
    }
}

} // namespace Novaro
