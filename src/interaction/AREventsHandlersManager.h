#pragma once

#include "interaction/AREffectsService.h"
#include "interaction/ARInteractionWindow.h"
#include "interaction/ARModeSwitch.h"

#include <osg/ApplicationUsage>
#include <osgGA/GUIEventHandler>

#include <map>
#include <string>

namespace Novaro
{

// Always installed: switches the keyboard mode with F1 to F8 (on release) and names the new mode
// on the status panel; "0" names the current mode again. The lighting mode needs a shadows manager
// that found a light in the scene; without one the switch is refused and the mode stays.
class AREventsHandlersManager : public osgGA::GUIEventHandler
{
public:
    AREventsHandlersManager(ARInteractionWindow* window, ARModeSwitch* modes, AREffectsService* effects);

    const char* libraryName() const override { return "Novaro"; }
    const char* className() const override { return "AREventsHandlersManager"; }
    bool isSameKindAs(const osg::Object* object) const override
    {
        return dynamic_cast<const AREventsHandlersManager*>(object) != nullptr;
    }
    osg::Object* cloneType() const override { return new AREventsHandlersManager(_window, _modes, _effects); }
    osg::Object* clone(const osg::CopyOp&) const override { return cloneType(); }

    bool handle(const osgGA::GUIEventAdapter& event, osgGA::GUIActionAdapter& adapter) override;

    int getCurrentMode() const { return _currentMode; }
    // Empty for a number that is not a mode.
    std::string getModeName(int mode) const;
    osg::ApplicationUsage* getApplicationUsage() const { return _usage.get(); }

    enum
    {
        LIGHTING_MODE = 7
    };

protected:
    ~AREventsHandlersManager() override = default;

private:
    void switchMode(int mode);

    ARInteractionWindow* _window;
    ARModeSwitch* _modes;
    AREffectsService* _effects;
    int _currentMode;
    std::map<int, std::string> _modeNames;
    osg::ref_ptr<osg::ApplicationUsage> _usage;
};

} // namespace Novaro
