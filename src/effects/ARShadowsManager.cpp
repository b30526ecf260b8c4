#include "effects/ARShadowsManager.h"

#include "effects/ARShadowComposite.h"
#include "effects/ShadowPrograms.h"
#include "effects/ShadowTechniques.h"
#include "scene/ARLight.h"
#include "scene/ARTextureUnitsVisitor.h"

#include <osg/ComputeBoundsVisitor>
#include <osg/FrameStamp>
#include <osg/Notify>
#include <osg/io_utils>
#include <osg/observer_ptr>
#include <osgShadow/ShadowSettings>
#include <osgUtil/CullVisitor>

#include <cmath>
#include <set>
#include <sstream>

namespace Novaro
{

namespace
{

const unsigned int textureUnitCount = 8;
// The soft technique's jitter texture stays out of the way of the models' and the map's units.
const unsigned int jitterTextureUnit = 7;
const unsigned int defaultTextureSize = 1024;
// The AR light's OpenGL number: the view-dependent technique shadows from that light only.
const int arLightNumber = 7;

const char* const techniqueNames[] = {"AR_SHADOW_MAP", "AR_SOFT_SHADOW_MAP", "AR_STANDARD_SHADOW_MAP",
                                      "AR_VIEW_DEPENDENT_SHADOW_MAP", "AR_SHADOW_VOLUME"};

// The shadowed markers hang under several parents (the direct and deferred paths, and the shadow
// camera, which the viewer also updates as its own slave); their update callbacks count frames
// (tracking hysteresis, sequences), so they run once a frame whichever path comes first.
class OncePerFrameUpdate : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        const osg::FrameStamp* stamp = visitor->getFrameStamp();
        if (stamp)
        {
            if (stamp->getFrameNumber() == _lastFrame)
                return;
            _lastFrame = stamp->getFrameNumber();
        }
        traverse(node, visitor);
    }

private:
    unsigned int _lastFrame = osg::UNINITIALIZED_FRAME_NUMBER;
};

// The shadow camera is drawn by the viewer as a slave of its own, and only in deferred mode;
// reached again inside the AR camera's scene it would render the same pass a second time.
class DrawDeferredPassOnly : public osg::NodeCallback
{
public:
    explicit DrawDeferredPassOnly(ARShadowsManager* manager) : _manager(manager) {}
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        osgUtil::CullVisitor* cull = dynamic_cast<osgUtil::CullVisitor*>(visitor);
        if (cull)
        {
            osg::ref_ptr<ARShadowsManager> manager;
            if (!_manager.lock(manager) || manager->getMode() != ARShadowsManager::MODE_DEFERRED)
                return;
            if (cull->getRenderStage() && cull->getRenderStage()->getCamera() != node)
                return;
        }
        traverse(node, visitor);
    }

private:
    osg::observer_ptr<ARShadowsManager> _manager;
};

// The scene-graph library reports a program that does not compile below the console's level;
// the first frame drawn with a shadow program says so, with the driver's log, where it shows.
class ProgramCheck : public osg::Camera::DrawCallback
{
public:
    explicit ProgramCheck(ARShadowsManager* manager) : _manager(manager) {}
    void operator()(osg::RenderInfo& renderInfo) const override
    {
        osg::ref_ptr<ARShadowsManager> manager;
        if (!_manager.lock(manager) || !renderInfo.getState())
            return;
        // The manager's current program, followed as the technique is initialised again.
        const osg::Shader* shader = manager->getFragmentShader();
        if (!shader || shader == _checked)
            return;
        const osg::Shader::PerContextShader* compiled = shader->getPCS(*renderInfo.getState());
        if (!compiled || compiled->needsCompile())
            return; // not drawn yet
        _checked = shader;
        if (compiled->isCompiled())
            return;
        std::string log;
        compiled->getInfoLog(log);
        while (!log.empty() && (log.back() == '\n' || log.back() == '\r'))
            log.pop_back();
        osg::notify(osg::FATAL) << "WARNING: shadow program did not compile: " << log << std::endl;
    }

private:
    osg::observer_ptr<ARShadowsManager> _manager;
    mutable const osg::Shader* _checked = nullptr;
};

