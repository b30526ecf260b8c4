#include "SampleModels.h"

#include "Shapes.h"

#include <assimp/Exporter.hpp>
#include <assimp/scene.h>

#include <osg/AnimationPath>
#include <osg/MatrixTransform>
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

// An Assimp scene with one node per part under a root named 'name'. The parts are made Z-up, as
// the player's markers are; zUpRoot gives the root the turn that Assimp's COLLADA writer
// recognises as "Z_UP", so that the file says so instead of turning the model. glTF models take
// their parts through toGltfFrame first instead.
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

bool writeGlb(const aiScene& scene, const std::string& path)
{
    Assimp::Exporter exporter;
    if (exporter.Export(&scene, "glb2", path) != AI_SUCCESS)
    {
        osg::notify(osg::FATAL) << "Cannot write " << path << ": " << exporter.GetErrorString() << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "Written " << path << std::endl;
    return true;
}

// glTF's own frame: Y-up, in metres. The model reader turns and scales such files back onto the
// markers' Z-up millimetres, so the shapes below are drawn in those and written in glTF's.
const float gltfMetresPerUnit = 0.001f;
const osg::Matrix toGltfFrame =
    osg::Matrix::rotate(-osg::PI_2, osg::X_AXIS) * osg::Matrix::scale(osg::Vec3(1, 1, 1) * gltfMetresPerUnit);

aiVector3D toGltf(const osg::Vec3& point)
{
    const osg::Vec3 p = point * toGltfFrame;
    return aiVector3D(p.x(), p.y(), p.z());
}

bool writeArrowGlb(const std::string& folder)
{
    const std::string path = osgDB::concatPaths(folder, "arrow.glb");
    const std::unique_ptr<aiScene> scene =
        makeAssimpScene("Arrow",
                        {{"Arrow", makeArrow(70.0f, 4.0f, 12.0f, 22.0f).transformed(toGltfFrame),
                          osg::Vec4(0.1f, 0.8f, 0.9f, 1.0f)}},
                        false);
    return writeGlb(*scene, path);
}

// The cube on a transform named "spin" that turns it once about its axis every four seconds.
osg::ref_ptr<osg::Node> makeSpinningCube()
{
    osg::ref_ptr<osg::AnimationPath> path = new osg::AnimationPath;
    path->setLoopMode(osg::AnimationPath::LOOP);
    for (int quarter = 0; quarter <= 4; ++quarter)
        path->insert(quarter, osg::AnimationPath::ControlPoint(osg::Vec3d(),
                                                               osg::Quat(quarter * osg::PI_2, osg::Z_AXIS)));
    osg::ref_ptr<osg::MatrixTransform> spin = new osg::MatrixTransform;
    spin->setName("spin");
    spin->setUpdateCallback(new osg::AnimationPathCallback(path.get()));
    spin->addChild(makeGeode("Cube", makeBox(osg::Vec3(0.0f, 0.0f, 30.0f), osg::Vec3(60.0f, 60.0f, 60.0f)),
                             osg::Vec4(0.2f, 0.45f, 0.95f, 1.0f), true));
    return spin;
}

aiNode* addAssimpNode(aiNode* parent, const char* name, const aiVector3D& position)
{
    aiNode* node = new aiNode(name);
    aiMatrix4x4::Translation(position, node->mTransformation);
    node->mParent = parent;
    aiNode** children = new aiNode*[parent->mNumChildren + 1];
    std::copy(parent->mChildren, parent->mChildren + parent->mNumChildren, children);
    children[parent->mNumChildren++] = node;
    delete[] parent->mChildren;
    parent->mChildren = children;
    return node;
}

// Every vertex of the mesh (in glTF's frame) below 'height' (in the markers' units) belongs to the
// first bone, the others to the second.
void skinToTwoBones(aiMesh& mesh, float height, const char* lower, const char* upper)
{
    std::vector<aiVertexWeight> lowerWeights, upperWeights;
    for (unsigned int v = 0; v < mesh.mNumVertices; ++v)
        (mesh.mVertices[v].y < toGltf(osg::Vec3(0.0f, 0.0f, height)).y ? lowerWeights : upperWeights)
            .push_back(aiVertexWeight(v, 1.0f));
    auto makeBone = [](const char* name, const std::vector<aiVertexWeight>& weights, float z)
    {
        aiBone* bone = new aiBone;
        bone->mName = name;
        aiMatrix4x4::Translation(-toGltf(osg::Vec3(0.0f, 0.0f, z)),
                                 bone->mOffsetMatrix); // mesh to bone space
        bone->mNumWeights = static_cast<unsigned int>(weights.size());
        bone->mWeights = new aiVertexWeight[weights.size()];
        std::copy(weights.begin(), weights.end(), bone->mWeights);
        return bone;
    };
    mesh.mNumBones = 2;
    mesh.mBones =
        new aiBone* [2] { makeBone(lower, lowerWeights, 0.0f), makeBone(upper, upperWeights, height) };
}

// "walk": two seconds, looped by the scene: the figure goes 40 units along X and back while its
// upper body sways 20 degrees to either side.
aiAnimation* makeWalk()
{
    const double times[] = {0.0, 0.5, 1.0, 1.5, 2.0};
    const float forward[] = {0.0f, 20.0f, 40.0f, 20.0f, 0.0f};
    const float sway[] = {0.0f, 20.0f, 0.0f, -20.0f, 0.0f};
    aiNodeAnim* hips = new aiNodeAnim;
    hips->mNodeName = "Hips";
    hips->mNumPositionKeys = 5;
    hips->mPositionKeys = new aiVectorKey[5];
    aiNodeAnim* chest = new aiNodeAnim;
    chest->mNodeName = "Chest";
    chest->mNumRotationKeys = 5;
    chest->mRotationKeys = new aiQuatKey[5];
    for (int key = 0; key < 5; ++key)
    {
        hips->mPositionKeys[key] = aiVectorKey(times[key], toGltf(osg::Vec3(forward[key], 0.0f, 0.0f)));
        chest->mRotationKeys[key] =
            aiQuatKey(times[key], aiQuaternion(aiVector3D(1.0f, 0.0f, 0.0f),
                                               sway[key] * static_cast<float>(M_PI) / 180.0f));
    }
    aiAnimation* walk = new aiAnimation;
    walk->mName = "walk";
    walk->mDuration = 2.0;
    walk->mTicksPerSecond = 1.0;
    walk->mNumChannels = 2;
    walk->mChannels = new aiNodeAnim* [2] { hips, chest };
    return walk;
}

// A skinned figure (legs and body in one mesh, a head on top) with a skeleton of two bones, 67 mm
// tall, written Y-up in metres as glTF wants it.
bool writeWalkerGlb(const std::string& folder)
{
    const std::string path = osgDB::concatPaths(folder, "walker.glb");
    Mesh body = makeBox(osg::Vec3(0.0f, 0.0f, 25.0f), osg::Vec3(16.0f, 10.0f, 50.0f));
    body.append(makeSphere(osg::Vec3(0.0f, 0.0f, 58.0f), 9.0f, 12, 16));
    std::unique_ptr<aiScene> scene = makeAssimpScene(
        "Walker", {{"Body", body.transformed(toGltfFrame), osg::Vec4(0.95f, 0.65f, 0.1f, 1.0f)}}, false);
    aiNode* armature = addAssimpNode(scene->mRootNode, "Armature", aiVector3D());
    aiNode* hips = addAssimpNode(armature, "Hips", aiVector3D());
    addAssimpNode(hips, "Chest", toGltf(osg::Vec3(0.0f, 0.0f, 25.0f)));
    skinToTwoBones(*scene->mMeshes[0], 25.0f, "Hips", "Chest");
    scene->mNumAnimations = 1;
    scene->mAnimations = new aiAnimation* [1] { makeWalk() };
    return writeGlb(*scene, path);
}

} // namespace

bool writeSampleModels(const std::string& folder)
{
    if (!osgDB::makeDirectory(folder))
    {
        osg::notify(osg::FATAL) << "Cannot create " << folder << std::endl;
        return false;
    }
    bool ok = writeModel(*makeSpinningCube(), osgDB::concatPaths(folder, "cube.osgb"));
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
    ok = writeWalkerGlb(folder) && ok;
    return ok;
}

} // namespace DataGen
} // namespace Novaro
