#include "AssimpSceneConverter.h"

#include "AnimatedReach.h"

#include <assimp/scene.h>

#include <osg/Geode>
#include <osg/Light>
#include <osg/LightSource>
#include <osgAnimation/Animation>
#include <osgAnimation/Bone>
#include <osgAnimation/Channel>
#include <osgAnimation/RigGeometry>
#include <osgAnimation/Skeleton>
#include <osgAnimation/StackedMatrixElement>
#include <osgAnimation/StackedQuaternionElement>
#include <osgAnimation/StackedScaleElement>
#include <osgAnimation/StackedTranslateElement>
#include <osgAnimation/UpdateBone>
#include <osgAnimation/UpdateMatrixTransform>
#include <osgAnimation/VertexInfluence>

#include <algorithm>
#include <cmath>

namespace Novaro
{

namespace
{

// Assimp matrices act on column vectors, OpenSceneGraph's on row vectors: transpose.
osg::Matrix toMatrix(const aiMatrix4x4& m)
{
    return osg::Matrix(m.a1, m.b1, m.c1, m.d1, m.a2, m.b2, m.c2, m.d2, m.a3, m.b3, m.c3, m.d3, m.a4, m.b4,
                       m.c4, m.d4);
}

osg::Vec3 toVec3(const aiVector3D& v)
{
    return osg::Vec3(v.x, v.y, v.z);
}

osg::Quat toQuat(const aiQuaternion& q)
{
    return osg::Quat(q.x, q.y, q.z, q.w);
}

osg::Vec4 toVec4(const aiColor3D& c)
{
    return osg::Vec4(c.r, c.g, c.b, 1.0f);
}

bool isFinite(const aiVector3D& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool isFinite(const aiQuaternion& q)
{
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

bool isFinite(const aiMatrix4x4& m)
{
    const ai_real* values = &m.a1;
    return std::all_of(values, values + 16, [](ai_real value) { return std::isfinite(value); });
}

osg::Vec3 toValue(const aiVector3D& v)
{
    return toVec3(v);
}

osg::Quat toValue(const aiQuaternion& q)
{
    return toQuat(q);
}

std::string quoted(const aiString& name)
{
    return std::string("'") + name.C_Str() + "'";
}

// An animation's name, made up from its index where the file gives none.
std::string animationName(const aiAnimation& animation, unsigned int index)
{
    const std::string name = animation.mName.C_Str();
    return name.empty() ? "Animation" + std::to_string(index) : name;
}

// Animated nodes get translate/rotate/scale elements the channels drive; the others keep their
// whole matrix (shear included) in one element.
void fillStackedTransforms(osgAnimation::StackedTransform& stack, const osg::Matrix& matrix, bool animated)
{
    if (!animated)
    {
        stack.push_back(new osgAnimation::StackedMatrixElement("matrix", matrix));
        return;
    }
    osg::Vec3d translation;
    osg::Quat rotation;
    osg::Vec3d scale;
    osg::Quat scaleOrientation;
    matrix.decompose(translation, rotation, scale, scaleOrientation);
    stack.push_back(new osgAnimation::StackedTranslateElement("translate", translation));
    stack.push_back(new osgAnimation::StackedQuaternionElement("quaternion", rotation));
    stack.push_back(new osgAnimation::StackedScaleElement("scale", scale));
}

} // namespace

AssimpSceneConverter::AssimpSceneConverter(const aiScene& scene, const std::string& modelDirectory,
                                           const osgDB::Options* options)
    : _scene(scene), _materials(scene, modelDirectory, options)
{
}

osg::ref_ptr<osg::Node> AssimpSceneConverter::convert()
{
    if (_scene.mRootNode == nullptr)
        return nullptr;
    // The node walks below recurse once per level.
    const size_t depth = hierarchyDepth(*_scene.mRootNode);
    if (depth > maximumNodeDepth)
    {
        _invalidData.insert("the whole model (node hierarchy deeper than " +
                            std::to_string(maximumNodeDepth) + " levels)");
        return nullptr;
    }

    collectAnimatedNodes();
    keepAnimationsWithinReach();
    collectGlobalMatrices(*_scene.mRootNode, osg::Matrix::identity());
    collectBones();
    for (unsigned int i = 0; i < _scene.mNumLights; ++i)
        if (_scene.mLights[i] != nullptr)
            _lights[_scene.mLights[i]->mName.C_Str()] = _scene.mLights[i];
    if (_scene.mNumCameras > 0)
        _droppedFeatures.insert("cameras");

    osg::ref_ptr<osg::MatrixTransform> hierarchy = convertNode(*_scene.mRootNode);
    // A root matrix that is not finite leaves nothing to show.
    if (!hierarchy.valid())
        return nullptr;
    osg::ref_ptr<osgAnimation::BasicAnimationManager> manager = convertAnimations();
    if (!_skinned && !manager.valid())
        return hierarchy;

    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->setName(hierarchy->getName());
    if (_skinned)
    {
        osg::ref_ptr<osgAnimation::Skeleton> skeleton = new osgAnimation::Skeleton;
        skeleton->setDefaultUpdateCallback();
        skeleton->addChild(hierarchy.get());
        root->addChild(skeleton.get());
    }
    else
    {
        root->addChild(hierarchy.get());
    }
    if (manager.valid())
        root->setUpdateCallback(manager.get());
    return root;
}

size_t AssimpSceneConverter::hierarchyDepth(const aiNode& root)
{
    size_t deepest = 0;
    std::vector<std::pair<const aiNode*, size_t>> pending{{&root, 1}};
    while (!pending.empty())
    {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        if (depth > maximumNodeDepth)
            break;
        for (unsigned int i = 0; i < node->mNumChildren; ++i)
            if (node->mChildren[i] != nullptr)
                pending.emplace_back(node->mChildren[i], depth + 1);
    }
    return deepest;
}

void AssimpSceneConverter::collectAnimatedNodes()
{
    for (unsigned int a = 0; a < _scene.mNumAnimations; ++a)
    {
        const aiAnimation* animation = _scene.mAnimations[a];
        if (animation == nullptr)
            continue;
        for (unsigned int c = 0; c < animation->mNumChannels; ++c)
        {
            const aiNodeAnim* channel = animation->mChannels[c];
            if (channel != nullptr && (channel->mNumPositionKeys > 0 || channel->mNumRotationKeys > 0 ||
                                       channel->mNumScalingKeys > 0))
                _animatedNodes.insert(channel->mNodeName.C_Str());
        }
        if (animation->mNumMeshChannels > 0 || animation->mNumMorphMeshChannels > 0)
            _droppedFeatures.insert("mesh and morph-target animations");
    }
}

// The player's bounds are single precision: an animation that may carry any part of the model
// past largestAnimatedReach is dropped, the others kept; if those still go too far together, or
// there are too many to look at one by one, none is kept.
void AssimpSceneConverter::keepAnimationsWithinReach()
{
    _keptAnimations.assign(_scene.mNumAnimations, true);
    if (_scene.mNumAnimations == 0)
        return;
    const AnimatedReach reach(_scene);
    const auto withinReach = [&](const std::vector<bool>& playing)
    { return reach.reach(playing) <= largestAnimatedReach; };
    if (withinReach(_keptAnimations))
        return;
    // Each look walks the whole hierarchy: past a hundred animations, all go at once.
    const unsigned int mostAnimationsLookedAtAlone = 100;
    for (unsigned int a = 0; a < _scene.mNumAnimations && a < mostAnimationsLookedAtAlone; ++a)
    {
        std::vector<bool> alone(_scene.mNumAnimations, false);
        alone[a] = true;
        _keptAnimations[a] = withinReach(alone);
    }
    if (_scene.mNumAnimations > mostAnimationsLookedAtAlone || !withinReach(_keptAnimations))
    {
        _keptAnimations.assign(_scene.mNumAnimations, false);
        _invalidData.insert("all " + std::to_string(_scene.mNumAnimations) +
                            " animations (together they may carry the model beyond single precision)");
        return;
    }
    for (unsigned int a = 0; a < _scene.mNumAnimations; ++a)
        if (!_keptAnimations[a] && _scene.mAnimations[a] != nullptr)
            _invalidData.insert("animation '" + animationName(*_scene.mAnimations[a], a) + "'" +
                                " (it may carry the model beyond single precision)");
}

void AssimpSceneConverter::collectGlobalMatrices(const aiNode& node, const osg::Matrix& parentGlobal)
{
    if (!isFinite(node.mTransformation))
        return;
    // Row-vector convention: the local matrix applies first, then the parent's.
    const osg::Matrix global = toMatrix(node.mTransformation) * parentGlobal;
    _globalMatrices[&node] = global;
    _nodeNames.insert(node.mName.C_Str());
    for (unsigned int i = 0; i < node.mNumMeshes; ++i)
        _meshNodes.emplace(node.mMeshes[i], &node);
    for (unsigned int i = 0; i < node.mNumChildren; ++i)
        if (node.mChildren[i] != nullptr)
            collectGlobalMatrices(*node.mChildren[i], global);
}

void AssimpSceneConverter::collectBones()
{
    for (unsigned int m = 0; m < _scene.mNumMeshes; ++m)
    {
        const aiMesh* mesh = _scene.mMeshes[m];
        if (mesh != nullptr && mesh->mNumAnimMeshes > 0)
            _droppedFeatures.insert("morph targets");
        if (mesh == nullptr || mesh->mNumBones == 0)
            continue;
        _skinned = true;
        osg::Matrix meshGlobal;
        auto node = _meshNodes.find(m);
        if (node != _meshNodes.end())
            meshGlobal = _globalMatrices[node->second];
        const osg::Matrix inverseMeshGlobal = osg::Matrix::inverse(meshGlobal);
        for (unsigned int b = 0; b < mesh->mNumBones; ++b)
        {
            const aiBone* bone = mesh->mBones[b];
            if (bone == nullptr)
                continue;
            if (!isPlausibleBindPose(bone->mOffsetMatrix))
            {
                _invalidData.insert("the bind pose of bone " + quoted(bone->mName));
                continue;
            }
            // The offset matrix takes mesh space to bone space in the bind pose; the skeleton's
            // space is the model's root, where the mesh sits at its global matrix.
            _inverseBindMatrices.emplace(bone->mName.C_Str(),
                                         inverseMeshGlobal * toMatrix(bone->mOffsetMatrix));
        }
    }

    // A bone's place in the skeleton is computed from its parent bone, so every ancestor of a
    // bone is a bone too; the other nodes stay plain transforms.
    for (const auto& entry : _globalMatrices)
    {
        if (_inverseBindMatrices.count(entry.first->mName.C_Str()) == 0)
            continue;
        for (const aiNode* node = entry.first; node != nullptr; node = node->mParent)
            _boneNodes.insert(node);
    }
}

osg::ref_ptr<osg::MatrixTransform> AssimpSceneConverter::convertNode(const aiNode& node)
{
    if (!isFinite(node.mTransformation))
    {
        _invalidData.insert("node " + quoted(node.mName) + " and its children (matrix not finite)");
        return nullptr;
    }
    const std::string name = node.mName.C_Str();
    const osg::Matrix matrix = toMatrix(node.mTransformation);
    const bool animated = _animatedNodes.count(name) != 0;

    osg::ref_ptr<osg::MatrixTransform> transform;
    if (_boneNodes.count(&node) != 0)
    {
        osg::ref_ptr<osgAnimation::Bone> bone = new osgAnimation::Bone(name);
        auto inverseBind = _inverseBindMatrices.find(name);
        if (inverseBind != _inverseBindMatrices.end())
            bone->setInvBindMatrixInSkeletonSpace(inverseBind->second);
        else
            bone->setInvBindMatrixInSkeletonSpace(osg::Matrix::inverse(_globalMatrices[&node]));
        osg::ref_ptr<osgAnimation::UpdateBone> update = new osgAnimation::UpdateBone(name);
        fillStackedTransforms(update->getStackedTransforms(), matrix, animated);
        bone->setUpdateCallback(update.get());
        transform = bone;
    }
    else
    {
        transform = new osg::MatrixTransform;
        if (animated)
        {
            osg::ref_ptr<osgAnimation::UpdateMatrixTransform> update =
                new osgAnimation::UpdateMatrixTransform(name);
            fillStackedTransforms(update->getStackedTransforms(), matrix, true);
            transform->setUpdateCallback(update.get());
            transform->setDataVariance(osg::Object::DYNAMIC);
        }
    }
    transform->setName(name);
    transform->setMatrix(matrix);

    // A skeleton wants the bones of a bone before its other children.
    std::vector<osg::ref_ptr<osg::MatrixTransform>> others;
    for (unsigned int i = 0; i < node.mNumChildren; ++i)
    {
        if (node.mChildren[i] == nullptr)
            continue;
        osg::ref_ptr<osg::MatrixTransform> child = convertNode(*node.mChildren[i]);
        if (!child.valid())
            continue;
        if (_boneNodes.count(node.mChildren[i]) != 0)
            transform->addChild(child.get());
        else
            others.push_back(child);
    }
    for (const osg::ref_ptr<osg::MatrixTransform>& child : others)
        transform->addChild(child.get());

    osg::ref_ptr<osg::Geode> geode;
    for (unsigned int i = 0; i < node.mNumMeshes; ++i)
    {
        const unsigned int index = node.mMeshes[i];
        if (index >= _scene.mNumMeshes || _scene.mMeshes[index] == nullptr)
            continue;
        const aiMesh& mesh = *_scene.mMeshes[index];
        osg::ref_ptr<osg::Geometry> geometry =
            mesh.mNumBones > 0 ? convertSkinnedMesh(mesh) : convertMesh(mesh);
        if (!geometry.valid())
            continue;
        if (!geode.valid())
            geode = new osg::Geode;
        geode->addDrawable(geometry.get());
    }
    if (geode.valid())
        transform->addChild(geode.get());

    auto light = _lights.find(name);
    if (light != _lights.end())
    {
        osg::ref_ptr<osg::Node> lightSource = convertLight(*light->second);
        if (lightSource.valid())
            transform->addChild(lightSource.get());
        else
            _invalidData.insert("light " + quoted(light->second->mName) + " (position not finite)");
    }
    return transform;
}

osg::ref_ptr<osg::Geometry> AssimpSceneConverter::convertMesh(const aiMesh& mesh)
{
    if (mesh.mNumVertices == 0 || mesh.mVertices == nullptr)
        return nullptr;

    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setName(mesh.mName.C_Str());
    std::vector<bool> finite;
    if (!convertPositions(mesh, *geometry, finite))
        return nullptr;
    convertNormals(mesh, *geometry);
    const bool vertexColours = convertVertexColours(mesh, *geometry);
    convertTextureCoordinates(mesh, *geometry);
    convertFaces(mesh, finite, *geometry);
    if (geometry->getNumPrimitiveSets() == 0)
        return nullptr;

    if (osg::StateSet* stateSet = _materials.getStateSet(mesh.mMaterialIndex, vertexColours))
        geometry->setStateSet(stateSet);
    return geometry;
}

// Faces that use a vertex whose position is not finite are dropped (convertFaces), and such
// vertices are parked on a finite one, so that the geometry's bound stays valid. False when no
// position is finite.
bool AssimpSceneConverter::convertPositions(const aiMesh& mesh, osg::Geometry& geometry,
                                            std::vector<bool>& finite)
{
    finite.assign(mesh.mNumVertices, false);
    unsigned int firstFinite = mesh.mNumVertices;
    for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
    {
        finite[i] = isFinite(mesh.mVertices[i]);
        if (finite[i] && firstFinite == mesh.mNumVertices)
            firstFinite = i;
    }
    if (firstFinite == mesh.mNumVertices)
    {
        _invalidData.insert("mesh " + quoted(mesh.mName) + " (no finite vertex position)");
        return false;
    }
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array(mesh.mNumVertices);
    for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
        (*vertices)[i] = toVec3(mesh.mVertices[finite[i] ? i : firstFinite]);
    geometry.setVertexArray(vertices.get());
    return true;
}

void AssimpSceneConverter::convertNormals(const aiMesh& mesh, osg::Geometry& geometry)
{
    if (!mesh.HasNormals())
        return;
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array(mesh.mNumVertices);
    for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
        (*normals)[i] = toVec3(mesh.mNormals[i]);
    geometry.setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
}

bool AssimpSceneConverter::convertVertexColours(const aiMesh& mesh, osg::Geometry& geometry)
{
    if (!mesh.HasVertexColors(0))
        return false;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(mesh.mNumVertices);
    for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
    {
        const aiColor4D& c = mesh.mColors[0][i];
        (*colours)[i] = osg::Vec4(c.r, c.g, c.b, c.a);
    }
    geometry.setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    return true;
}

// The channel the colour texture reads goes to unit 0 (where the texture is), the others follow
// in their order.
void AssimpSceneConverter::convertTextureCoordinates(const aiMesh& mesh, osg::Geometry& geometry)
{
    std::vector<unsigned int> channels;
    const unsigned int textureChannel = _materials.getColourTextureChannel(mesh.mMaterialIndex);
    if (mesh.HasTextureCoords(textureChannel))
        channels.push_back(textureChannel);
    for (unsigned int c = 0; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c)
        if (c != textureChannel && mesh.HasTextureCoords(c))
            channels.push_back(c);
    for (unsigned int unit = 0; unit < channels.size(); ++unit)
    {
        const unsigned int c = channels[unit];
        if (mesh.mNumUVComponents[c] == 3)
        {
            osg::ref_ptr<osg::Vec3Array> coordinates = new osg::Vec3Array(mesh.mNumVertices);
            for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
                (*coordinates)[i] = toVec3(mesh.mTextureCoords[c][i]);
            geometry.setTexCoordArray(unit, coordinates.get(), osg::Array::BIND_PER_VERTEX);
        }
        else
        {
            osg::ref_ptr<osg::Vec2Array> coordinates = new osg::Vec2Array(mesh.mNumVertices);
            for (unsigned int i = 0; i < mesh.mNumVertices; ++i)
                (*coordinates)[i] = osg::Vec2(mesh.mTextureCoords[c][i].x, mesh.mTextureCoords[c][i].y);
            geometry.setTexCoordArray(unit, coordinates.get(), osg::Array::BIND_PER_VERTEX);
        }
    }
}

// Points, lines and triangles, each in one primitive set; faces of more corners (Assimp
// triangulates polygons) and faces with an index out of range or a vertex not finite are dropped.
void AssimpSceneConverter::convertFaces(const aiMesh& mesh, const std::vector<bool>& finite,
                                        osg::Geometry& geometry)
{
    osg::ref_ptr<osg::DrawElementsUInt> points = new osg::DrawElementsUInt(GL_POINTS);
    osg::ref_ptr<osg::DrawElementsUInt> lines = new osg::DrawElementsUInt(GL_LINES);
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    for (unsigned int f = 0; f < mesh.mNumFaces; ++f)
    {
        const aiFace& face = mesh.mFaces[f];
        osg::DrawElementsUInt* target = face.mNumIndices == 1   ? points.get()
                                        : face.mNumIndices == 2 ? lines.get()
                                        : face.mNumIndices == 3 ? triangles.get()
                                                                : nullptr;
        if (target == nullptr)
            continue;
        bool valid = true;
        for (unsigned int k = 0; k < face.mNumIndices; ++k)
            valid = valid && face.mIndices[k] < mesh.mNumVertices;
        if (!valid)
            continue;
        for (unsigned int k = 0; k < face.mNumIndices; ++k)
            valid = valid && finite[face.mIndices[k]];
        if (!valid)
        {
            _invalidData.insert("faces of mesh " + quoted(mesh.mName) + " (vertex positions not finite)");
            continue;
        }
        for (unsigned int k = 0; k < face.mNumIndices; ++k)
            target->push_back(face.mIndices[k]);
    }
    for (osg::DrawElementsUInt* primitives : {triangles.get(), lines.get(), points.get()})
        if (!primitives->empty())
            geometry.addPrimitiveSet(primitives);
}

osg::ref_ptr<osg::Geometry> AssimpSceneConverter::convertSkinnedMesh(const aiMesh& mesh)
{
    osg::ref_ptr<osg::Geometry> source = convertMesh(mesh);
    if (!source.valid())
        return nullptr;

    osg::ref_ptr<osgAnimation::VertexInfluenceMap> influences = new osgAnimation::VertexInfluenceMap;
    for (unsigned int b = 0; b < mesh.mNumBones; ++b)
    {
        const aiBone* bone = mesh.mBones[b];
        if (bone == nullptr)
            continue;
        const std::string boneName = bone->mName.C_Str();
        osgAnimation::VertexInfluence& influence = (*influences)[boneName];
        influence.setName(boneName);
        for (unsigned int w = 0; w < bone->mNumWeights; ++w)
        {
            const aiVertexWeight& weight = bone->mWeights[w];
            if (weight.mVertexId < mesh.mNumVertices)
                influence.push_back(osgAnimation::VertexIndexWeight(weight.mVertexId, weight.mWeight));
        }
    }

    osg::ref_ptr<osgAnimation::RigGeometry> rig = new osgAnimation::RigGeometry;
    rig->setName(source->getName());
    rig->setSourceGeometry(source.get());
    rig->setInfluenceMap(influences.get());
    rig->setStateSet(source->getStateSet());
    rig->setDataVariance(osg::Object::DYNAMIC);
    rig->setUseDisplayList(false);
    return rig;
}

osg::ref_ptr<osg::Node> AssimpSceneConverter::convertLight(const aiLight& source) const
{
    // A light source's bound holds its position.
    if (!isFinite(source.mPosition) || !isFinite(source.mDirection))
        return nullptr;
    osg::ref_ptr<osg::Light> light = new osg::Light(7);
    light->setDiffuse(toVec4(source.mColorDiffuse));
    light->setSpecular(toVec4(source.mColorSpecular));
    light->setAmbient(toVec4(source.mColorAmbient));
    light->setConstantAttenuation(source.mAttenuationConstant);
    light->setLinearAttenuation(source.mAttenuationLinear);
    light->setQuadraticAttenuation(source.mAttenuationQuadratic);
    const osg::Vec3 direction = toVec3(source.mDirection);
    switch (source.mType)
    {
    case aiLightSource_DIRECTIONAL:
        // A directional OpenGL light is given by the direction towards the light.
        light->setPosition(osg::Vec4(-direction, 0.0f));
        break;
    case aiLightSource_SPOT:
        light->setPosition(osg::Vec4(toVec3(source.mPosition), 1.0f));
        light->setDirection(direction);
        light->setSpotCutoff(std::min(90.0f, osg::RadiansToDegrees(source.mAngleOuterCone)));
        break;
    default:
        light->setPosition(osg::Vec4(toVec3(source.mPosition), 1.0f));
        break;
    }
    osg::ref_ptr<osg::LightSource> lightSource = new osg::LightSource;
    lightSource->setName(source.mName.C_Str());
    lightSource->setLight(light.get());
    return lightSource;
}

template <typename Channel, typename Key>
void AssimpSceneConverter::addChannel(osgAnimation::Animation& animation, const std::string& name,
                                      const std::string& target, const Key* keys, unsigned int count,
                                      double ticksPerSecond)
{
    osg::ref_ptr<Channel> channel = new Channel;
    channel->setName(name);
    channel->setTargetName(target);
    auto* container = channel->getOrCreateSampler()->getOrCreateKeyframeContainer();
    for (unsigned int k = 0; k < count; ++k)
    {
        const double seconds = keys[k].mTime / ticksPerSecond;
        if (!std::isfinite(seconds) || !isFinite(keys[k].mValue))
        {
            _invalidData.insert("animation keys of " + target + " (not finite)");
            continue;
        }
        container->push_back(
            typename Channel::KeyframeContainerType::KeyType(seconds, toValue(keys[k].mValue)));
    }
    // A channel needs a key to be sampled at all. Animation::addChannel would recompute the
    // duration over all channels each time; the caller computes it once at the end.
    if (!container->empty())
        animation.getChannels().push_back(channel.get());
}

osg::ref_ptr<osgAnimation::BasicAnimationManager> AssimpSceneConverter::convertAnimations()
{
    if (_scene.mNumAnimations == 0)
        return nullptr;

    osg::ref_ptr<osgAnimation::BasicAnimationManager> manager = new osgAnimation::BasicAnimationManager;
    for (unsigned int a = 0; a < _scene.mNumAnimations; ++a)
    {
        const aiAnimation* source = _scene.mAnimations[a];
        if (source == nullptr || !_keptAnimations[a])
            continue;
        const double ticksPerSecond = source->mTicksPerSecond > 0.0 ? source->mTicksPerSecond : 25.0;

        osg::ref_ptr<osgAnimation::Animation> animation = new osgAnimation::Animation;
        animation->setName(animationName(*source, a));

        for (unsigned int c = 0; c < source->mNumChannels; ++c)
        {
            const aiNodeAnim* channel = source->mChannels[c];
            if (channel == nullptr || _nodeNames.count(channel->mNodeName.C_Str()) == 0)
                continue;
            const std::string target = channel->mNodeName.C_Str();
            addChannel<osgAnimation::Vec3LinearChannel>(*animation, "translate", target,
                                                        channel->mPositionKeys, channel->mNumPositionKeys,
                                                        ticksPerSecond);
            addChannel<osgAnimation::QuatSphericalLinearChannel>(*animation, "quaternion", target,
                                                                 channel->mRotationKeys,
                                                                 channel->mNumRotationKeys, ticksPerSecond);
            addChannel<osgAnimation::Vec3LinearChannel>(*animation, "scale", target, channel->mScalingKeys,
                                                        channel->mNumScalingKeys, ticksPerSecond);
        }
        if (animation->getChannels().empty())
            continue;
        animation->computeDuration();
        manager->registerAnimation(animation.get());
    }
    if (manager->getAnimationList().empty())
        return nullptr;
    return manager;
}

} // namespace Novaro
