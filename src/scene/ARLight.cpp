#include "scene/ARLight.h"

#include "scene/ARLightSourceVisitor.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/BoundingBox>
#include <osg/Notify>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

namespace Novaro
{

namespace
{

// The OpenGL light the shadowed markers group switches on (light 0 lights the others).
const int arLightNumber = 7;
// Keeps the light transform, and so the light and its guides, out of the shadow techniques'
// receiving (1) and casting (2) traversals.
const unsigned int lightTransformMask = 4;
const osg::Vec4 defaultAmbient(0.1f, 0.1f, 0.1f, 1.0f);
const osg::Vec4 defaultDiffuse(0.9f, 0.9f, 0.9f, 1.0f);
// A spot cutoff of 180 degrees makes an omnidirectional light; anything clearly below is a spot.
const float omnidirectionalCutoff = 180.0f;
const float spotCutoffLimit = 179.9f;
// The direction a light shines along before it is turned.
const osg::Vec3d unturnedDirection(0.0, 0.0, -1.0);

const char* const guideFile = "data/dummies.ive";
// A directional light's guides stand this many times the content's height above the marker.
const double lightHeightOverContent = 1.5;
const char* const axesFile = "data/axes.ive";
const char* const guideNames[] = {"DirectionalDummy", "OmniDummy", "SpotDummy"};

} // namespace

ARLight::ARLight(bool directional) : ARObject(), _directional(directional)
{
    createLightFromProperties();
}

ARLight::ARLight(osg::Node* model) : ARObject(model)
{
    takeLightFromModel();
}

ARLight::ARLight(osg::Node* model, const std::string& subNodeName) : ARObject(model, subNodeName)
{
    takeLightFromModel();
}

ARLight::ARLight(const std::string& modelFile) : ARObject(modelFile)
{
    takeLightFromModel();
}

ARLight::ARLight(const std::string& modelFile, const std::string& subNodeName)
    : ARObject(modelFile, subNodeName)
{
    takeLightFromModel();
}

void ARLight::createLightFromProperties()
{
    _fromXMLData = true;
    osg::ref_ptr<osg::Light> light = new osg::Light(arLightNumber);
    light->setPosition(_directional ? osg::Vec4(0.0f, 0.0f, 1.0f, 0.0f) : osg::Vec4(0.0f, 0.0f, 0.0f, 1.0f));
    light->setAmbient(defaultAmbient);
    light->setDiffuse(defaultDiffuse);
    _lightSource = new osg::LightSource;
    _lightSource->setLight(light.get());

    _lightTransform = new osg::MatrixTransform(osg::Matrixd::identity());
    _lightTransform->setNodeMask(lightTransformMask);
    _lightTransform->addChild(_lightSource.get());
    addChild(_lightTransform.get());
    loadGuides();
    if (!_directional)
    {
        light->setSpotCutoff(omnidirectionalCutoff);
        light->setSpotExponent(0.0f);
    }
}

void ARLight::takeLightFromModel()
{
    _fromXMLData = false;
    _directional = false;
    ARLightSourceVisitor search;
    accept(search);
    _lightSource = search.getLightSource();
    if (!_lightSource.valid() || !_lightSource->getLight())
    {
        _lightSource = nullptr;
        osg::notify(osg::FATAL) << "light source: NOT FOUND" << std::endl;
        return;
    }
    osg::Light* light = _lightSource->getLight();
    _directional = light->getPosition().w() == 0.0f;
    light->setLightNum(arLightNumber);

    if (_lightSource->getNumParents() == 0)
    {
        osg::notify(osg::FATAL) << "WARNING: could not find light's parent node." << std::endl;
        return;
    }
    osg::MatrixTransform* parent = dynamic_cast<osg::MatrixTransform*>(_lightSource->getParent(0));
    if (!parent)
    {
        osg::notify(osg::FATAL) << "WARNING: unexpected light's parent node type." << std::endl;
        return;
    }
    _lightTransform = parent;
    _lightTranslation = osg::Matrixd::translate(parent->getMatrix().getTrans());
    _lightRotation = osg::Matrixd::rotate(parent->getMatrix().getRotate());
    _lightTransform->setNodeMask(lightTransformMask);
    loadGuides();
    light->setSpotCutoff(omnidirectionalCutoff);
    light->setSpotExponent(0.0f);
}

void ARLight::loadGuides()
{
    osg::ref_ptr<osg::Node> dummies =
        osgDB::readRefNodeFile(guideFile, osgDB::Registry::instance()->getOptions());
    if (!dummies.valid())
    {
        osg::notify(osg::FATAL) << "WARNING: could not load dummies file." << std::endl;
        return;
    }
    _guides = new osg::Switch;
    _guides->setName("LightGuides");
    for (int guide = DIRECTIONAL_GUIDE; guide <= SPOT_GUIDE; ++guide)
    {
        ARNodeSearchByNameVisitor search(guideNames[guide]);
        dummies->accept(search);
        _guideNodes[guide] = search.getNode();
        if (_guideNodes[guide].valid())
            _guides->addChild(_guideNodes[guide].get(), false);
    }
    _guidesShown = false;
    // Guides keep their own colours whatever the light does.
    _guides->getOrCreateStateSet()->setMode(GL_LIGHTING,
                                            osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    _lightTransform->addChild(_guides.get());

    _guideNodes[AXES_GUIDE] = osgDB::readRefNodeFile(axesFile, osgDB::Registry::instance()->getOptions());
    if (!_guideNodes[AXES_GUIDE].valid())
    {
        osg::notify(osg::FATAL) << "WARNING: could not load axes file." << std::endl;
        return;
    }
    _guides->addChild(_guideNodes[AXES_GUIDE].get(), false);
}

bool ARLight::isSpot() const
{
    const osg::Light* light = getLight();
    return light && light->getSpotCutoff() < spotCutoffLimit;
}

void ARLight::switchGuides()
{
    if (!_guides.valid())
        return;
    _guides->setAllChildrenOff();
    if (!_guidesShown)
        return;
    const Guide kind = _directional ? DIRECTIONAL_GUIDE : (isSpot() ? SPOT_GUIDE : OMNI_GUIDE);
    for (int guide : {static_cast<int>(kind), static_cast<int>(AXES_GUIDE)})
    {
        if (_guideNodes[guide].valid())
            _guides->setChildValue(_guideNodes[guide].get(), true);
    }
}

void ARLight::makeDirectional()
{
    if (osg::Light* light = getLight())
    {
        const osg::Vec4 position = light->getPosition();
        light->setPosition(osg::Vec4(position.x(), position.y(), position.z(), 0.0f));
    }
    _directional = true;
    switchGuides();
}

void ARLight::makePositional()
{
    if (osg::Light* light = getLight())
    {
        const osg::Vec4 position = light->getPosition();
        light->setPosition(osg::Vec4(position.x(), position.y(), position.z(), 1.0f));
    }
    _directional = false;
    switchGuides();
}

void ARLight::updateLightTransform()
{
    if (_lightTransform.valid())
        _lightTransform->setMatrix(_lightRotation * _lightTranslation);
}

void ARLight::contentBoundsChanged(const osg::BoundingBox& content)
{
    if (!_fromXMLData || !_directional)
        return;
    osg::notify(osg::NOTICE) << " DEBUG: fixing ARLight position..." << std::endl;
    setPosition(0.0, 0.0, lightHeightOverContent * content.zMax(), 1.0);
}

void ARLight::setPosition(double x, double y, double z, double w)
{
    if (w == 0.0)
    {
        osg::notify(osg::FATAL) << " WARNING: light position not valid (w = 0)." << std::endl;
        return;
    }
    _lightTranslation = osg::Matrixd::translate(x / w, y / w, z / w);
    updateLightTransform();
}

void ARLight::setDirection(double x, double y, double z)
{
    const osg::Vec3d direction(x, y, z);
    if (direction.length2() == 0.0)
    {
        osg::notify(osg::FATAL) << " WARNING: light direction not valid (zero vector)." << std::endl;
        return;
    }
    _lightRotation = osg::Matrixd::rotate(unturnedDirection, direction);
    updateLightTransform();
}

void ARLight::rotate(const osg::Quat& rotation)
{
    _lightRotation = osg::Matrixd::rotate(rotation) * _lightRotation;
    updateLightTransform();
}

void ARLight::move(double dx, double dy, double dz)
{
    if (_directional)
        return;
    _lightTranslation = osg::Matrixd::translate(_lightTranslation.getTrans() + osg::Vec3d(dx, dy, dz));
    updateLightTransform();
}

void ARLight::setSpotCutoff(float degrees)
{
    if (osg::Light* light = getLight())
        light->setSpotCutoff(degrees);
}

void ARLight::setSpotExponent(float exponent)
{
    if (osg::Light* light = getLight())
        light->setSpotExponent(exponent);
}

void ARLight::changeAttenuation(float step)
{
    osg::Light* light = getLight();
    if (!light)
        return;
    float attenuation = light->getConstantAttenuation() - step;
    if (attenuation <= 0.0f)
        attenuation = step;
    else if (attenuation > 1.0f)
        attenuation = 1.0f;
    light->setConstantAttenuation(attenuation);
}

void ARLight::showGuides(bool on)
{
    _guidesShown = on;
    switchGuides();
}

} // namespace Novaro
