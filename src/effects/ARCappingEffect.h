#pragma once

#include <osgFX/Effect>
#include <osgFX/Technique>

namespace Novaro
{

// Fills the sections that clip planes cut into closed models. Two passes over the clipped
// content: the first draws only the inside (back faces, culling off) in solid red, with the clip
// planes applied in its vertex shader; the second draws the content as usual with back faces
// culled. Where a model is whole its front faces cover the red; where it is cut open the red
// inside shows, so the section looks closed.
class ARCappingEffect : public osgFX::Effect
{
public:
    ARCappingEffect();
    ARCappingEffect(const ARCappingEffect& copy, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    META_Effect(Novaro, ARCappingEffect, "ARCappingEffect", "A shader based capping effect for clipping",
                "Novaro");

protected:
    ~ARCappingEffect() override = default;
    bool define_techniques() override;
};

class ARCappingTechnique : public osgFX::Technique
{
public:
    ARCappingTechnique() = default;

    META_Technique("ARCappingTechnique", "Red back faces under the clipped content, then the content");

protected:
    ~ARCappingTechnique() override = default;
    void define_passes() override;
};

} // namespace Novaro
