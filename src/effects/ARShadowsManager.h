#pragma once

#include <osg/Camera>
#include <osg/Group>
#include <osg/LightSource>
#include <osg/Quat>
#include <osg/Switch>
#include <osgShadow/ShadowTechnique>
#include <osgShadow/ShadowedScene>
#include <osgShadow/StandardShadowMap>

#include "effects/ShadowTechniques.h"

#include <vector>

namespace Novaro
{

class ARShadowComposite;
class ARLight;

// Makes the models on the shadowed markers cast shadows onto each other and onto the surfaces
// that receive them, lit by the scene's AR light (light 7). It wraps the shadow techniques of
// osgShadow behind one node and brings their shadows to the screen in one of two ways:
//
//   manager > mode switch > [0] shadowed scene > shadowed content group > shadowed markers group
//                           [1] deferred group > shadow camera > shadowed scene (the same node)
//                                              > shadowed markers group
//
// Direct mode draws the shadowed markers once, with shadows, inside the AR image. Deferred mode
// draws them plainly into the AR image, and the shadow camera renders the shadowed scene alone
// into a texture that the window quad multiplies over the image; every technique then uses a
// shadow-only program, or the models' colours would be multiplied in twice.
//
// The shadow map and the model's base texture go on units chosen from the authoring host and the
// mode (textureUnitsFor), avoiding the units that carry the models' opacity maps; the fragment
// programs are rewritten to read those units.
class ARShadowsManager : public osg::Group
{
public:
    enum Mode
    {
        MODE_DIRECT = 0,
        MODE_DEFERRED = 1
    };
    enum Technique
    {
        AR_SHADOW_MAP = 0,
        AR_SOFT_SHADOW_MAP = 1,
        AR_STANDARD_SHADOW_MAP = 2,
        AR_VIEW_DEPENDENT_SHADOW_MAP = 3,
        AR_SHADOW_VOLUME = 4
    };
    // The authoring host the lighting settings name (cinema4d has no value and is refused).
    enum Compatibility
    {
        COMPATIBILITY_NONE = 0,
        COMPATIBILITY_SU = 1,
        COMPATIBILITY_MAX = 2,
        COMPATIBILITY_MAYA = 3,
        COMPATIBILITY_VECTORWORKS = 4,
        COMPATIBILITY_SCIA = 5
    };
    // The two choices of the lighting keys, each a way to set up the techniques above.
    // Shadow mode: Simple keeps the scene's hard-edged technique (the shadow map when the scene
    // asked for soft shadows); Soft uses the soft shadow map, 64 jittered lookups per pixel.
    enum ShadowMode
    {
        SHADOW_MODE_SIMPLE = 0,
        SHADOW_MODE_SOFT = 1
    };
    // Visual accuracy: Fastest draws the shadowed models once, with the shadow program in place of
    // their own shading (direct mode); Highest draws them with their own state and multiplies a
    // separate shadow pass over the image (deferred mode), at the cost of a second pass.
    enum VisualAccuracy
    {
        ACCURACY_FASTEST = 0,
        ACCURACY_HIGHEST = 1
    };
    // Traversal masks: the shadowed scene's receiving and casting traversals, and the AR light's
    // transform, kept out of both.
    static const unsigned int RECEIVES_SHADOW_MASK = 1;
    static const unsigned int CASTS_SHADOW_MASK = 2;
    static const unsigned int LIGHT_MASK = 4;

    // Where a technique puts the models' base texture and its shadow map. 'libraryUnits' leaves
    // the technique's own choice untouched; 'valid' is false for a host outside the table.
    struct TextureUnits
    {
        unsigned int base = 0;
        unsigned int shadow = 1;
        bool libraryUnits = false;
        bool valid = true;
    };
    // The unit table for a host, mode and technique, given the units that carry opacity maps.
    static TextureUnits textureUnitsFor(int compatibility, int mode, int technique,
                                        const std::vector<unsigned int>& opacityUnits);
    // The side of the square shadow map for a light's detail: 1 and 2 ask for larger maps.
    static unsigned int textureSizeForDetail(int detail);
    static const char* techniqueName(int technique);

    ARShadowsManager();

    // The rendering pipeline the mode switches (the application).
    void setApplication(ARShadowComposite* application) { _application = application; }
    ARShadowComposite* getApplication() const { return _application; }

    // Makes the application's shadowed markers group the child of both the shadowed content
    // group and the deferred group, in place of the previous one.
    void setShadowedGroup(osg::Group* group);
    osg::Group* getShadowedGroup() const { return _shadowedGroup.get(); }

    // Takes the light that casts the shadows, and the map size its detail asks for.
    void setLight(ARLight* light);
    ARLight* getLight() const { return _light.get(); }

    // The camera that renders the shadow pass in deferred mode (made once).
    osg::Camera* getShadowCamera() const { return _shadowCamera.get(); }

