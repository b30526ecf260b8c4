#include "interaction/AREventsHandlersManager.h"

#include "app/ARApplication.h"
#include "app/ARViewer.h"
#include "effects/ARShadowsManager.h"
#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

AREventsHandlersManager::AREventsHandlersManager(ARApplication* application)
    : _application(application), _currentMode(0), _usage(new osg::ApplicationUsage)
{
    _modeNames[0] = "Visualization Management Mode...";
    _modeNames[1] = "Objects/Scene Management Mode...";
    _modeNames[2] = "Animations Management Mode...";
    _modeNames[3] = "Sounds Management Mode...";
    _modeNames[4] = "Layers/Sequences Management Mode...";
    _modeNames[5] = "Clipping Management Mode...";
    _modeNames[6] = "Tracking Management Mode...";
    _modeNames[7] = "Lighting Management Mode...";
    ARKeyboardEventsHandler::addCommonBindings(*_usage, "Available modes:");
}

std::string AREventsHandlersManager::getModeName(int mode) const
{
    std::map<int, std::string>::const_iterator name = _modeNames.find(mode);
    return name == _modeNames.end() ? std::string() : name->second;
}

bool AREventsHandlersManager::handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter)
{
    ARViewer* viewer = dynamic_cast<ARViewer*>(&adapter);
    if (!viewer || !_application || viewer != _application->getViewer())
        return false;
    if (event.getEventType() != osgGA::GUIEventAdapter::KEYUP)
        return false;
    const int key = event.getKey();
    if (key >= osgGA::GUIEventAdapter::KEY_F1 && key <= osgGA::GUIEventAdapter::KEY_F8)
        switchMode(key - osgGA::GUIEventAdapter::KEY_F1);
    else if (key == '0')
        _application->updateStatusMessage(getModeName(_currentMode));
    return false;
}

void AREventsHandlersManager::switchMode(int mode)
{
    if (mode == LIGHTING_MODE)
    {
        ARShadowsManager* shadows = _application->getShadowsManager();
        if (!shadows || !shadows->isEnabled())
        {
            _application->updateStatusMessage("WARNING: cannot set lighting interface (no AR light found).");
            return;
        }
    }
    _currentMode = mode;
    _application->updateStatusMessage(getModeName(mode));
    _application->setInterface(static_cast<unsigned int>(mode));
}

} // namespace Novaro
