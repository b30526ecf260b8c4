#pragma once

#include <osg/Geode>
#include <osg/NodeVisitor>

#include <map>
#include <vector>

namespace Novaro
{

// Collects the texture units that the models of a subgraph occupy (units 0 to 7), so that the
// shadows manager can put its own textures on free units, and the units whose texture
// environment is a combiner (opacity maps), where it places the shadow texture.
class ARTextureUnitsVisitor : public osg::NodeVisitor
{
public:
    ARTextureUnitsVisitor();

    void apply(osg::Geode& geode) override;

    std::map<unsigned int, bool> getUsedUnits() const { return _usedUnits; }
    // The used units in the order they were first met.
    std::vector<unsigned int> getUsedUnitsList() const { return _usedUnitsList; }
    // A unit appears once for every drawable that combines on it.
    std::vector<unsigned int> getOpacityUnits() const { return _opacityUnits; }

private:
    std::map<unsigned int, bool> _usedUnits;
    std::vector<unsigned int> _usedUnitsList;
    std::vector<unsigned int> _opacityUnits;
};

} // namespace Novaro
