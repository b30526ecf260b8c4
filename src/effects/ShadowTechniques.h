#pragma once

#include <osgShadow/ShadowMap>
#include <osgShadow/SoftShadowMap>
#include <osgShadow/ViewDependentShadowMap>

namespace Novaro
{

// osgShadow's shadow-map techniques with the texture-unit control the shadows manager's unit table
// needs and the library does not offer.

// The shadow map with a settable base texture unit.
class ShadowMapOnUnits : public osgShadow::ShadowMap
{
public:
    void setBaseTextureUnit(unsigned int unit);
};

// The soft shadow map with a settable base texture unit, and its jitter texture kept on the unit
// given to setJitterTextureUnit: the library moves it next to the shadow map, where the models'
// own textures may be.
class SoftShadowMapOnUnits : public osgShadow::SoftShadowMap
{
public:
    void setBaseTextureUnit(unsigned int unit);

protected:
    void createUniforms() override;
};

// The view-dependent shadow map reading the base texture from a settable unit (the library fixes
// unit 0), and optionally drawing the shadow alone, for the deferred pass.
class ViewDependentShadowMapOnUnits : public osgShadow::ViewDependentShadowMap
{
public:
    void setBaseTextureUnit(unsigned int unit);
    void setShadowOnly(bool on);

protected:
    void createShaders() override;
    osg::StateSet* selectStateSetForRenderingShadow(ViewDependentData& data) const override;

private:
    unsigned int _baseUnit = 0;
    bool _shadowOnly = false;
};

} // namespace Novaro
