#pragma once

#include <osg/Node>
#include <osg/ref_ptr>

namespace Novaro
{
namespace DataGen
{

// The default model shown when a scene has no objects: an orange "N" standing on a blue plate,
// 80 units across, resting on z = 0 so that it stands on a marker of size 80.
osg::ref_ptr<osg::Node> makeDefaultModel();

// The light guides: "DirectionalDummy" (an arrow along -Z, where a light's transform points),
// "OmniDummy" (a small ball) and "SpotDummy" (a cone opening along -Z from its apex).
osg::ref_ptr<osg::Node> makeLightDummies();

// X red, Y green and Z blue arrows from the origin, drawn without lighting.
osg::ref_ptr<osg::Node> makeAxes();

} // namespace DataGen
} // namespace Novaro
