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
//
// Axes and units: glTF and binary glTF models are Y-up in metres by the glTF standard, while the
// player's markers are Z-up in millimetres; such a model arrives under one transform that turns
// +Y to +Z (the glTF front, +Z, faces -Y) and scales by 1000, so a real-size model stands upright
// at its real size on a marker. FBX models arrive with their coordinates as stored (the file's
// up-axis and unit settings are not applied).

#include "AssimpFormat.h"
#include "AssimpSceneConverter.h"

#include <assimp/DefaultIOSystem.h>
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <osg/MatrixTransform>
#include <osg/Notify>
#include <osg/Transform>
#include <osgAnimation/RigGeometry>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReaderWriter>
#include <osgDB/Registry>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace Novaro
{

namespace
{

// The first bytes of a file, enough to say how many the signature check needs.
const size_t headBytes = 64;

// Files that a model names (glTF buffers) are opened only when they are regular files: a pipe or
// a device would block the importer or never end.
class RegularFilesIOSystem : public Assimp::DefaultIOSystem
{
public:
    Assimp::IOStream* Open(const char* file, const char* mode) override
    {
        std::error_code error;
        if (file == nullptr || !std::filesystem::is_regular_file(file, error))
            return nullptr;
        return Assimp::DefaultIOSystem::Open(file, mode);
    }
};

// Empty when the file at 'path' is a regular file carrying the signature of 'format', else why not.
std::string checkFile(const std::string& path, ModelFormat format)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return "not a regular file";
    const uintmax_t size = std::filesystem::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    if (error || !in)
        return "cannot be opened";
    std::string head(std::min<uintmax_t>(size, headBytes), '\0');
    in.read(&head[0], static_cast<std::streamsize>(head.size()));
    const size_t read = head.size();
    head.resize(static_cast<size_t>(bytesToCheck(format, head.data(), read, size)), '\0');
    if (head.size() > read)
        in.read(&head[read], static_cast<std::streamsize>(head.size() - read));
    if (!in)
        return "cannot be read";
    const GltfBufferSource buffers(path);
    return checkSignature(format, head.data(), head.size(), size, &buffers);
}

// glTF's metre, in the markers' millimetres.
const double millimetresPerMetre = 1000.0;

// A glTF model (Y-up, metres) under the turn and scale to the markers' frame (Z-up, millimetres).
// Normals keep their length through the uniform scale with rescaling on. The model's animation
// manager moves up with it, so the returned node still holds it as every model's root does.
osg::ref_ptr<osg::Node> uprightInMillimetres(osg::Node* model)
{
    osg::ref_ptr<osg::MatrixTransform> upright =
        new osg::MatrixTransform(osg::Matrix::rotate(osg::PI_2, osg::X_AXIS) *
                                 osg::Matrix::scale(osg::Vec3d(1, 1, 1) * millimetresPerMetre));
    upright->getOrCreateStateSet()->setMode(GL_RESCALE_NORMAL, osg::StateAttribute::ON);
    upright->addChild(model);
    if (model->getUpdateCallback() != nullptr)
    {
        upright->setUpdateCallback(model->getUpdateCallback());
        model->setUpdateCallback(nullptr);
    }
    return upright;
}

bool isFinite(const osg::BoundingSphere& bound)
{
    if (!bound.valid())
        return !std::isnan(bound.radius());
    const osg::Vec3 centre = bound.center();
    return std::isfinite(bound.radius()) && std::isfinite(centre.x()) && std::isfinite(centre.y()) &&
           std::isfinite(centre.z());
}

// Finds a skinned mesh whose rest shape, placed by the transforms above it, has no finite extent:
// a rig's own bound is its skinned shape's, known only after its first update, when the player has
// placed the model already.
class RestShapeExtentCheck : public osg::NodeVisitor
{
public:
    RestShapeExtentCheck() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Drawable& drawable) override
    {
        const auto* rig = dynamic_cast<const osgAnimation::RigGeometry*>(&drawable);
        if (rig == nullptr || rig->getSourceGeometry() == nullptr)
            return;
        const osg::BoundingBox& rest = rig->getSourceGeometry()->getBoundingBox();
        if (!rest.valid())
            return;
        const osg::Matrix placement = osg::computeLocalToWorld(getNodePath());
        osg::BoundingBox placed;
        for (unsigned int corner = 0; corner < 8; ++corner)
            placed.expandBy(rest.corner(corner) * placement);
        if (!isFinite(osg::BoundingSphere(placed)))
            finite = false;
    }
    bool finite = true;
};