// The shadow map is fitted around everything that casts: one model beyond a float's unit steps
// (2^24) leaves the map no depth resolution for the others, and one non-finite bound makes its
// projection NaN, so every shadowed surface comes out black.
const double farthestShadowCoordinate = 1.0e7;

bool isReasonable(const osg::Vec3d& point)
{
    for (int axis = 0; axis < 3; ++axis)
        if (!std::isfinite(point[axis]) || std::fabs(point[axis]) > farthestShadowCoordinate)
            return false;
    return true;
}

// A light position the shadow map can aim from: a direction that is not zero, or a place within reach.
bool isUsable(const osg::Vec4d& position)
{
    const osg::Vec3d place(position.x(), position.y(), position.z());
    if (position.w() == 0.0)
        return isReasonable(place) && place.length2() > 1e-24;
    return std::isfinite(position.w()) && isReasonable(place / position.w());
}

// Finds the scene objects under the shadowed markers, hidden ones included (they may be shown
// later), with the bounds of what each casts in its marker's frame.
class ShadowCastersVisitor : public osg::NodeVisitor
{
public:
    ShadowCastersVisitor() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) { setNodeMaskOverride(0xFFFFFFFF); }

    void apply(osg::Transform& transform) override
    {
        // An object may hang under its marker by more than one path (layers, sequences).
        ARObject* object = dynamic_cast<ARObject*>(&transform);
        if (object && !dynamic_cast<ARLight*>(object) && _seen.insert(object).second)
            casters.push_back({object, castBounds(*object)});
        traverse(transform);
    }

    struct Caster
    {
        ARObject* object;
        osg::BoundingBox bounds;
    };
    std::vector<Caster> casters;

private:
    std::set<const ARObject*> _seen;

    static osg::BoundingBox castBounds(ARObject& object)
    {
        osg::ComputeBoundsVisitor bounds(TRAVERSE_ACTIVE_CHILDREN);
        bounds.setTraversalMask(ARShadowsManager::CASTS_SHADOW_MASK);
        osg::Matrix matrix = object.getMatrix();
        bounds.pushMatrix(matrix);
        for (unsigned int index = 0; index < object.getNumChildren(); ++index)
            object.getChild(index)->accept(bounds);
        return bounds.getBoundingBox();
    }
};

void printOpacityWarning(const std::vector<unsigned int>& opacityUnits)
{
    if (opacityUnits.size() > 1)
        osg::notify(osg::FATAL) << " WARNING: more than 1 opacity map unit found." << std::endl;
}

// Deferred shadow maps in 3ds Max and Maya scenes: the shadow avoids the opacity map's unit, and
// the base texture is read from it.
ARShadowsManager::TextureUnits opacityRuleUnits(const std::vector<unsigned int>& opacityUnits)
{
    printOpacityWarning(opacityUnits);
    ARShadowsManager::TextureUnits units;
    if (opacityUnits.empty())
        return units;
    units.base = opacityUnits.front();
    units.shadow = opacityUnits.front() == 1 ? 3 : 1;
    return units;
}

ARShadowsManager::TextureUnits makeUnits(unsigned int base, unsigned int shadow)
{
    ARShadowsManager::TextureUnits units;
    units.base = base;
    units.shadow = shadow;
    return units;
}

} // namespace

ARShadowsManager::TextureUnits
ARShadowsManager::textureUnitsFor(int compatibility, int mode, int technique,
                                  const std::vector<unsigned int>& opacityUnits)
{
    TextureUnits units;
    const bool deferred = mode == MODE_DEFERRED;
    const bool mapTechnique = technique == AR_SHADOW_MAP || technique == AR_SOFT_SHADOW_MAP;
    switch (compatibility)
    {
    case COMPATIBILITY_SU:
        return !deferred || mapTechnique ? makeUnits(1, 2) : makeUnits(0, 1);
    case COMPATIBILITY_MAX:
    case COMPATIBILITY_MAYA:
        if (!deferred)
            return makeUnits(0, 3);
        return mapTechnique ? opacityRuleUnits(opacityUnits) : makeUnits(0, 1);
    case COMPATIBILITY_NONE:
    case COMPATIBILITY_VECTORWORKS:
    case COMPATIBILITY_SCIA:
        units = deferred ? makeUnits(0, 1) : makeUnits(0, 3);
        units.libraryUnits = technique == AR_STANDARD_SHADOW_MAP;
        return units;
    default:
        units.valid = false;
        return units;
    }
}

