#include "effects/ShadowTechniques.h"

#include "effects/ShadowPrograms.h"

#include <osgShadow/ShadowSettings>
#include <osgShadow/ShadowedScene>

namespace Novaro
{

void ShadowMapOnUnits::setBaseTextureUnit(unsigned int unit)
{
    _baseTextureUnit = unit;
    dirty();
}

void SoftShadowMapOnUnits::setBaseTextureUnit(unsigned int unit)
{
    _baseTextureUnit = unit;
    dirty();
}

void SoftShadowMapOnUnits::createUniforms()
{
    const unsigned int jitterUnit = _jitterTextureUnit;
    osgShadow::SoftShadowMap::createUniforms();
    const unsigned int neighbour = _shadowTextureUnit + 1;
    if (neighbour == jitterUnit || !_stateset.valid())
        return;
    _stateset->removeTextureAttribute(neighbour, osg::StateAttribute::TEXTURE);
    for (GLenum mode : {GLenum(GL_TEXTURE_3D), GLenum(GL_TEXTURE_GEN_S), GLenum(GL_TEXTURE_GEN_T),
                        GLenum(GL_TEXTURE_GEN_R)})
        _stateset->removeTextureMode(neighbour, mode);
    _jitterTextureUnit = jitterUnit;
    initJittering(_stateset.get());
    for (osg::ref_ptr<osg::Uniform>& uniform : _uniformList)
        if (uniform->getName() == "osgShadow_jitterTexture")
            uniform->set(static_cast<int>(jitterUnit));
}

void ViewDependentShadowMapOnUnits::setBaseTextureUnit(unsigned int unit)
{
    _baseUnit = unit;
    dirty();
}

void ViewDependentShadowMapOnUnits::setShadowOnly(bool on)
{
    _shadowOnly = on;
    dirty();
}

void ViewDependentShadowMapOnUnits::createShaders()
{
    osgShadow::ViewDependentShadowMap::createShaders();
    for (osg::ref_ptr<osg::Uniform>& uniform : _uniforms)
        if (uniform->getName() == "baseTexture" || uniform->getName() == "baseTextureUnit")
            uniform->set(static_cast<int>(_baseUnit));
    // Without a shader hint the library shadows through fixed-function texturing, which would put
    // the models' colours into the deferred pass too.
    if (_shadowOnly)
    {
        _program = new osg::Program;
        const unsigned int shadowUnit = getShadowedScene()->getShadowSettings()->getBaseShadowTextureUnit();
        _program->addShader(new osg::Shader(
            osg::Shader::FRAGMENT, placeProgramOnUnits(viewDependentShadowOnlyProgram(), 0, shadowUnit)));
    }
}

osg::StateSet* ViewDependentShadowMapOnUnits::selectStateSetForRenderingShadow(ViewDependentData& data) const
{
    osg::StateSet* state = osgShadow::ViewDependentShadowMap::selectStateSetForRenderingShadow(data);
    // Untextured models read white from the base unit.
    if (state && _baseUnit != 0)
        state->setTextureAttributeAndModes(_baseUnit, _fallbackBaseTexture.get(), osg::StateAttribute::ON);
    return state;
}

} // namespace Novaro
