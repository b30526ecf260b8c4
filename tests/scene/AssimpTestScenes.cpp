#include "AssimpTestScenes.h"

#include <assimp/Exporter.hpp>
#include <assimp/scene.h>

#include <cmath>
#include <cstring>

namespace AssimpTestScenes
{

namespace
{

aiNode* addNode(aiNode* parent, const char* name, const aiMatrix4x4& transform)
{
    aiNode* node = new aiNode(name);
    node->mTransformation = transform;
    if (parent != nullptr)
        parent->addChildren(1, &node);
    return node;
}

aiMatrix4x4 translation(float x, float y, float z)
{
    aiMatrix4x4 m;
    aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
    return m;
}

template <typename T> T* copyArray(const std::vector<T>& values)
{
    T* array = new T[values.size()];
    std::copy(values.begin(), values.end(), array);
    return array;
}

void attachMesh(aiNode* node, unsigned int meshIndex)
{
    node->mNumMeshes = 1;
    node->mMeshes = new unsigned int[1]{meshIndex};
}

aiMesh* makeMesh(const char* name, const std::vector<aiVector3D>& positions,
                 const std::vector<std::vector<unsigned int>>& faces, unsigned int material)
{
    aiMesh* mesh = new aiMesh;
    mesh->mName = name;
    mesh->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    mesh->mMaterialIndex = material;
    mesh->mNumVertices = static_cast<unsigned int>(positions.size());
    mesh->mVertices = copyArray(positions);
    mesh->mNormals = copyArray(std::vector<aiVector3D>(positions.size(), aiVector3D(0, 0, 1)));
    mesh->mNumFaces = static_cast<unsigned int>(faces.size());
    mesh->mFaces = new aiFace[faces.size()];
    for (size_t f = 0; f < faces.size(); ++f)
    {
        mesh->mFaces[f].mNumIndices = static_cast<unsigned int>(faces[f].size());
        mesh->mFaces[f].mIndices = copyArray(faces[f]);
    }
    return mesh;
}

aiMaterial* makeMaterial(const char* name, const aiColor4D& diffuse, const std::string& texture)
{
    aiMaterial* material = new aiMaterial;
    aiString materialName(name);
    material->AddProperty(&materialName, AI_MATKEY_NAME);
    // Transparency as FBX files carry it: an opacity term beside an opaque colour.
    const aiColor4D colour(diffuse.r, diffuse.g, diffuse.b, 1.0f);
    material->AddProperty(&colour, 1, AI_MATKEY_COLOR_DIFFUSE);
    material->AddProperty(&colour, 1, AI_MATKEY_BASE_COLOR);
    const float opacity = diffuse.a;
    material->AddProperty(&opacity, 1, AI_MATKEY_OPACITY);
    if (!texture.empty())
    {
        aiString path(texture);
        material->AddProperty(&path, AI_MATKEY_TEXTURE_DIFFUSE(0));
        material->AddProperty(&path, AI_MATKEY_TEXTURE(aiTextureType_BASE_COLOR, 0));
    }
    return material;
}

// A one-second animation of the node from its start pose to the end position and a quarter turn
// about the axis, with the scale kept.
void addQuarterTurn(aiScene& scene, const char* name, const char* node, const aiVector3D& start,
                    const aiVector3D& end, const aiVector3D& axis)
{
    aiNodeAnim* channel = new aiNodeAnim;
    channel->mNodeName = node;
    channel->mNumPositionKeys = 2;
    channel->mPositionKeys = new aiVectorKey[2]{aiVectorKey(0.0, start), aiVectorKey(1.0, end)};
    channel->mNumRotationKeys = 2;
    channel->mRotationKeys =
        new aiQuatKey[2]{aiQuatKey(0.0, aiQuaternion(1, 0, 0, 0)),
                         aiQuatKey(1.0, aiQuaternion(axis, static_cast<float>(M_PI / 2)))};
    channel->mNumScalingKeys = 2;
    channel->mScalingKeys =
        new aiVectorKey[2]{aiVectorKey(0.0, aiVector3D(1, 1, 1)), aiVectorKey(1.0, aiVector3D(1, 1, 1))};
    aiAnimation* animation = new aiAnimation;
    animation->mName = name;
    animation->mDuration = 1.0;
    animation->mTicksPerSecond = 1.0;
    animation->mNumChannels = 1;
    animation->mChannels = new aiNodeAnim* [1] { channel };
    scene.mNumAnimations = 1;
    scene.mAnimations = new aiAnimation* [1] { animation };
}

} // namespace

std::unique_ptr<aiScene> buildAnimatedScene(const std::string& texture, const std::string& embeddedPng)
{
    std::unique_ptr<aiScene> scene(new aiScene);
    scene->mRootNode = addNode(nullptr, "Root", aiMatrix4x4());
    aiNode* base = addNode(scene->mRootNode, "Base", translation(10, 0, 0));
    aiNode* spinner = addNode(base, "Spinner", translation(0, 5, 0));
    attachMesh(base, 0);
    attachMesh(spinner, 1);

    aiMesh* quad =
        makeMesh("BaseMesh", {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}}, {{0, 1, 2}, {0, 2, 3}}, 0);
    quad->mNumUVComponents[0] = 2;
    quad->mTextureCoords[0] = copyArray<aiVector3D>({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}});
    quad->mColors[0] = copyArray<aiColor4D>({{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 1, 1}});
    aiMesh* triangle = makeMesh("SpinnerMesh", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}}, 1);
    scene->mNumMeshes = 2;
    scene->mMeshes = new aiMesh* [2] { quad, triangle };

    scene->mNumMaterials = 2;
    scene->mMaterials = new aiMaterial* [2]
    {
        makeMaterial("Red", aiColor4D(1, 0, 0, 1), texture),
            makeMaterial("Glass", aiColor4D(0.2f, 0.4f, 1.0f, 0.5f), "")
    };

    if (!embeddedPng.empty())
    {
        aiTexture* png = new aiTexture;
        png->mWidth = static_cast<unsigned int>(embeddedPng.size());
        png->mHeight = 0;
        std::strcpy(png->achFormatHint, "png");
        png->pcData = reinterpret_cast<aiTexel*>(new unsigned char[embeddedPng.size()]);
        std::memcpy(png->pcData, embeddedPng.data(), embeddedPng.size());
        scene->mNumTextures = 1;
        scene->mTextures = new aiTexture* [1] { png };
    }

    addQuarterTurn(*scene, "Spin", "Spinner", aiVector3D(0, 5, 0), aiVector3D(0, 5, 2), aiVector3D(0, 0, 1));
    return scene;
}