unsigned int ARShadowsManager::textureSizeForDetail(int detail)
{
    if (detail == 1)
        return 2048;
    if (detail == 2)
        return 4096;
    return defaultTextureSize;
}

const char* ARShadowsManager::techniqueName(int technique)
{
    return technique >= AR_SHADOW_MAP && technique <= AR_SHADOW_VOLUME ? techniqueNames[technique] : "";
}

ARShadowsManager::ARShadowsManager()
{
    setName("ARShadowsManager");
    _modeSwitch = new osg::Switch;
    _deferredGroup = new osg::Group;
    _shadowedContentGroup = new osg::Group;
    _shadowedContentGroup->setNodeMask(RECEIVES_SHADOW_MASK | CASTS_SHADOW_MASK);
    _shadowedScene = new osgShadow::ShadowedScene;
    // The light hangs inside the shadowed scene; techniques that filter the receiving traversal by
    // its mask would otherwise neither light the scene nor find the light to cast from.
    _shadowedScene->setReceivesShadowTraversalMask(RECEIVES_SHADOW_MASK | LIGHT_MASK);
    _shadowedScene->setCastsShadowTraversalMask(CASTS_SHADOW_MASK);
    _shadowCamera = new osg::Camera;
    _shadowCamera->setName("ShadowPassCamera");
    _shadowCamera->setCullCallback(new DrawDeferredPassOnly(this));

    addChild(_modeSwitch.get());
    _modeSwitch->addChild(_shadowedScene.get(), _mode == MODE_DIRECT);
    _modeSwitch->addChild(_deferredGroup.get(), _mode == MODE_DEFERRED);
    _shadowedScene->addChild(_shadowedContentGroup.get());
    _deferredGroup->addChild(_shadowCamera.get());
    _shadowCamera->addChild(_shadowedScene.get());
}

void ARShadowsManager::setShadowedGroup(osg::Group* group)
{
    if (_shadowedGroup.valid())
    {
        _shadowedContentGroup->removeChild(_shadowedGroup.get());
        _deferredGroup->removeChild(_shadowedGroup.get());
        if (dynamic_cast<OncePerFrameUpdate*>(_shadowedGroup->getUpdateCallback()))
            _shadowedGroup->setUpdateCallback(nullptr);
    }
    _shadowedGroup = group;
    if (group)
    {
        _shadowedContentGroup->addChild(group);
        _deferredGroup->addChild(group);
        if (!group->getUpdateCallback())
            group->setUpdateCallback(new OncePerFrameUpdate);
    }
}

void ARShadowsManager::setLight(ARLight* light)
{
    if (!light)
        return;
    _light = light;
    _lightSource = light->getLightSource();
    _textureSize = textureSizeForDetail(light->getDetail());
}

void ARShadowsManager::disable()
{
    _shadowedGroup = nullptr;
    _shadowedScene->setShadowTechnique(nullptr);
    removeChildren(0, getNumChildren());
    _mode = MODE_DIRECT;
    _compatibility = COMPATIBILITY_NONE;
    _technique = AR_SHADOW_MAP;
    _simpleTechnique = AR_SHADOW_MAP;
    _enabled = false;
    _textureSize = defaultTextureSize;
}

