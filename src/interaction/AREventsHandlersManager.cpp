#include "interaction/AREventsHandlersManager.h"

#include "effects/ARShadowsManager.h"
#include "interaction/ARKeyboardEventsHandler.h"

namespace Novaro
{

AREventsHandlersManager::AREventsHandlersManager(ARInteractionWindow* window, ARModeSwitch* modes,
                                                 AREffectsService* effects)
    : _window(window), _modes(modes), _effects(effects), _currentMode(0), _usage(new osg::ApplicationUsage)
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
    if (!_window || &adapter != _window->getActionAdapter())
        return false;
    if (event.getEventType() != osgGA::GUIEventAdapter::KEYUP)
        return false;
    const int key = event.getKey();
    if (key >= osgGA::GUIEventAdapter::KEY_F1 && key <= osgGA::GUIEventAdapter::KEY_F8)
        switchMode(key - osgGA::GUIEventAdapter::KEY_F1);
    else if (key == '0')
        _window->updateStatusMessage(getModeName(_currentMode));
    return false;
}

void AREventsHandlersManager::switchMode(int mode)
{
    if (mode == LIGHTING_MODE)
    {
        ARShadowsManager* shadows = _effects ? _effects->getShadowsManager() : nullptr;
        if (!shadows || !shadows->isEnabled())
        {
            _window->updateStatusMessage("WARNING: cannot set lighting interface (no AR light found).");
            return;
        }
    }
    _currentMode = mode;
    _window->updateStatusMessage(getModeName(mode));
    if (_modes)
        _modes->setInterface(static_cast<unsigned int>(mode));
}

} // namespace Novaro
