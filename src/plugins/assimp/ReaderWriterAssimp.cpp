// OpenSceneGraph reader for FBX, glTF and binary glTF models, built on Assimp. The platform's
// OpenSceneGraph has no reader for these formats; scenes exported from the authoring hosts use
// them for their models.
//
// Carried: node names and hierarchy with their matrices; triangle, line and point meshes with
// positions, normals, the first vertex-colour set and every texture-coordinate set; materials
// (diffuse or base colour, ambient, specular, emissive, shininess, opacity, unlit shading, glTF
// alpha modes) with blending when transparent; the colour texture, from a file beside the model or
// embedded in it; node animations (osgAnimation, one animation per take, named after it); skinned
// meshes (osgAnimation skeleton, bones and rig geometries); lights.
// Not carried: cameras, morph targets and mesh animations, textures other than the colour
// texture (normal, specular, PBR metal/roughness, light maps), texture transforms, animation
// pre/post behaviour (an animation holds its first and last keys), glTF extensions beyond what
// Assimp maps onto the classic material terms.

#include "AssimpSceneConverter.h"

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <iterator>
#include <sstream>

namespace Novaro
{

class ReaderWriterAssimp : public osgDB::ReaderWriter
{
public:
    ReaderWriterAssimp()
    {
        supportsExtension("fbx", "Autodesk FBX (through Assimp)");
        supportsExtension("gltf", "glTF 2.0 (through Assimp)");
        supportsExtension("glb", "binary glTF 2.0 (through Assimp)");
    }

    const char* className() const override { return "Assimp FBX/glTF reader"; }

    ReadResult readObject(const std::string& file, const Options* options) const override
    {
        return readNode(file, options);
    }

    ReadResult readObject(std::istream& stream, const Options* options) const override
    {
        return readNode(stream, options);
    }

    ReadResult readNode(const std::string& file, const Options* options) const override
    {
        if (!acceptsExtension(osgDB::getLowerCaseFileExtension(file)))
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty())
            return ReadResult::FILE_NOT_FOUND;

        // Textures are looked up beside the model.
        osg::ref_ptr<Options> localOptions =
            options ? static_cast<Options*>(options->clone(osg::CopyOp::SHALLOW_COPY)) : new Options;
        const std::string directory = osgDB::getFilePath(path);
        localOptions->getDatabasePathList().push_front(directory);

        try
        {
            Assimp::Importer importer;
            configure(importer);
            const aiScene* scene = importer.ReadFile(path, postProcessSteps());
            return convert(scene, importer, path, directory, localOptions.get());
        }
        catch (...)
        {
            osg::notify(osg::WARN) << "Assimp reader: failure while reading " << path << std::endl;
            return ReadResult::ERROR_IN_READING_FILE;
        }
    }

    ReadResult readNode(std::istream& stream, const Options* options) const override
    {
        try
        {
            const std::string data((std::istreambuf_iterator<char>(stream)),
                                   std::istreambuf_iterator<char>());
            if (data.empty())
                return ReadResult::ERROR_IN_READING_FILE;
            Assimp::Importer importer;
            configure(importer);
            // No file name: Assimp picks the importer by the data's signature.
            const aiScene* scene =
                importer.ReadFileFromMemory(data.data(), data.size(), postProcessSteps(), "");
            return convert(scene, importer, "<stream>", "", options);
        }
        catch (...)
        {
            return ReadResult::ERROR_IN_READING_FILE;
        }
    }

private:
    static unsigned int postProcessSteps()
    {
        return aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals |
               aiProcess_SortByPType | aiProcess_LimitBoneWeights | aiProcess_ValidateDataStructure;
    }

    static void configure(Assimp::Importer& importer)
    {
        // Without this, FBX pivots turn into extra "$AssimpFbx$" helper nodes that hide the
        // names the authoring host gave.
        importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    }

    static ReadResult convert(const aiScene* scene, const Assimp::Importer& importer, const std::string& path,
                              const std::string& directory, const Options* options)
    {
        if (scene == nullptr || scene->mRootNode == nullptr)
        {
            osg::notify(osg::WARN) << "Assimp reader: cannot read " << path << ": "
                                   << importer.GetErrorString() << std::endl;
            return ReadResult::ERROR_IN_READING_FILE;
        }
        AssimpSceneConverter converter(*scene, directory, options);
        osg::ref_ptr<osg::Node> node = converter.convert();
        if (!node.valid())
            return ReadResult::ERROR_IN_READING_FILE;
        for (const std::string& feature : converter.getDroppedFeatures())
            osg::notify(osg::INFO) << "Assimp reader: " << path << ": " << feature << " are not carried"
                                   << std::endl;
        for (const std::string& texture : converter.getMissingTextures())
            osg::notify(osg::WARN) << "Assimp reader: " << path << ": cannot read texture " << texture
                                   << std::endl;
        return node.release();
    }
};

} // namespace Novaro

using Novaro::ReaderWriterAssimp;
REGISTER_OSGPLUGIN(fbx, ReaderWriterAssimp)