void ARShadowsManager::setMode(int mode)
{
    if (mode == _mode)
        return;
    if (mode == MODE_DIRECT)
        osg::notify(osg::NOTICE) << "WARNING: shadow mode: MODE_DIRECT" << std::endl;
    else if (mode == MODE_DEFERRED)
        osg::notify(osg::NOTICE) << "WARNING: shadow mode: MODE_DEFERRED" << std::endl;
    else
    {
        osg::notify(osg::FATAL) << "WARNING: shadow mode NOT valid." << std::endl;
        return;
    }
    _modeSwitch->setSingleChildOn(mode == MODE_DIRECT ? 0 : 1);
    _mode = mode;
}

void ARShadowsManager::setCompatibility(int hint)
{
    if (hint == _compatibility)
        return;
    if (hint < COMPATIBILITY_NONE || hint > COMPATIBILITY_SCIA)
    {
        osg::notify(osg::FATAL) << "WARNING: cannot set shadow compatibility mode (value not valid)."
                                << std::endl;
        return;
    }
    _compatibility = hint;
}

void ARShadowsManager::setTechnique(int technique)
{
    if (technique == _technique && _currentTechnique.valid())
        return;
    if (technique < AR_SHADOW_MAP || technique > AR_SHADOW_VOLUME)
    {
        osg::notify(osg::FATAL) << "WARNING: shadow technique NOT valid." << std::endl;
        return;
    }
    osg::notify(osg::NOTICE) << "DEBUG: setting shadow technique: " << techniqueName(technique) << std::endl;
    if (technique == AR_SHADOW_VOLUME)
    {
        // The scene-graph library of this platform has no shadow-volume technique any more.
        const int kept = _currentTechnique.valid() ? _technique : static_cast<int>(AR_SHADOW_MAP);
        osg::notify(osg::FATAL) << "WARNING: shadow technique AR_SHADOW_VOLUME not available, using "
                                << techniqueName(kept) << "." << std::endl;
        if (_currentTechnique.valid())
            return;
        technique = AR_SHADOW_MAP;
    }
    osg::ref_ptr<osgShadow::ShadowTechnique> object = techniqueObject(technique);
    if (!object.valid())
        return;
    _currentTechnique = object;
    _technique = technique;
    if (technique != AR_SOFT_SHADOW_MAP)
        _simpleTechnique = technique;
    _shadowedScene->setShadowTechnique(object.get());
}

int ARShadowsManager::getShadowMode() const
{
    return _technique == AR_SOFT_SHADOW_MAP ? SHADOW_MODE_SOFT : SHADOW_MODE_SIMPLE;
}

void ARShadowsManager::setShadowMode(int shadowMode)
{
    if (!_enabled)
        return;
    setTechnique(shadowMode == SHADOW_MODE_SOFT ? static_cast<int>(AR_SOFT_SHADOW_MAP) : _simpleTechnique);
    initTechnique();
}

int ARShadowsManager::getVisualAccuracy() const
{
    return _mode == MODE_DEFERRED ? ACCURACY_HIGHEST : ACCURACY_FASTEST;
}

void ARShadowsManager::setVisualAccuracy(int accuracy)
{
    if (!_enabled)
        return;
    setMode(accuracy == ACCURACY_HIGHEST ? MODE_DEFERRED : MODE_DIRECT);
    // The units and programs depend on the mode.
    initTechnique();
}

void ARShadowsManager::setTexturesShown(bool shown)
{
    _texturesShown = shown;
    // Only the deferred group's plain drawing: the shadow pass keeps its own map and programs.
    osg::StateSet* state = _deferredGroup->getOrCreateStateSet();
    for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
    {
        if (shown)
            state->removeTextureMode(unit, GL_TEXTURE_2D);
        else
            state->setTextureMode(unit, GL_TEXTURE_2D,
                                  osg::StateAttribute::OFF | osg::StateAttribute::OVERRIDE);
    }
}

