#pragma once

#include <osg/ApplicationUsage>
#include <osgGA/GUIEventHandler>

#include <map>
#include <string>

namespace Novaro
{

class ARApplication;

// Always installed: switches the keyboard mode with F1 to F8 (on release) and names the new mode
// on the status panel; "0" names the current mode again. The lighting mode needs a shadows manager
// that found a light in the scene; without one the switch is refused and the mode stays.
class AREventsHandlersManager : public osgGA::GUIEventHandler
{
public:
    explicit AREventsHandlersManager(ARApplication* application);

    const char* libraryName() const override { return "Novaro"; }
    const char* className() const override { return "AREventsHandlersManager"; }
    bool isSameKindAs(const osg::Object* object) const override
    {
        return dynamic_cast<const AREventsHandlersManager*>(object) != nullptr;
    }
    osg::Object* cloneType() const override { return new AREventsHandlersManager(_application); }
    osg::Object* clone(const osg::CopyOp&) const override
    {
        return new AREventsHandlersManager(_application);
    }

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

    ARApplication* _application;
    int _currentMode;
    std::map<int, std::string> _modeNames;
    osg::ref_ptr<osg::ApplicationUsage> _usage;
};

} // namespace Novaro
