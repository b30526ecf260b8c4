#pragma once

#include <osg/Geode>
#include <osg/Matrix>
#include <osg/Vec3>
#include <osg/Vec4>

#include <vector>

namespace Novaro
{
namespace DataGen
{

// A triangle mesh with one normal per vertex.
struct Mesh
{
    std::vector<osg::Vec3> vertices;
    std::vector<osg::Vec3> normals;
    std::vector<unsigned int> indices;

    void append(const Mesh& other);
    // Moves the mesh; the matrix must keep angles (rotation, translation, uniform scale).
    Mesh transformed(const osg::Matrix& matrix) const;
};

// An axis-aligned box around 'centre' with the full edge lengths 'size'.
Mesh makeBox(const osg::Vec3& centre, const osg::Vec3& size);
// Along +Z from 'base', with both caps.
Mesh makeCylinder(const osg::Vec3& base, float radius, float height, unsigned int segments = 32);
// Base disc at 'base', apex 'height' above it along +Z.
Mesh makeCone(const osg::Vec3& base, float radius, float height, unsigned int segments = 32);
Mesh makeSphere(const osg::Vec3& centre, float radius, unsigned int rings = 24, unsigned int segments = 32);
// From the origin along +Z: a shaft and a head, 'length' long in all.
Mesh makeArrow(float length, float shaftRadius, float headRadius, float headLength);
// A gable roof over the rectangle [-width/2, width/2] x [-depth/2, depth/2] at height 'eaves',
// its ridge along X at 'ridge'.
Mesh makeRoof(float width, float depth, float eaves, float ridge);

// A geode with the mesh in one colour. Lit geometry gets a material of that colour; unlit
// geometry (guides drawn with lighting off) carries the colour in a colour array and switches
// lighting off itself.
osg::ref_ptr<osg::Geode> makeGeode(const std::string& name, const Mesh& mesh, const osg::Vec4& colour,
                                   bool lit);

} // namespace DataGen
} // namespace Novaro
