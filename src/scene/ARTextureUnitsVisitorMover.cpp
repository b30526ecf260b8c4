#include "scene/ARTextureUnitsVisitorMover.h"

#include <osg/Geometry>
#include <osg/TexEnv>
#include <osg/Texture2D>

#include <set>

namespace Novaro
{

namespace
{

const unsigned int textureUnitCount = 8;

// The next unit above 'unit' that is in 'units', or textureUnitCount when there is none.
unsigned int nextUsedUnit(const std::set<unsigned int>& units, unsigned int unit)
{
    std::set<unsigned int>::const_iterator next = units.upper_bound(unit);
    return next == units.end() ? textureUnitCount : *next;
}

// Moves each used unit down into the lowest free unit below it, keeping the order: every gap is
// filled by the next used unit above it.
template <class Move> void compactUnits(std::set<unsigned int> units, Move move)
{
    for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
    {
        if (units.count(unit) != 0)
            continue;
        const unsigned int from = nextUsedUnit(units, unit);
        if (from >= textureUnitCount)
            break;
        move(from, unit);
        units.erase(from);
        units.insert(unit);
    }
}

void compactCoordinates(osg::Geometry& geometry)
{
    std::set<unsigned int> units;
    for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
        if (geometry.getTexCoordArray(unit) != nullptr)
            units.insert(unit);

    compactUnits(units,
                 [&geometry](unsigned int from, unsigned int unit)
                 {
                     osg::ref_ptr<osg::Array> coordinates = geometry.getTexCoordArray(from);
                     geometry.setTexCoordArray(unit, coordinates.get());
                     geometry.setTexCoordArray(from, nullptr);
                 });
}

void compactTextures(osg::StateSet& stateSet)
{
    std::set<unsigned int> units;
    for (unsigned int unit = 0; unit < textureUnitCount; ++unit)
    {
        const bool hasTexture =
            dynamic_cast<osg::Texture*>(stateSet.getTextureAttribute(unit, osg::StateAttribute::TEXTURE)) !=
            nullptr;
        const bool hasEnvironment =
            dynamic_cast<osg::TexEnv*>(stateSet.getTextureAttribute(unit, osg::StateAttribute::TEXENV)) !=
            nullptr;
        if (hasTexture || hasEnvironment)
            units.insert(unit);
    }

    compactUnits(
        units,
        [&stateSet](unsigned int from, unsigned int unit)
        {
            osg::ref_ptr<osg::Texture> texture =
                dynamic_cast<osg::Texture*>(stateSet.getTextureAttribute(from, osg::StateAttribute::TEXTURE));
            if (texture.valid())
            {
                if (dynamic_cast<osg::Texture2D*>(texture.get()) != nullptr)
                {
                    stateSet.setTextureAttributeAndModes(unit, texture.get(), osg::StateAttribute::ON);
                    stateSet.setTextureAttributeAndModes(from, texture.get(), osg::StateAttribute::OFF);
                }
                else
                {
                    stateSet.setTextureAttribute(unit, texture.get());
                }
                stateSet.removeTextureAttribute(from, texture.get());
            }

            osg::ref_ptr<osg::TexEnv> environment =
                dynamic_cast<osg::TexEnv*>(stateSet.getTextureAttribute(from, osg::StateAttribute::TEXENV));
            if (environment.valid())
            {
                stateSet.setTextureAttribute(unit, environment.get());
                stateSet.removeTextureAttribute(from, environment.get());
            }
        });
}

} // namespace

ARTextureUnitsVisitorMover::ARTextureUnitsVisitorMover()
    : osg::NodeVisitor(osg::NodeVisitor::TRAVERSE_ALL_CHILDREN)
{
}

void ARTextureUnitsVisitorMover::apply(osg::Geode& geode)
{
    for (unsigned int d = 0; d < geode.getNumDrawables(); ++d)
    {
        osg::Drawable* drawable = geode.getDrawable(d);
        if (drawable == nullptr || drawable->getStateSet() == nullptr)
            continue;
        if (osg::Geometry* geometry = drawable->asGeometry())
            compactCoordinates(*geometry);
        compactTextures(*drawable->getStateSet());
    }
}

} // namespace Novaro
