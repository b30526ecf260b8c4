#pragma once

#include "scene/ARObject.h"

#include <osg/LightSource>
#include <osg/MatrixTransform>
#include <osg/Matrixd>
#include <osg/Quat>
#include <osg/Switch>

#include <string>

namespace Novaro
{

// The scene's light: one OpenGL light (number 7, the one the shadowed markers group switches on)
// in a light source under its own light transform, plus guide geometry showing where it is. The
// light is either described by the scene file's properties or taken from a light source inside the
// object's model, whose parent matrix transform then becomes the light transform.
//
// The light transform's matrix is always rotation x translation (orient, then place). Its node
// mask keeps the light and its guides out of the shadow techniques' casting pass.
//
// Guides: a switch with the light-kind dummies of data/dummies.ive ("DirectionalDummy",
// "OmniDummy", "SpotDummy", in that order, each present only when found) and the model of
// data/axes.ive last; all hidden until showGuides(true).
class ARLight : public ARObject
{
public:
    // The light from properties: at infinity along +Z when directional, else at the origin.
    explicit ARLight(bool directional);
    // The light found in a model: the whole scene-wide model, a sub-node of it by name, the
    // object's own model file, or a sub-node of that file.
    explicit ARLight(osg::Node* model);
    ARLight(osg::Node* model, const std::string& subNodeName);
    explicit ARLight(const std::string& modelFile);
    ARLight(const std::string& modelFile, const std::string& subNodeName);
    // A file name given as text would otherwise pick the properties constructor.
    explicit ARLight(const char* modelFile) = delete;

    bool isDirectional() const { return _directional; }
    void setDetail(int detail) { _detail = detail; }
    int getDetail() const { return _detail; }
    bool isFromXMLData() const { return _fromXMLData; }

    // A light serves its marker's whole content; one described by properties and directional
    // stands above the content so that its guides stand clear of the models.
    bool servesWholeMarker() const override { return true; }
    void contentBoundsChanged(const osg::BoundingBox& content) override;

    void makeDirectional();
    void makePositional();
    // Places the light at (x, y, z) / w in its object's frame; a zero w is refused.
    void setPosition(double x, double y, double z, double w);
    // Turns the light so that it shines along (x, y, z) instead of -Z; a zero vector is refused.
    void setDirection(double x, double y, double z);
    // Turns the light further by the rotation, about its own position.
    void rotate(const osg::Quat& rotation);
    // Moves a positional light by the offset; a directional light has no place to move.
    void move(double dx, double dy, double dz);
    void setSpotCutoff(float degrees);
    void setSpotExponent(float exponent);
    // Brightens (positive step) or dims the light through its constant attenuation, kept in
    // (0, 1]: a result at or below 0 becomes the step, one above 1 becomes 1.
    void changeAttenuation(float step);

    void showGuides(bool on);
    void toggleGuides() { showGuides(!_guidesShown); }
    bool areGuidesShown() const { return _guidesShown; }

    osg::LightSource* getLightSource() const { return _lightSource.get(); }
    osg::Light* getLight() const { return _lightSource.valid() ? _lightSource->getLight() : nullptr; }
    osg::MatrixTransform* getLightTransform() const { return _lightTransform.get(); }
    osg::Switch* getGuides() const { return _guides.get(); }
    const osg::Matrixd& getLightTranslation() const { return _lightTranslation; }
    const osg::Matrixd& getLightRotation() const { return _lightRotation; }

    // Guide children, in switch order.
    enum Guide
    {
        DIRECTIONAL_GUIDE = 0,
        OMNI_GUIDE = 1,
        SPOT_GUIDE = 2,
        AXES_GUIDE = 3
    };

protected:
    ~ARLight() override = default;

private:
    void createLightFromProperties();
    void takeLightFromModel();
    void loadGuides();
    void updateLightTransform();
    // Shows the guide of the light's kind and the axes, hiding the others.
    void switchGuides();
    bool isSpot() const;

    osg::ref_ptr<osg::MatrixTransform> _lightTransform;
    osg::ref_ptr<osg::LightSource> _lightSource;
    bool _directional = false;
    int _detail = 0;
    osg::Matrixd _lightTranslation;
    osg::Matrixd _lightRotation;
    osg::ref_ptr<osg::Switch> _guides;
    // The guide nodes by kind (none for a dummy the file lacks), so a missing one shifts nothing.
    osg::ref_ptr<osg::Node> _guideNodes[AXES_GUIDE + 1];
    bool _guidesShown = false;
    bool _fromXMLData = true;
};

} // namespace Novaro
