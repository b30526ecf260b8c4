#pragma once

#include "AssimpMaterialConverter.h"

#include <osg/Geometry>
#include <osg/Group>
#include <osg/MatrixTransform>
#include <osg/ref_ptr>
#include <osgAnimation/Animation>
#include <osgAnimation/BasicAnimationManager>
#include <osgDB/Options>

#include <map>
#include <set>
#include <string>
#include <vector>

struct aiLight;
struct aiMesh;
struct aiNode;
struct aiScene;

namespace Novaro
{

// Deepest node hierarchy the converter takes: its walks recurse once per level.
const size_t maximumNodeDepth = 1000;

// Builds an OpenSceneGraph subgraph from an imported Assimp scene.
//
// Every Assimp node becomes a matrix transform with the node's name and local matrix, so that
// scene objects can pick sub-models by name and keep the transforms above them. Meshes become
// geometries (positions, normals, vertex colours, all texture-coordinate sets) in one geode per
// node. Node animations become osgAnimation channels ("translate", "quaternion", "scale") played
// by one BasicAnimationManager on the returned root, one osgAnimation::Animation per Assimp
// animation with its name. When a mesh is skinned, the model goes under an
// osgAnimation::Skeleton, the bones and their ancestors become Bones and skinned meshes become
// RigGeometries. Lights become
// osg::LightSources (light number 7, the one the player's AR light uses) under their node.
class AssimpSceneConverter
{
public:
    AssimpSceneConverter(const aiScene& scene, const std::string& modelDirectory,
                         const osgDB::Options* options);

    osg::ref_ptr<osg::Node> convert();

    // What the model holds that the result leaves out, for the reader's warnings.
    const std::set<std::string>& getDroppedFeatures() const { return _droppedFeatures; }
    const std::vector<std::string>& getMissingTextures() const { return _materials.getMissingTextures(); }

    // What was left out because it held numbers that are not finite: faces using such vertices,
    // nodes with such matrices, lights placed there, animation keys; and animations that may
    // carry the model past single precision. One infinite coordinate would make the bound of the
    // whole scene invalid, and with it everything beside the model.
    const std::set<std::string>& getInvalidData() const { return _invalidData; }

private:
    static size_t hierarchyDepth(const aiNode& root);
    void collectAnimatedNodes();
    void keepAnimationsWithinReach();
    void collectGlobalMatrices(const aiNode& node, const osg::Matrix& parentGlobal);
    void collectBones();
    osg::ref_ptr<osg::MatrixTransform> convertNode(const aiNode& node);
    osg::ref_ptr<osg::Geometry> convertMesh(const aiMesh& mesh);
    bool convertPositions(const aiMesh& mesh, osg::Geometry& geometry, std::vector<bool>& finite);
    static void convertNormals(const aiMesh& mesh, osg::Geometry& geometry);
    static bool convertVertexColours(const aiMesh& mesh, osg::Geometry& geometry);
    void convertTextureCoordinates(const aiMesh& mesh, osg::Geometry& geometry);
    void convertFaces(const aiMesh& mesh, const std::vector<bool>& finite, osg::Geometry& geometry);
    osg::ref_ptr<osg::Geometry> convertSkinnedMesh(const aiMesh& mesh);
    osg::ref_ptr<osg::Node> convertLight(const aiLight& light) const;
    osg::ref_ptr<osgAnimation::BasicAnimationManager> convertAnimations();
    template <typename Channel, typename Key>
    void addChannel(osgAnimation::Animation& animation, const std::string& name, const std::string& target,
                    const Key* keys, unsigned int count, double ticksPerSecond);

    const aiScene& _scene;
    AssimpMaterialConverter _materials;
    bool _skinned = false;
    std::set<std::string> _animatedNodes;
    std::vector<bool> _keptAnimations;
    std::set<std::string> _nodeNames;
    std::map<const aiNode*, osg::Matrix> _globalMatrices;
    std::map<unsigned int, const aiNode*> _meshNodes;
    std::map<std::string, osg::Matrix> _inverseBindMatrices;
    std::set<const aiNode*> _boneNodes;
    std::map<std::string, const aiLight*> _lights;
    std::set<std::string> _droppedFeatures;
    std::set<std::string> _invalidData;
};

} // namespace Novaro
