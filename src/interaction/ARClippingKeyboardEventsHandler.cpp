#include "interaction/ARClippingKeyboardEventsHandler.h"

#include "effects/ARClippingManager.h"

namespace Novaro
{

ARClippingKeyboardEventsHandler::ARClippingKeyboardEventsHandler(ARInteractionWindow* window,
                                                                 AREffectsService* effects)
    : ARKeyboardEventsHandler(window, "Clipping Management Mode:"), _effects(effects)
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
    ARClippingManager* manager = _effects->getClippingManager();
    const int key = event.getKey();
    if (key >= '1' && key <= '6')
    {
        if (manager)
            planeKeyReleased(*manager, key - '1', modifierOf(event.getModKeyMask()));
        return;
    }
    switch (key)
    {
    case osgGA::GUIEventAdapter::KEY_Return:
        showStatus("Clipping [ENABLED]");
        _effects->setClippingEnabled(true);
        break;
    case osgGA::GUIEventAdapter::KEY_BackSpace:
        showStatus("Clipping [DISABLED]");
        _effects->setClippingEnabled(false);
        break;
    case osgGA::GUIEventAdapter::KEY_Space:
        if (manager)
        {
            showStatus("Clipping [toggling sections visibility]");
            manager->toggleCapping();
        }
        break;
    case 'a':
    case 'A':
        if (manager)
        {
            showStatus("Clipping [All planes activated]");
            manager->setAllPlanesActive(true);
        }
        break;
    case 'n':
    case 'N':
        if (manager)
        {
            showStatus("Clipping [No planes activated]");
            manager->selectPlane(-1);
            manager->setAllPlanesActive(false);
        }
        break;
    default:
        break;
    }
}

void ARClippingKeyboardEventsHandler::planeKeyReleased(ARClippingManager& manager, int plane,
                                                       Modifier modifier)
{
    switch (modifier)
    {
    case MODIFIER_CTRL:
        manager.selectPlane(plane);
        break;
    case MODIFIER_ALT:
        manager.togglePlaneVisible(plane);
        break;
    case MODIFIER_NONE:
        manager.togglePlaneActive(plane);
        manager.selectPlane(plane);
        break;
    }
}

void ARClippingKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    ARClippingManager* manager = _effects->getClippingManager();
    if (!manager)
        return;
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Down:
        manager->movePlane(1.0f); // away from the marker
        break;
    case osgGA::GUIEventAdapter::KEY_Up:
        manager->movePlane(-1.0f);
        break;
    case osgGA::GUIEventAdapter::KEY_Left:
        manager->rotatePlane(1.0f); // clockwise about the marker's centre
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
        manager->rotatePlane(-1.0f);
        break;
    default:
        break;
    }
}

} // namespace Novaro