osg::ref_ptr<osgShadow::ShadowTechnique> ARShadowsManager::techniqueObject(int technique)
{
    switch (technique)
    {
    case AR_SHADOW_MAP:
        if (!_shadowMap.valid())
            _shadowMap = new ShadowMapOnUnits;
        return _shadowMap.get();
    case AR_SOFT_SHADOW_MAP:
        if (!_softShadowMap.valid())
            _softShadowMap = new SoftShadowMapOnUnits;
        return _softShadowMap.get();
    case AR_STANDARD_SHADOW_MAP:
        if (!_standardShadowMap.valid())
        {
            _standardShadowMap = new osgShadow::StandardShadowMap;
            _standardMainProgram = _standardShadowMap->getMainFragmentShader();
        }
        return _standardShadowMap.get();
    case AR_VIEW_DEPENDENT_SHADOW_MAP:
        if (!_viewDependentShadowMap.valid())
            _viewDependentShadowMap = new ViewDependentShadowMapOnUnits;
        return _viewDependentShadowMap.get();
    default:
        return nullptr;
    }
}

void ARShadowsManager::computeTextureUnits()
{
    if (!_shadowedGroup.valid())
        return;
    _availableUnits.clear();
    ARTextureUnitsVisitor visitor;
    _shadowedGroup->accept(visitor);
    const std::map<unsigned int, bool> used = visitor.getUsedUnits();
    for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
    {
        if (used.count(unit) == 0)
            _availableUnits.push_back(unit);
        else
            osg::notify(osg::NOTICE) << " Cannot use TU: " << unit << std::endl;
    }
    osg::notify(osg::NOTICE) << " Available TUs: " << _availableUnits.size() << std::endl;
    _opacityUnits = visitor.getOpacityUnits();
    osg::notify(osg::NOTICE) << " TUs with opacity: " << _opacityUnits.size() << std::endl;
}

void ARShadowsManager::initTechnique()
{
    if (!_currentTechnique.valid())
    {
        osg::notify(osg::FATAL) << "WARNING: cannot init shadow technique (finalize)." << std::endl;
        return;
    }
    osgShadow::ShadowTechnique* technique = _currentTechnique.get();
    bool initialised = true;
    if (technique == _softShadowMap.get())
        initialised = initSoftShadowMap();
    else if (technique == _shadowMap.get())
        initialised = initShadowMap();
    else if (technique == _viewDependentShadowMap.get())
        initialised = initViewDependentShadowMap();
    else if (technique == _standardShadowMap.get())
        initialised = initStandardShadowMap();
    else
        osg::notify(osg::FATAL) << "WARNING: cannot init shadow technique (none found)." << std::endl;
    if (!initialised)
        osg::notify(osg::FATAL) << "WARNING: cannot init shadow technique." << std::endl;
    // The techniques build their state on the next traversal.
    technique->dirty();
    if (_application)
    {
        _application->setShadowComposite(_mode == MODE_DEFERRED);
        checkProgramOn(_application->getARCamera());
        checkProgramOn(_shadowCamera.get());
    }
    else
        osg::notify(osg::FATAL) << "WARNING: cannot init mode (application not set)." << std::endl;
}

void ARShadowsManager::checkProgramOn(osg::Camera* camera)
{
    if (camera && !camera->getFinalDrawCallback())
        camera->setFinalDrawCallback(new ProgramCheck(this));
}

bool ARShadowsManager::initShadowMap()
{
    osg::notify(osg::NOTICE) << "ARShadowsManager: init shadow technique: AR_SHADOW_MAP" << std::endl;
    const TextureUnits units = textureUnitsFor(_compatibility, _mode, AR_SHADOW_MAP, _opacityUnits);
    if (!units.valid)
        return false;
    ShadowMapOnUnits* shadowMap = _shadowMap.get();
    shadowMap->setTextureSize(osg::Vec2s(_textureSize, _textureSize));
    if (_lightSource.valid())
        shadowMap->setLight(_lightSource.get());
    shadowMap->clearShaderList();
    const std::string program =
        placeProgramOnUnits(shadowMapProgram(_mode == MODE_DEFERRED), units.base, units.shadow);
    shadowMap->setBaseTextureUnit(units.base);
    shadowMap->setTextureUnit(units.shadow);
    _fragmentShader = new osg::Shader(osg::Shader::FRAGMENT, program);
    shadowMap->addShader(_fragmentShader.get());
    return true;
}

