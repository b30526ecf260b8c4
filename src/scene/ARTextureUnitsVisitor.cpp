#include "scene/ARTextureUnitsVisitor.h"

#include <osg/Notify>
#include <osg/TexEnvCombine>
#include <osg/Texture2D>

namespace Novaro
{

namespace
{
const unsigned int textureUnitCount = 8;
}

ARTextureUnitsVisitor::ARTextureUnitsVisitor() : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN) {}

void ARTextureUnitsVisitor::apply(osg::Geode& geode)
{
    for (unsigned int d = 0; d < geode.getNumDrawables(); ++d)
    {
        osg::Drawable* drawable = geode.getDrawable(d);
        if (drawable == nullptr || drawable->getStateSet() == nullptr)
            continue;
        osg::StateSet* stateSet = drawable->getStateSet();
        for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
        {
            osg::StateAttribute* attribute =
                stateSet->getTextureAttribute(unit, osg::StateAttribute::TEXTURE);
            if (osg::Texture* texture = dynamic_cast<osg::Texture*>(attribute))
            {
                // A unit already recorded is not looked at again for this drawable.
                if (_usedUnits.count(unit) != 0)
                    continue;
                _usedUnits[unit] = true;
                _usedUnitsList.push_back(unit);
                osg::notify(osg::FATAL)
                    << " Found TU: " << unit << (dynamic_cast<osg::Texture2D*>(texture) ? " (Texture2D)" : "")
                    << std::endl;
            }
            osg::StateAttribute* environment =
                stateSet->getTextureAttribute(unit, osg::StateAttribute::TEXENV);
            if (dynamic_cast<osg::TexEnvCombine*>(environment) != nullptr)
                _opacityUnits.push_back(unit);
        }
    }
}

} // namespace Novaro
