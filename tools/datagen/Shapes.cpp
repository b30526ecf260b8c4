#include "Shapes.h"

#include <osg/Geometry>
#include <osg/Material>

#include <cmath>

namespace Novaro
{
namespace DataGen
{

namespace
{

void addQuad(Mesh& mesh, const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c, const osg::Vec3& d)
{
    osg::Vec3 normal = (b - a) ^ (c - a);
    normal.normalize();
    const unsigned int first = static_cast<unsigned int>(mesh.vertices.size());
    for (const osg::Vec3& v : {a, b, c, d})
    {
        mesh.vertices.push_back(v);
        mesh.normals.push_back(normal);
    }
    for (unsigned int i : {0u, 1u, 2u, 0u, 2u, 3u})
        mesh.indices.push_back(first + i);
}

void addTriangle(Mesh& mesh, const osg::Vec3& a, const osg::Vec3& b, const osg::Vec3& c)
{
    osg::Vec3 normal = (b - a) ^ (c - a);
    normal.normalize();
    const unsigned int first = static_cast<unsigned int>(mesh.vertices.size());
    for (const osg::Vec3& v : {a, b, c})
    {
        mesh.vertices.push_back(v);
        mesh.normals.push_back(normal);
    }
    for (unsigned int i : {0u, 1u, 2u})
        mesh.indices.push_back(first + i);
}

// A flat disc at height z facing up (or down).
void addDisc(Mesh& mesh, const osg::Vec3& centre, float radius, unsigned int segments, bool up)
{
    const unsigned int first = static_cast<unsigned int>(mesh.vertices.size());
    const osg::Vec3 normal(0.0f, 0.0f, up ? 1.0f : -1.0f);
    mesh.vertices.push_back(centre);
    mesh.normals.push_back(normal);
    for (unsigned int s = 0; s <= segments; ++s)
    {
        const float angle = 2.0f * osg::PIf * s / segments;
        mesh.vertices.push_back(centre + osg::Vec3(radius * std::cos(angle), radius * std::sin(angle), 0.0f));
        mesh.normals.push_back(normal);
    }
    for (unsigned int s = 0; s < segments; ++s)
    {
        mesh.indices.push_back(first);
        mesh.indices.push_back(first + 1 + (up ? s : s + 1));
        mesh.indices.push_back(first + 1 + (up ? s + 1 : s));
    }
}

} // namespace

void Mesh::append(const Mesh& other)
{
    const unsigned int offset = static_cast<unsigned int>(vertices.size());
    vertices.insert(vertices.end(), other.vertices.begin(), other.vertices.end());
    normals.insert(normals.end(), other.normals.begin(), other.normals.end());
    for (unsigned int index : other.indices)
        indices.push_back(offset + index);
}

Mesh Mesh::transformed(const osg::Matrix& matrix) const
{
    Mesh result = *this;
    for (osg::Vec3& v : result.vertices)
        v = v * matrix;
    for (osg::Vec3& n : result.normals)
    {
        n = osg::Matrix::transform3x3(n, matrix);
        n.normalize();
    }
    return result;
}

Mesh makeBox(const osg::Vec3& centre, const osg::Vec3& size)
{
    const osg::Vec3 h = size * 0.5f;
    const osg::Vec3 c = centre;
    auto p = [&](float x, float y, float z) { return c + osg::Vec3(x * h.x(), y * h.y(), z * h.z()); };
    Mesh mesh;
    addQuad(mesh, p(-1, -1, 1), p(1, -1, 1), p(1, 1, 1), p(-1, 1, 1));     // top
    addQuad(mesh, p(-1, 1, -1), p(1, 1, -1), p(1, -1, -1), p(-1, -1, -1)); // bottom
    addQuad(mesh, p(-1, -1, -1), p(1, -1, -1), p(1, -1, 1), p(-1, -1, 1)); // front (-Y)
    addQuad(mesh, p(1, 1, -1), p(-1, 1, -1), p(-1, 1, 1), p(1, 1, 1));     // back (+Y)
    addQuad(mesh, p(1, -1, -1), p(1, 1, -1), p(1, 1, 1), p(1, -1, 1));     // right (+X)
    addQuad(mesh, p(-1, 1, -1), p(-1, -1, -1), p(-1, -1, 1), p(-1, 1, 1)); // left (-X)
    return mesh;
}

Mesh makeCylinder(const osg::Vec3& base, float radius, float height, unsigned int segments)
{
    Mesh mesh;
    const unsigned int first = 0;
    for (unsigned int s = 0; s <= segments; ++s)
    {
        const float angle = 2.0f * osg::PIf * s / segments;
        const osg::Vec3 direction(std::cos(angle), std::sin(angle), 0.0f);
        mesh.vertices.push_back(base + direction * radius);
        mesh.normals.push_back(direction);
        mesh.vertices.push_back(base + direction * radius + osg::Vec3(0.0f, 0.0f, height));
        mesh.normals.push_back(direction);
    }
    for (unsigned int s = 0; s < segments; ++s)
    {
        const unsigned int a = first + 2 * s;
        for (unsigned int i : {a, a + 2, a + 3, a, a + 3, a + 1})
            mesh.indices.push_back(i);
    }
    addDisc(mesh, base, radius, segments, false);
    addDisc(mesh, base + osg::Vec3(0.0f, 0.0f, height), radius, segments, true);
    return mesh;
}

Mesh makeCone(const osg::Vec3& base, float radius, float height, unsigned int segments)
{
    Mesh mesh;
    const float slope = radius / height;
    for (unsigned int s = 0; s < segments; ++s)
    {
        // One triangle per segment, the apex normal halfway between its edges.
        const float a0 = 2.0f * osg::PIf * s / segments;
        const float a1 = 2.0f * osg::PIf * (s + 1) / segments;
        const float am = 0.5f * (a0 + a1);
        auto normal = [&](float angle)
        {
            osg::Vec3 n(std::cos(angle), std::sin(angle), slope);
            n.normalize();
            return n;
        };
        const unsigned int first = static_cast<unsigned int>(mesh.vertices.size());
        mesh.vertices.push_back(base + osg::Vec3(radius * std::cos(a0), radius * std::sin(a0), 0.0f));
        mesh.normals.push_back(normal(a0));
        mesh.vertices.push_back(base + osg::Vec3(radius * std::cos(a1), radius * std::sin(a1), 0.0f));
        mesh.normals.push_back(normal(a1));
        mesh.vertices.push_back(base + osg::Vec3(0.0f, 0.0f, height));
        mesh.normals.push_back(normal(am));
        for (unsigned int i : {0u, 1u, 2u})
            mesh.indices.push_back(first + i);
    }
    addDisc(mesh, base, radius, segments, false);
    return mesh;
}

Mesh makeSphere(const osg::Vec3& centre, float radius, unsigned int rings, unsigned int segments)
{
    Mesh mesh;
    for (unsigned int r = 0; r <= rings; ++r)
    {
        const float polar = osg::PIf * r / rings;
        for (unsigned int s = 0; s <= segments; ++s)
        {
            const float azimuth = 2.0f * osg::PIf * s / segments;
            const osg::Vec3 n(std::sin(polar) * std::cos(azimuth), std::sin(polar) * std::sin(azimuth),
                              std::cos(polar));
            mesh.vertices.push_back(centre + n * radius);
            mesh.normals.push_back(n);
        }
    }
    const unsigned int row = segments + 1;
    for (unsigned int r = 0; r < rings; ++r)
        for (unsigned int s = 0; s < segments; ++s)
        {
            const unsigned int a = r * row + s;
            for (unsigned int i : {a, a + row, a + row + 1, a, a + row + 1, a + 1})
                mesh.indices.push_back(i);
        }
    return mesh;
}

Mesh makeArrow(float length, float shaftRadius, float headRadius, float headLength)
{
    Mesh mesh = makeCylinder(osg::Vec3(), shaftRadius, length - headLength, 16);
    mesh.append(makeCone(osg::Vec3(0.0f, 0.0f, length - headLength), headRadius, headLength, 16));
    return mesh;
}

Mesh makeRoof(float width, float depth, float eaves, float ridge)
{
    const float x = width * 0.5f;
    const float y = depth * 0.5f;
    Mesh mesh;
    addQuad(mesh, osg::Vec3(-x, -y, eaves), osg::Vec3(x, -y, eaves), osg::Vec3(x, 0.0f, ridge),
            osg::Vec3(-x, 0.0f, ridge));
    addQuad(mesh, osg::Vec3(x, y, eaves), osg::Vec3(-x, y, eaves), osg::Vec3(-x, 0.0f, ridge),
            osg::Vec3(x, 0.0f, ridge));
    addTriangle(mesh, osg::Vec3(x, -y, eaves), osg::Vec3(x, y, eaves), osg::Vec3(x, 0.0f, ridge));
    addTriangle(mesh, osg::Vec3(-x, y, eaves), osg::Vec3(-x, -y, eaves), osg::Vec3(-x, 0.0f, ridge));
    return mesh;
}

osg::ref_ptr<osg::Geode> makeGeode(const std::string& name, const Mesh& mesh, const osg::Vec4& colour,
                                   bool lit)
{
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setName(name);
    geometry->setVertexArray(new osg::Vec3Array(mesh.vertices.begin(), mesh.vertices.end()));
    geometry->setNormalArray(new osg::Vec3Array(mesh.normals.begin(), mesh.normals.end()),
                             osg::Array::BIND_PER_VERTEX);
    geometry->addPrimitiveSet(
        new osg::DrawElementsUInt(GL_TRIANGLES, mesh.indices.begin(), mesh.indices.end()));

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(geometry.get());
    osg::StateSet* state = geode->getOrCreateStateSet();
    if (lit)
    {
        osg::ref_ptr<osg::Material> material = new osg::Material;
        material->setDiffuse(osg::Material::FRONT_AND_BACK, colour);
        material->setAmbient(osg::Material::FRONT_AND_BACK,
                             osg::Vec4(colour.r() * 0.4f, colour.g() * 0.4f, colour.b() * 0.4f, colour.a()));
        material->setSpecular(osg::Material::FRONT_AND_BACK, osg::Vec4(0.3f, 0.3f, 0.3f, 1.0f));
        material->setShininess(osg::Material::FRONT_AND_BACK, 32.0f);
        state->setAttributeAndModes(material.get(), osg::StateAttribute::ON);
    }
    else
    {
        osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(1);
        (*colours)[0] = colour;
        geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
        state->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    }
    return geode;
}

} // namespace DataGen
} // namespace Novaro