bool ARShadowsManager::initSoftShadowMap()
{
    osg::notify(osg::NOTICE) << "DEBUG: init shadow technique: AR_SOFT_SHADOW_MAP" << std::endl;
    const TextureUnits units = textureUnitsFor(_compatibility, _mode, AR_SOFT_SHADOW_MAP, _opacityUnits);
    if (!units.valid)
        return false;
    SoftShadowMapOnUnits* softShadowMap = _softShadowMap.get();
    softShadowMap->setTextureSize(osg::Vec2s(_textureSize, _textureSize));
    if (_lightSource.valid())
        softShadowMap->setLight(_lightSource.get());
    softShadowMap->clearShaderList();
    softShadowMap->setBaseTextureUnit(units.base);
    softShadowMap->setTextureUnit(units.shadow);
    softShadowMap->setJitterTextureUnit(jitterTextureUnit);
    const std::string program =
        placeProgramOnUnits(softShadowMapProgram(_mode == MODE_DEFERRED), units.base, units.shadow);
    _fragmentShader = new osg::Shader(osg::Shader::FRAGMENT, program);
    softShadowMap->addShader(_fragmentShader.get());
    return true;
}

bool ARShadowsManager::initStandardShadowMap()
{
    _fragmentShader = nullptr;
    osg::notify(osg::NOTICE) << "DEBUG: init shadow technique: AR_STANDARD_SHADOW_MAP (N.A.)" << std::endl;
    _standardShadowMap->setTextureSize(osg::Vec2s(_textureSize, _textureSize));
    if (_lightSource.valid())
        _standardShadowMap->setLight(_lightSource->getLight());
    const TextureUnits units = textureUnitsFor(_compatibility, _mode, AR_STANDARD_SHADOW_MAP, _opacityUnits);
    if (!units.valid)
        return false;
    // The library rewrites its programs from the previous index to the new one: back to its own
    // layout first (base, then shadow), then onto the chosen units (shadow first, so that a base
    // index of 1 is not moved on with it).
    _standardShadowMap->setBaseTextureCoordIndex(0);
    _standardShadowMap->setShadowTextureCoordIndex(1);
    _standardShadowMap->setMainFragmentShader(
        _mode == MODE_DEFERRED ? new osg::Shader(osg::Shader::FRAGMENT, standardShadowOnlyMainProgram())
                               : _standardMainProgram.get());
    if (units.libraryUnits)
    {
        _standardShadowMap->setBaseTextureUnit(0);
        _standardShadowMap->setShadowTextureUnit(1);
        return true;
    }
    _standardShadowMap->setShadowTextureUnit(units.shadow);
    _standardShadowMap->setShadowTextureCoordIndex(units.shadow);
    _standardShadowMap->setBaseTextureUnit(units.base);
    _standardShadowMap->setBaseTextureCoordIndex(units.base);
    return true;
}

bool ARShadowsManager::initViewDependentShadowMap()
{
    _fragmentShader = nullptr;
    osg::notify(osg::NOTICE) << "DEBUG: init shadow technique: AR_VIEW_DEPENDENT_SHADOW_MAP" << std::endl;
    osgShadow::ShadowSettings* settings = _shadowedScene->getShadowSettings();
    settings->setTextureSize(osg::Vec2s(_textureSize, _textureSize));
    settings->setNumShadowMapsPerLight(1);
    // Only the AR light casts: light 0 is the viewer's head light.
    settings->setLightNum(arLightNumber);
    const TextureUnits units =
        textureUnitsFor(_compatibility, _mode, AR_VIEW_DEPENDENT_SHADOW_MAP, _opacityUnits);
    if (!units.valid)
        return false;
    ViewDependentShadowMapOnUnits* technique = _viewDependentShadowMap.get();
    technique->setBaseTextureUnit(units.base);
    technique->setShadowOnly(_mode == MODE_DEFERRED);
    settings->setBaseShadowTextureUnit(units.shadow);
    return true;
}