// An empty model's bound is invalid, which is fine; a valid one must be finite, and so must the
// rest shape of every skinned mesh where the model places it.
bool hasFiniteBound(osg::Node& node)
{
    if (!isFinite(node.getBound()))
        return false;
    RestShapeExtentCheck check;
    node.accept(check);
    return check.finite;
}

} // namespace

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
        const ModelFormat format = formatOfExtension(osgDB::getLowerCaseFileExtension(file));
        if (format == ModelFormat::Unknown)
            return ReadResult::FILE_NOT_HANDLED;
        const std::string path = osgDB::findDataFile(file, options);
        if (path.empty())
            return ReadResult::FILE_NOT_FOUND;
        const std::string mismatch = checkFile(path, format);
        if (!mismatch.empty())
            return refused("refusing", path,
                           "not a " + std::string(formatName(format)) + " file (" + mismatch + ")");

        // Textures are looked up beside the model.
        osg::ref_ptr<Options> localOptions =
            options ? static_cast<Options*>(options->clone(osg::CopyOp::SHALLOW_COPY)) : new Options;
        const std::string directory = osgDB::getFilePath(path);
        localOptions->getDatabasePathList().push_front(directory);

        try
        {
            Assimp::Importer importer;
            if (!configure(importer, format))
                return ReadResult::ERROR_IN_READING_FILE;
            const aiScene* scene = importer.ReadFile(path, postProcessSteps());
            return convert(scene, importer, format, path, directory, localOptions.get());
        }
        catch (...)
        {
            osg::notify(osg::FATAL) << "Assimp reader: failure while reading " << path << std::endl;
            return ReadResult::ERROR_IN_READING_FILE;
        }
    }

    ReadResult readNode(std::istream& stream, const Options* options) const override
    {
        try
        {
            const std::string data((std::istreambuf_iterator<char>(stream)),
                                   std::istreambuf_iterator<char>());
            // No file name: the data's signature names the format.
            const ModelFormat format = detectFormat(data.data(), data.size());
            if (format == ModelFormat::Unknown)
            {
                osg::notify(osg::FATAL)
                    << "Assimp reader: refusing a model stream: neither binary glTF, glTF "
                       "nor FBX."
                    << std::endl;
                return ReadResult::ERROR_IN_READING_FILE;
            }
            Assimp::Importer importer;
            if (!configure(importer, format))
                return ReadResult::ERROR_IN_READING_FILE;
            const aiScene* scene =
                importer.ReadFileFromMemory(data.data(), data.size(), postProcessSteps(), formatHint(format));
            return convert(scene, importer, format, "<stream>", "", options);
        }
        catch (...)
        {
            return ReadResult::ERROR_IN_READING_FILE;
        }
    }

private:
    // A model refused: said on the console ("Assimp reader: refusing PATH: WHY"), and the reason
    // carried in the result for a caller that reports it itself with the file (the scene check).
    static ReadResult refused(const char* verb, const std::string& path, const std::string& reason)
    {
        osg::notify(osg::FATAL) << "Assimp reader: " << verb << " " << path << ": " << reason << std::endl;
        return ReadResult(reason);
    }

    static unsigned int postProcessSteps()
    {
        // Validation refuses inconsistent structures (indices past their arrays, ...). Numbers
        // that are not finite are left to the converter, which drops only what uses them and says
        // so; Assimp's own invalid-data step would delete whole meshes without a word.
        return aiProcess_Triangulate | aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals |
               aiProcess_SortByPType | aiProcess_LimitBoneWeights | aiProcess_ValidateDataStructure;
    }

    // Leaves the importer with the format's own loader only: Assimp would otherwise offer data
    // that its loader refuses to every other loader it has, some of which crash or run away on
    // foreign data.
    static bool configure(Assimp::Importer& importer, ModelFormat format)
    {
        if (!keepOnlyImporterOf(format, importer))
        {
            osg::notify(osg::FATAL) << "Assimp reader: no importer for " << formatName(format) << std::endl;
            return false;
        }
        importer.SetIOHandler(new RegularFilesIOSystem);
        // Without this, FBX pivots turn into extra "$AssimpFbx$" helper nodes that hide the
        // names the authoring host gave.
        importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
        return true;
    }

    static const char* formatHint(ModelFormat format)
    {
        return format == ModelFormat::BinaryGltf ? "glb" : format == ModelFormat::Gltf ? "gltf" : "fbx";
    }

    static ReadResult convert(const aiScene* scene, const Assimp::Importer& importer, ModelFormat format,
                              const std::string& path, const std::string& directory, const Options* options)
    {
        if (scene == nullptr || scene->mRootNode == nullptr)
        {
            return refused("cannot read", path, importer.GetErrorString());
        }
        AssimpSceneConverter converter(*scene, directory, options);
        osg::ref_ptr<osg::Node> node = converter.convert();
        for (const std::string& dropped : converter.getInvalidData())
            osg::notify(osg::FATAL) << "Assimp reader: " << path << ": dropped " << dropped << std::endl;
        if (!node.valid())
        {
            return refused("cannot show", path, "nothing left to show");
        }
        if (format == ModelFormat::Gltf || format == ModelFormat::BinaryGltf)
            node = uprightInMillimetres(node.get());
        // Finite numbers can still add up to a bound beyond single precision (1e30 scaled by
        // 1e30); such a model would take the bound of the whole scene with it.
        if (!hasFiniteBound(*node))
        {
            return refused("refusing", path, "its extent is not finite");
        }
        for (const std::string& feature : converter.getDroppedFeatures())
            osg::notify(osg::INFO) << "Assimp reader: " << path << ": " << feature << " are not carried"
                                   << std::endl;
        for (const std::string& texture : converter.getMissingTextures())
            osg::notify(osg::FATAL) << "Assimp reader: " << path << ": cannot read texture " << texture
                                    << std::endl;
        return node.release();
    }
};

} // namespace Novaro

using Novaro::ReaderWriterAssimp;
REGISTER_OSGPLUGIN(fbx, ReaderWriterAssimp)