std::unique_ptr<aiScene> buildSkinnedScene()
{
    std::unique_ptr<aiScene> scene(new aiScene);
    scene->mRootNode = addNode(nullptr, "Root", aiMatrix4x4());
    aiNode* armature = addNode(scene->mRootNode, "Armature", aiMatrix4x4());
    aiNode* bone1 = addNode(armature, "Bone1", aiMatrix4x4());
    addNode(bone1, "Bone2", translation(0, 0, 1));
    aiNode* skin = addNode(scene->mRootNode, "Skin", translation(2, 0, 0));
    attachMesh(skin, 0);

    aiMesh* strip =
        makeMesh("SkinMesh", {{0, 0, 0}, {1, 0, 0}, {1, 0, 2}, {0, 0, 2}}, {{0, 1, 2}, {0, 2, 3}}, 0);
    aiBone* first = new aiBone;
    first->mName = "Bone1";
    first->mOffsetMatrix = translation(2, 0, 0); // mesh space to Bone1's bind space
    first->mNumWeights = 2;
    first->mWeights = new aiVertexWeight[2]{aiVertexWeight(0, 1.0f), aiVertexWeight(1, 1.0f)};
    aiBone* second = new aiBone;
    second->mName = "Bone2";
    second->mOffsetMatrix = translation(2, 0, -1); // mesh space to Bone2's bind space
    second->mNumWeights = 2;
    second->mWeights = new aiVertexWeight[2]{aiVertexWeight(2, 1.0f), aiVertexWeight(3, 1.0f)};
    strip->mNumBones = 2;
    strip->mBones = new aiBone* [2] { first, second };
    scene->mNumMeshes = 1;
    scene->mMeshes = new aiMesh* [1] { strip };
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { makeMaterial("Skin", aiColor4D(0.8f, 0.8f, 0.8f, 1), "") };

    addQuarterTurn(*scene, "Bend", "Bone2", aiVector3D(0, 0, 1), aiVector3D(0, 0, 1), aiVector3D(1, 0, 0));
    return scene;
}

std::string exportScene(const aiScene& scene, const std::string& format, const std::string& path)
{
    Assimp::Exporter exporter;
    if (exporter.Export(&scene, format, path) != AI_SUCCESS)
        return exporter.GetErrorString();
    return std::string();
}

} // namespace AssimpTestScenes