void ARShadowsManager::guardShadowBounds()
{
    if (_light.valid())
        guardLight(*_light);
    if (!_shadowedGroup.valid())
        return;
    ShadowCastersVisitor visitor;
    _shadowedGroup->accept(visitor);
    for (const ShadowCastersVisitor::Caster& caster : visitor.casters)
    {
        const osg::BoundingBox& bounds = caster.bounds;
        if (!bounds.valid() || (isReasonable(bounds._min) && isReasonable(bounds._max)))
            continue;
        osg::notify(osg::FATAL)
            << " WARNING: object " << caster.object->getName() << " reaches from (" << bounds._min << ") to ("
            << bounds._max << "), too far to shadow: it casts no shadow and is left out of the shadow bounds."
            << std::endl;
        caster.object->clearNodeMaskBits(CASTS_SHADOW_MASK);
    }
}

// Only the light's direction and place matter to the shadows: a transform part that would make
// them zero or not finite (a scale of 0, a direction of NaN) is replaced by a neutral one.
void ARShadowsManager::guardLight(ARLight& light)
{
    std::vector<std::string> replaced;
    const osg::Vec3f scale = light.getScale();
    if (!std::isfinite(scale.x() * scale.y() * scale.z()) || scale.x() * scale.y() * scale.z() == 0.0f)
    {
        std::ostringstream text;
        text << "scale " << scale << " replaced by 1";
        replaced.push_back(text.str());
        light.setScale(1.0f, 1.0f, 1.0f);
    }
    const osg::Quat rotation = light.getRotation();
    if (!std::isfinite(rotation.length2()) || rotation.length2() == 0.0)
    {
        replaced.push_back("rotation not valid, none used");
        light.setRotation(0.0, 0.0, 0.0, 1.0);
    }
    const osg::Vec3f translation = light.getTranslation();
    if (!isReasonable(translation))
    {
        std::ostringstream text;
        text << "translation " << translation << " replaced by 0 0 0";
        replaced.push_back(text.str());
        light.setTranslation(0.0f, 0.0f, 0.0f);
    }
    osg::Light* glLight = light.getLight();
    if (glLight)
    {
        const osg::Vec4 position = glLight->getPosition();
        const bool directional = position.w() == 0.0f;
        if (!isUsable(position))
        {
            std::ostringstream text;
            text << "light position " << position << " replaced by 0 0 1 " << (directional ? 0 : 1);
            replaced.push_back(text.str());
            glLight->setPosition(osg::Vec4(0.0f, 0.0f, 1.0f, directional ? 0.0f : 1.0f));
        }
    }
    // What the shadow map sees: the light's position through its own transform and its object's.
    osg::MatrixTransform* transform = light.getLightTransform();
    if (transform && glLight &&
        !isUsable(glLight->getPosition() * transform->getMatrix() * light.getMatrix()))
    {
        replaced.push_back("light transform not valid, shining straight down instead");
        light.setDirection(0.0, 0.0, -1.0);
        if (!isUsable(glLight->getPosition() * transform->getMatrix() * light.getMatrix()))
            light.setPosition(0.0, 0.0, 0.0, 1.0);
    }
    if (replaced.empty())
        return;
    std::string text;
    for (const std::string& part : replaced)
        text += (text.empty() ? "" : "; ") + part;
    osg::notify(osg::FATAL) << " WARNING: light " << light.getName() << " cannot place the shadows as given ("
                            << text << ")." << std::endl;
}

void ARShadowsManager::moveLight(double dx, double dy, double dz)
{
    if (_light.valid())
        _light->move(dx, dy, dz);
}

void ARShadowsManager::rotateLight(const osg::Quat& rotation)
{
    if (_light.valid())
        _light->rotate(rotation);
}

void ARShadowsManager::toggleLightSource()
{
    if (_light.valid())
        _light->toggleGuides();
}

void ARShadowsManager::changeLightAttenuation(float step)
{
    if (_light.valid())
        _light->changeAttenuation(step);
}

} // namespace Novaro
