#pragma once

#include <memory>
#include <string>

struct aiScene;

// Small Assimp scenes written to disk with Assimp's exporters ("gltf2", "glb2", "fbx"), so that
// the model reader is tested on files produced by an independent writer.
namespace AssimpTestScenes
{

// "Root" -> "Base" (translated by (10, 0, 0), a red textured quad "BaseMesh" with vertex
// colours) -> "Spinner" (translated by (0, 5, 0), a half-transparent triangle). Animation "Spin"
// turns "Spinner" a quarter turn about Z in one second and moves it to (0, 5, 2).
// 'texture' names the quad's colour texture: a file name, or "*0" for 'embeddedPng'.
std::unique_ptr<aiScene> buildAnimatedScene(const std::string& texture, const std::string& embeddedPng);

// "Root" -> "Armature" -> "Bone1" (at the origin) -> "Bone2" (at (0, 0, 1)), and "Skin" (at
// (2, 0, 0)) holding mesh "SkinMesh": a strip of four vertices at z = 0, 0, 2, 2 bound to Bone1
// (z = 0) and Bone2 (z = 2). Animation "Bend" turns Bone2 a quarter turn about X in one second.
std::unique_ptr<aiScene> buildSkinnedScene();

// Writes the scene with the given Assimp export format id; empty on success, else the error.
std::string exportScene(const aiScene& scene, const std::string& format, const std::string& path);

} // namespace AssimpTestScenes
