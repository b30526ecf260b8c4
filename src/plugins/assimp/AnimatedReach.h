#pragma once

#include <assimp/matrix4x4.h>

#include <vector>

struct aiScene;

namespace Novaro
{

// A bone's offset matrix holds a rotation and scale near 1 and a translation within the model;
// values beyond this (ten thousand kilometres in metres) can only fling the skinned vertices past
// single precision, as hostile files do. Bones whose offsets go past it are left out.
const ai_real largestBindPoseValue = 1e7;

// Whether every value of a bone's offset matrix is finite and within largestBindPoseValue.
bool isPlausibleBindPose(const aiMatrix4x4& offset);

// Farthest from a model's origin, in the model's units, its animations may carry anything. The
// player computes bounds in single precision, squaring distances: past 1e19 the square is no
// longer finite, and with it the bound of the whole scene. 1e12 leaves room for glTF's metres
// becoming millimetres; no model an AR scene shows moves a billion kilometres.
const double largestAnimatedReach = 1e12;

// An upper bound of how far from the model's origin any vertex or node of 'scene' can get while
// the animations i with playing[i] set play, together or alone; none set gives the rest pose.
//
// Each node contributes the largest scale and translation its rest matrix and its channels' keys
// give it: linear keys interpolate between their values and rotations keep lengths, so no frame
// goes past them. Down the hierarchy a node's origin reaches its parent's reach plus the parent's
// scale times its own translation; a mesh reaches its node's reach plus its scale times the
// mesh's radius, and a skinned vertex the sum over its bones of weight times that bone's reach of
// the vertex through its offset matrix. Rotations, shears and blends never make it larger, so the
// bound holds for any time and any mix of the playing animations; it can be far larger than the
// real extent where scales nest (it multiplies their largest values).
//
// Cost: per call, one walk of the nodes, of the playing animations' keys and of the skinned
// meshes' bones; the mesh radii and weight sums are computed once, on construction (one pass over
// every vertex and weight).
class AnimatedReach
{
public:
    explicit AnimatedReach(const aiScene& scene);

    double reach(const std::vector<bool>& playing) const;

private:
    const aiScene& _scene;
    // Per mesh: the largest length of a finite vertex position, and over its vertices the largest
    // sum of the bones' absolute weights.
    std::vector<double> _radii;
    std::vector<double> _largestWeightSums;
};

} // namespace Novaro
