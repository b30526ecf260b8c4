#pragma once

#include <string>

namespace Novaro
{
namespace DataGen
{

// Writes the sample scene's models into 'folder': cube.osgb (with a path animation "spin" that
// turns it), sphere.osgb and cone.osgb (60 units, resting on z = 0), house.kmz (a SketchUp-style
// archive: models/house.dae, Z-up COLLADA written with Assimp, and doc.kml), arrow.glb and
// walker.glb (a skinned figure with the skeletal animation "walk"), both written with Assimp,
// Y-up in metres as glTF wants them (they arrive Z-up in millimetres, as the others are made).
// False, after a message, when one of them fails.
bool writeSampleModels(const std::string& folder);

} // namespace DataGen
} // namespace Novaro
