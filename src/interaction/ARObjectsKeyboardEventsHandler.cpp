#include "interaction/ARObjectsKeyboardEventsHandler.h"

#include "app/ARApplication.h"

namespace Novaro
{

ARObjectsKeyboardEventsHandler::ARObjectsKeyboardEventsHandler(ARApplication* application)
    : ARKeyboardEventsHandler(application, "Objects/scene Management Mode:")
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
        _application->scaleModels(-_scaleStep);
        showValue();
        break;
    case 'S':
        _application->scaleModels(_scaleStep);
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
        _application->toggleOccluders();
        break;
    case 'f':
    case 'F':
        _application->getHUD().toggleVideoPanel();
        break;
    default:
        break;
    }
}

void ARObjectsKeyboardEventsHandler::showValue()
{
    // Negative when there is no marker to read the scale from.
    const float scale = _application->getModelScale();
    if (scale < 0.0f)
        showStatus("Scaling value: N.A.");
    else
        showStatus("Scaling value: %3.0f %%", static_cast<double>(scale) * 100.0);
}

} // namespace Novaro
