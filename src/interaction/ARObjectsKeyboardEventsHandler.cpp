#include "interaction/ARObjectsKeyboardEventsHandler.h"

#include "effects/HUDList.h"

namespace Novaro
{

ARObjectsKeyboardEventsHandler::ARObjectsKeyboardEventsHandler(ARInteractionWindow* window,
                                                               ARSceneService* scene)
    : ARKeyboardEventsHandler(window, "Objects/scene Management Mode:"), _scene(scene)
{
    addBinding("Keys: o/O", "Toggle occluders objects visibility ON/OFF");
    addBinding("Key: s", "Scale models down");
    addBinding("Key: S", "Scale models up");
    addBinding("Key: f/F", "Toggle video objects fullscreen ON/OFF");
}

void ARObjectsKeyboardEventsHandler::keyPressed(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case 's':
        _scene->scaleModels(-_scaleStep);
        showValue();
        break;
    case 'S':
        _scene->scaleModels(_scaleStep);
        showValue();
        break;
    default:
        break;
    }
}

void ARObjectsKeyboardEventsHandler::keyReleased(const osgGA::GUIEventAdapter& event)
{
    switch (event.getKey())
    {
    case 'o':
    case 'O':
        _scene->toggleOccluders();
        break;
    case 'f':
    case 'F':
        _window->getHUD().toggleVideoPanel();
        break;
    default:
        break;
    }
}

void ARObjectsKeyboardEventsHandler::showValue()
{
    // Negative when there is no marker to read the scale from.
    const float scale = _scene->getModelScale();
    if (scale < 0.0f)
        showStatus("Scaling value: N.A.");
    else
        showStatus("Scaling value: %3.0f %%", static_cast<double>(scale) * 100.0);
}

} // namespace Novaro
