#pragma once

#include <osg/Camera>
#include <osg/Group>

namespace Novaro
{

class ARApplication;

// Holds the shadowed markers group under the content group. Shadow techniques and scene lights are
// not built yet: the lighting set-up finds no AR light and disables the manager, whose shadowed
// markers then render through the not-shadowed group, and the pipeline makes no shadow pass.
class ARShadowsManager : public osg::Group
{
public:
    enum Mode
    {
        MODE_DIRECT = 0,
        MODE_DEFERRED = 1
    };

    ARShadowsManager();

    void setApplication(ARApplication* application) { _application = application; }
    ARApplication* getApplication() const { return _application; }

    // Makes the application's shadowed markers group the child drawn by this manager.
    void setShadowedGroup(osg::Group* group);
    osg::Group* getShadowedGroup() const { return _shadowedGroup.get(); }

    bool isEnabled() const { return _enabled; }
    // Drops the shadowed group and every child: the scene is drawn without shadows.
    void disable();
    int getMode() const { return _mode; }

    // The camera that renders the shadow pass in deferred mode; none while shadows are not built.
    osg::Camera* getShadowCamera() const { return nullptr; }

protected:
    ~ARShadowsManager() override = default;

private:
    ARApplication* _application = nullptr;
    osg::ref_ptr<osg::Group> _shadowedGroup;
    int _mode = MODE_DIRECT;
    bool _enabled = true;
};

} // namespace Novaro
