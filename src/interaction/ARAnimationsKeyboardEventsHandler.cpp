#include "interaction/ARAnimationsKeyboardEventsHandler.h"

namespace Novaro
{

namespace
{
// Change of the speed factor per key press (1.0 is real time).
const double speedStep = 0.1;
} // namespace

ARAnimationsKeyboardEventsHandler::ARAnimationsKeyboardEventsHandler(ARInteractionWindow* window,
                                                                     ARSceneService* scene)
    : ARKeyboardEventsHandler(window, "Animations Management Mode:"), _scene(scene)
{
    addBinding("Key: Return", "Toggle animations ON/OFF");
    addBinding("Key: BackSpace", "Rewind animations");
    addBinding("Key: 0", "Reset animations' speed to defaults");
    addBinding("Arrows: Left/Down", "Decrease animations' speed");
    addBinding("Arrows: Right/Up", "Increase animations' speed");
}

void ARAnimationsKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Left:
    case osgGA::GUIEventAdapter::KEY_Down:
        _scene->setSimulationSpeed(_scene->getSimulationSpeed() - speedStep);
        showValue();
        break;
    case osgGA::GUIEventAdapter::KEY_Right:
    case osgGA::GUIEventAdapter::KEY_Up:
        _scene->setSimulationSpeed(_scene->getSimulationSpeed() + speedStep);
        showValue();
        break;
    default:
        break;
    }
}

void ARAnimationsKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case osgGA::GUIEventAdapter::KEY_Return:
        _scene->toggleAllAnimations();
        break;
    case osgGA::GUIEventAdapter::KEY_BackSpace:
        _scene->rewindAllAnimations();
        break;
    case '0':
        _scene->setSimulationSpeed(1.0);
        showValue();
        break;
    default:
        break;
    }
}

void ARAnimationsKeyboardEventsHandler::showValue()
{
    // The factor itself, not a percentage, despite the sign that follows it.
    showStatus("Simulation speed: %3.1f %%", _scene->getSimulationSpeed());
}

} // namespace Novaro
