#include "SampleModels.h"

#include "Shapes.h"

#include <assimp/Exporter.hpp>
#include <assimp/scene.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/WriteFile>

#include <zip.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace Novaro
{
namespace DataGen
{

namespace
{

bool writeModel(const osg::Node& node, const std::string& path)
{
    if (osgDB::writeNodeFile(node, path))
    {
        osg::notify(osg::NOTICE) << "Written " << path << std::endl;
        return true;
    }
    osg::notify(osg::FATAL) << "Cannot write " << path << std::endl;
    return false;
}

// The archive layout SketchUp writes: the COLLADA model under models/ and a KML document that
// names it.
bool writeKmz(const std::string& path, const std::string& daeData)
{
    static const std::string kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                   "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
                                   "  <Folder>\n"
                                   "    <name>house</name>\n"
                                   "    <Placemark>\n"
                                   "      <name>house</name>\n"
                                   "      <Model>\n"
                                   "        <altitudeMode>relativeToGround</altitudeMode>\n"
                                   "        <Link><href>models/house.dae</href></Link>\n"
                                   "      </Model>\n"
                                   "    </Placemark>\n"
                                   "  </Folder>\n"
                                   "</kml>\n";
    std::remove(path.c_str());
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr)
        return false;
    bool ok = zip_dir_add(archive, "models", ZIP_FL_ENC_UTF_8) >= 0;
    for (const auto& entry : {std::make_pair(std::string("models/house.dae"), &daeData),
                              std::make_pair(std::string("doc.kml"), &kml)})
    {
        if (!ok)
            break;
        zip_source_t* source = zip_source_buffer(archive, entry.second->data(), entry.second->size(), 0);
        ok = source != nullptr && zip_file_add(archive, entry.first.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0;
        if (!ok && source != nullptr)
            zip_source_free(source);
    }
    if (!ok)
    {
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

struct Part
{
    std::string name;
    Mesh mesh;
    osg::Vec4 colour;
};

aiMesh* toAssimpMesh(const Part& part, unsigned int materialIndex)
{
    const Mesh& mesh = part.mesh;
    aiMesh* target = new aiMesh;
    target->mName = part.name + "Mesh";
    target->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    target->mMaterialIndex = materialIndex;
    target->mNumVertices = static_cast<unsigned int>(mesh.vertices.size());
    target->mVertices = new aiVector3D[mesh.vertices.size()];
    target->mNormals = new aiVector3D[mesh.normals.size()];
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        target->mVertices[i] = aiVector3D(mesh.vertices[i].x(), mesh.vertices[i].y(), mesh.vertices[i].z());
        target->mNormals[i] = aiVector3D(mesh.normals[i].x(), mesh.normals[i].y(), mesh.normals[i].z());
    }
    target->mNumFaces = static_cast<unsigned int>(mesh.indices.size() / 3);
    target->mFaces = new aiFace[target->mNumFaces];
    for (unsigned int f = 0; f < target->mNumFaces; ++f)
    {
        target->mFaces[f].mNumIndices = 3;
        target->mFaces[f].mIndices =
            new unsigned int[3]{mesh.indices[3 * f], mesh.indices[3 * f + 1], mesh.indices[3 * f + 2]};
    }
    return target;
}

aiMaterial* toAssimpMaterial(const Part& part)
{
    aiMaterial* material = new aiMaterial;
    const aiString name(part.name + "Material");
    material->AddProperty(&name, AI_MATKEY_NAME);
    const aiColor4D diffuse(part.colour.r(), part.colour.g(), part.colour.b(), part.colour.a());
    material->AddProperty(&diffuse, 1, AI_MATKEY_COLOR_DIFFUSE);
    material->AddProperty(&diffuse, 1, AI_MATKEY_BASE_COLOR);
    const aiColor4D ambient(part.colour.r() * 0.4f, part.colour.g() * 0.4f, part.colour.b() * 0.4f, 1.0f);
    material->AddProperty(&ambient, 1, AI_MATKEY_COLOR_AMBIENT);
    return material;
}

// An Assimp scene with one node per part under a root named 'name'. The data is Z-up, as the
// player's markers are; the root carries the turn that Assimp's COLLADA writer recognises as
// "Z_UP", so that the file says so instead of turning the model.
std::unique_ptr<aiScene> makeAssimpScene(const std::string& name, const std::vector<Part>& parts,
                                         bool zUpRoot)
{
    std::unique_ptr<aiScene> scene(new aiScene);
    scene->mRootNode = new aiNode(name);
    if (zUpRoot)
        scene->mRootNode->mTransformation = aiMatrix4x4(aiMatrix3x3(1, 0, 0, 0, 0, 1, 0, -1, 0));
    const unsigned int count = static_cast<unsigned int>(parts.size());
    scene->mNumMeshes = count;
    scene->mMeshes = new aiMesh*[count];
    scene->mNumMaterials = count;
    scene->mMaterials = new aiMaterial*[count];
    scene->mRootNode->mNumChildren = count;
    scene->mRootNode->mChildren = new aiNode*[count];
    for (unsigned int i = 0; i < count; ++i)
    {
        scene->mMeshes[i] = toAssimpMesh(parts[i], i);
        scene->mMaterials[i] = toAssimpMaterial(parts[i]);
        aiNode* node = new aiNode(parts[i].name);
        node->mParent = scene->mRootNode;
        node->mNumMeshes = 1;
        node->mMeshes = new unsigned int[1]{i};
        scene->mRootNode->mChildren[i] = node;
    }
    return scene;
}

bool writeHouseKmz(const std::string& folder)
{
    const std::vector<Part> parts = {
        {"Walls", makeBox(osg::Vec3(0.0f, 0.0f, 15.0f), osg::Vec3(60.0f, 40.0f, 30.0f)),
         osg::Vec4(0.93f, 0.86f, 0.68f, 1.0f)},
        {"Roof", makeRoof(64.0f, 44.0f, 30.0f, 50.0f), osg::Vec4(0.65f, 0.15f, 0.1f, 1.0f)},
        {"Door", makeBox(osg::Vec3(0.0f, -20.5f, 9.0f), osg::Vec3(10.0f, 1.0f, 18.0f)),
         osg::Vec4(0.35f, 0.2f, 0.1f, 1.0f)}};
    const std::unique_ptr<aiScene> scene = makeAssimpScene("House", parts, true);
    const std::string path = osgDB::concatPaths(folder, "house.kmz");
    Assimp::Exporter exporter;
    const aiExportDataBlob* blob = exporter.ExportToBlob(scene.get(), "collada");
    if (blob == nullptr || !writeKmz(path, std::string(static_cast<const char*>(blob->data), blob->size)))
    {
        osg::notify(osg::FATAL) << "Cannot write " << path << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "Written " << path << std::endl;
    return true;
}

bool writeArrowGlb(const std::string& folder)
{
    const std::string path = osgDB::concatPaths(folder, "arrow.glb");
    const std::unique_ptr<aiScene> scene = makeAssimpScene(
        "Arrow", {{"Arrow", makeArrow(70.0f, 4.0f, 12.0f, 22.0f), osg::Vec4(0.1f, 0.8f, 0.9f, 1.0f)}}, false);
    Assimp::Exporter exporter;
    if (exporter.Export(scene.get(), "glb2", path) != AI_SUCCESS)
    {
        osg::notify(osg::FATAL) << "Cannot write " << path << ": " << exporter.GetErrorString() << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "Written " << path << std::endl;
    return true;
}

} // namespace

bool writeSampleModels(const std::string& folder)
{
    if (!osgDB::makeDirectory(folder))
    {
        osg::notify(osg::FATAL) << "Cannot create " << folder << std::endl;
        return false;
    }
    bool ok =
        writeModel(*makeGeode("Cube", makeBox(osg::Vec3(0.0f, 0.0f, 30.0f), osg::Vec3(60.0f, 60.0f, 60.0f)),
                              osg::Vec4(0.2f, 0.45f, 0.95f, 1.0f), true),
                   osgDB::concatPaths(folder, "cube.osgb"));
    ok = writeModel(*makeGeode("Sphere", makeSphere(osg::Vec3(0.0f, 0.0f, 30.0f), 30.0f),
                               osg::Vec4(0.2f, 0.85f, 0.3f, 1.0f), true),
                    osgDB::concatPaths(folder, "sphere.osgb")) &&
         ok;
    ok = writeModel(*makeGeode("Cone", makeCone(osg::Vec3(), 30.0f, 60.0f, 48),
                               osg::Vec4(0.95f, 0.25f, 0.2f, 1.0f), true),
                    osgDB::concatPaths(folder, "cone.osgb")) &&
         ok;
    // A thin slab whose top is the marker plane: the surface the models' shadows fall on.
    ok = writeModel(*makeGeode("Ground",
                               makeBox(osg::Vec3(0.0f, 0.0f, -1.0f), osg::Vec3(160.0f, 160.0f, 2.0f)),
                               osg::Vec4(0.85f, 0.85f, 0.8f, 1.0f), true),
                    osgDB::concatPaths(folder, "ground.osgb")) &&
         ok;
    ok = writeHouseKmz(folder) && ok;
    ok = writeArrowGlb(folder) && ok;
    return ok;
}

} // namespace DataGen
} // namespace Novaro
