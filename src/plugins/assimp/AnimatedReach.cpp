#include "AnimatedReach.h"

#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>

namespace Novaro
{

namespace
{

// The largest factor and offset a node's matrix applies to what lies below it.
struct NodeBounds
{
    double scale = 0;
    double translation = 0;
};

// How far a node's origin gets from the model's origin, and the product of the scales above and
// at it, each at its largest.
struct NodeReach
{
    double reach = 0;
    double scale = 1;
};

double length(const aiVector3D& v)
{
    return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
}

bool isFinite(const aiVector3D& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The Frobenius norm of the linear part bounds how much the matrix lengthens any vector.
NodeBounds boundsOf(const aiMatrix4x4& m)
{
    double squares = 0;
    for (const ai_real* row : {m[0], m[1], m[2]})
        for (int column = 0; column < 3; ++column)
            squares += double(row[column]) * row[column];
    return {std::sqrt(squares), length(aiVector3D(m.a4, m.b4, m.c4))};
}

// Products of bounds that overflowed (infinity times zero) count as beyond any reach.
double product(double a, double b)
{
    const double value = a * b;
    return std::isnan(value) ? HUGE_VAL : value;
}

double largestComponent(const aiVector3D& v)
{
    return std::max({std::abs(double(v.x)), std::abs(double(v.y)), std::abs(double(v.z))});
}

// The bounds the playing animations' keys give each node they move, by node name (the keys the
// converter drops, not finite, are left out here too).
std::map<std::string, NodeBounds> animatedBounds(const aiScene& scene, const std::vector<bool>& playing)
{
    std::map<std::string, NodeBounds> bounds;
    for (unsigned int a = 0; a < scene.mNumAnimations && a < playing.size(); ++a)
    {
        if (!playing[a] || scene.mAnimations[a] == nullptr)
            continue;
        const aiAnimation& animation = *scene.mAnimations[a];
        for (unsigned int c = 0; c < animation.mNumChannels; ++c)
        {
            const aiNodeAnim* channel = animation.mChannels[c];
            if (channel == nullptr)
                continue;
            NodeBounds& node = bounds[channel->mNodeName.C_Str()];
            for (unsigned int k = 0; k < channel->mNumPositionKeys; ++k)
                if (isFinite(channel->mPositionKeys[k].mValue))
                    node.translation = std::max(node.translation, length(channel->mPositionKeys[k].mValue));
            for (unsigned int k = 0; k < channel->mNumScalingKeys; ++k)
                if (isFinite(channel->mScalingKeys[k].mValue))
                    node.scale = std::max(node.scale, largestComponent(channel->mScalingKeys[k].mValue));
        }
    }
    return bounds;
}

// Walks the hierarchy from the root, without recursion, giving every node its reach (by name, the
// largest where names repeat); 'largest' receives the farthest any node's origin gets, and
// 'meshReach' the farthest each unskinned mesh's vertices get, given the meshes' radii.
class HierarchyWalk
{
public:
    HierarchyWalk(std::map<std::string, NodeBounds> animated, const std::vector<double>& radii)
        : _animated(std::move(animated)), _radii(radii)
    {
    }

    void walk(const aiNode& root)
    {
        std::vector<std::pair<const aiNode*, NodeReach>> pending{{&root, NodeReach()}};
        while (!pending.empty())
        {
            const auto [node, parent] = pending.back();
            pending.pop_back();
            const NodeReach here = visit(*node, parent);
            for (unsigned int i = 0; i < node->mNumChildren; ++i)
                if (node->mChildren[i] != nullptr)
                    pending.emplace_back(node->mChildren[i], here);
        }
    }

    std::map<std::string, NodeReach> nodes;
    double largest = 0;

private:
    NodeReach visit(const aiNode& node, const NodeReach& parent)
    {
        NodeBounds local = boundsOf(node.mTransformation);
        auto animated = _animated.find(node.mName.C_Str());
        if (animated != _animated.end())
            local = {std::max(local.scale, animated->second.scale),
                     std::max(local.translation, animated->second.translation)};
        const NodeReach here{parent.reach + product(parent.scale, local.translation),
                             product(parent.scale, local.scale)};
        NodeReach& named = nodes[node.mName.C_Str()];
        named = {std::max(named.reach, here.reach), std::max(named.scale, here.scale)};
        largest = std::max(largest, here.reach);
        for (unsigned int i = 0; i < node.mNumMeshes; ++i)
            if (node.mMeshes[i] < _radii.size())
                largest = std::max(largest, here.reach + product(here.scale, _radii[node.mMeshes[i]]));
        return here;
    }

    const std::map<std::string, NodeBounds> _animated;
    const std::vector<double>& _radii; // the caller's, which outlives the walk
};

} // namespace

bool isPlausibleBindPose(const aiMatrix4x4& m)
{
    const ai_real* values = &m.a1;
    return std::all_of(values, values + 16,
                       [](ai_real value)
                       { return std::isfinite(value) && std::abs(value) <= largestBindPoseValue; });
}

AnimatedReach::AnimatedReach(const aiScene& scene) : _scene(scene)
{
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m)
    {
        double radius = 0;
        double largestWeightSum = 0;
        const aiMesh* mesh = scene.mMeshes[m];
        if (mesh != nullptr)
        {
            for (unsigned int v = 0; v < mesh->mNumVertices; ++v)
                if (isFinite(mesh->mVertices[v]))
                    radius = std::max(radius, length(mesh->mVertices[v]));
            std::vector<double> weightSums(mesh->mNumVertices, 0.0);
            for (unsigned int b = 0; b < mesh->mNumBones; ++b)
                for (unsigned int w = 0; mesh->mBones[b] != nullptr && w < mesh->mBones[b]->mNumWeights; ++w)
                {
                    const aiVertexWeight& weight = mesh->mBones[b]->mWeights[w];
                    if (weight.mVertexId < weightSums.size() && std::isfinite(weight.mWeight))
                        weightSums[weight.mVertexId] += std::abs(weight.mWeight);
                }
            if (!weightSums.empty())
                largestWeightSum = *std::max_element(weightSums.begin(), weightSums.end());
        }
        _radii.push_back(radius);
        _largestWeightSums.push_back(largestWeightSum);
    }
}

double AnimatedReach::reach(const std::vector<bool>& playing) const
{
    if (_scene.mRootNode == nullptr)
        return 0;
    HierarchyWalk hierarchy(animatedBounds(_scene, playing), _radii);
    hierarchy.walk(*_scene.mRootNode);
    double largest = hierarchy.largest;
    // A skinned vertex goes where its bones take it: each bone's share is its weight times where
    // the bone places the vertex's bind-space position.
    for (unsigned int m = 0; m < _scene.mNumMeshes; ++m)
    {
        const aiMesh* mesh = _scene.mMeshes[m];
        if (mesh == nullptr || mesh->mNumBones == 0)
            continue;
        double farthestBone = 0;
        for (unsigned int b = 0; b < mesh->mNumBones; ++b)
        {
            const aiBone* bone = mesh->mBones[b];
            auto node = bone == nullptr ? hierarchy.nodes.end() : hierarchy.nodes.find(bone->mName.C_Str());
            if (node == hierarchy.nodes.end() || !isPlausibleBindPose(bone->mOffsetMatrix))
                continue; // not skinned by: the converter leaves such bones out
            const NodeBounds offset = boundsOf(bone->mOffsetMatrix);
            const double inBindSpace = offset.scale * _radii[m] + offset.translation;
            farthestBone =
                std::max(farthestBone, node->second.reach + product(node->second.scale, inBindSpace));
        }
        largest = std::max(largest, product(_largestWeightSums[m], farthestBone));
    }
    return largest;
}

} // namespace Novaro