    bool isEnabled() const { return _enabled; }
    // Drops the shadowed group, the technique and every child: the scene is drawn without shadows.
    void disable();

    int getMode() const { return _mode; }
    void setMode(int mode);
    int getCompatibility() const { return _compatibility; }
    void setCompatibility(int hint);
    int getTechnique() const { return _technique; }
    void setTechnique(int technique);
    unsigned int getTextureSize() const { return _textureSize; }

    // Read from the installed technique and mode; setting one installs and initialises again.
    int getShadowMode() const;
    void setShadowMode(int shadowMode);
    int getVisualAccuracy() const;
    void setVisualAccuracy(int accuracy);
    // Switches the textures of the plainly drawn shadowed models off or on, so that the deferred
    // pass shows the shadows on bare surfaces; seen at Highest accuracy only.
    void setTexturesShown(bool shown);
    bool areTexturesShown() const { return _texturesShown; }

    // Finds the texture units the shadowed models use and those carrying opacity maps.
    void computeTextureUnits();
    const std::vector<unsigned int>& getAvailableUnits() const { return _availableUnits; }
    const std::vector<unsigned int>& getOpacityUnits() const { return _opacityUnits; }

    // Sets the installed technique up for the mode, host and map size, and tells the application
    // whether the window quad composes the deferred shadow pass.
    void initTechnique();

    // Keeps the shadow map's frustum finite: an AR light whose transform would give it no usable
    // direction or place gets neutral parts instead, and an object reaching beyond any sensible
    // distance is left out of the casting (and so of the map's bounds). Each is reported once.
    void guardShadowBounds();

    // The lights keyboard mode's operations on the AR light; nothing without one.
    void moveLight(double dx, double dy, double dz);
    void rotateLight(const osg::Quat& rotation);
    void toggleLightSource();
    void changeLightAttenuation(float step);

    // The fragment program of the shadow-map techniques; none for the library's own programs.
    osg::Shader* getFragmentShader() const { return _fragmentShader.get(); }
    osgShadow::ShadowedScene* getShadowedScene() const { return _shadowedScene.get(); }
    osgShadow::ShadowTechnique* getCurrentTechnique() const { return _currentTechnique.get(); }
    osg::Switch* getModeSwitch() const { return _modeSwitch.get(); }
    osg::Group* getDeferredGroup() const { return _deferredGroup.get(); }
    osg::Group* getShadowedContentGroup() const { return _shadowedContentGroup.get(); }

protected:
    ~ARShadowsManager() override = default;

private:
    osg::ref_ptr<osgShadow::ShadowTechnique> techniqueObject(int technique);
    // Each returns false (after its warning) for a host outside the unit table.
    bool initShadowMap();
    bool initSoftShadowMap();
    bool initStandardShadowMap();
    bool initViewDependentShadowMap();
    void guardLight(ARLight& light);
    // Reports, once, a shadow program the driver refuses when the camera first draws it.
    void checkProgramOn(osg::Camera* camera);

    ARShadowComposite* _application = nullptr;
    osg::ref_ptr<osg::Switch> _modeSwitch;
    osg::ref_ptr<osg::Group> _deferredGroup;
    osg::ref_ptr<osg::Group> _shadowedContentGroup;
    osg::ref_ptr<osg::Group> _shadowedGroup;
    osg::ref_ptr<osgShadow::ShadowedScene> _shadowedScene;
    osg::ref_ptr<osgShadow::ShadowTechnique> _currentTechnique;
    osg::ref_ptr<ShadowMapOnUnits> _shadowMap;
    osg::ref_ptr<SoftShadowMapOnUnits> _softShadowMap;
    osg::ref_ptr<osgShadow::StandardShadowMap> _standardShadowMap;
    osg::ref_ptr<osg::Shader> _standardMainProgram; // the library's own, for direct mode
    osg::ref_ptr<ViewDependentShadowMapOnUnits> _viewDependentShadowMap;
    osg::ref_ptr<osg::LightSource> _lightSource;
    osg::ref_ptr<ARLight> _light;
    std::vector<unsigned int> _availableUnits;
    std::vector<unsigned int> _opacityUnits;
    osg::ref_ptr<osg::Camera> _shadowCamera;
    osg::ref_ptr<osg::Shader> _fragmentShader; // the program of the shadow-map techniques
    int _mode = MODE_DIRECT;
    int _compatibility = COMPATIBILITY_NONE;
    int _technique = AR_SHADOW_MAP;
    // The last hard-edged technique installed: what the Simple shadow mode goes back to.
    int _simpleTechnique = AR_SHADOW_MAP;
    bool _texturesShown = true;
    unsigned int _textureSize = 1024;
    bool _enabled = true;
};

} // namespace Novaro
