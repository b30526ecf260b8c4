#pragma once

#include <osg/Image>
#include <osg/StateSet>
#include <osg/Texture2D>
#include <osg/ref_ptr>
#include <osgDB/Options>

#include <map>
#include <string>
#include <utility>
#include <vector>

struct aiMaterial;
struct aiScene;
struct aiTexture;

namespace Novaro
{

// Turns Assimp materials into OpenSceneGraph state: an osg::Material with the classic colour
// terms, the diffuse (or glTF base colour) texture on unit 0, blending for transparent materials
// and alpha testing for masked glTF materials. State sets are shared between the meshes that use
// the same material, so the player's optimizer can merge them.
class AssimpMaterialConverter
{
public:
    AssimpMaterialConverter(const aiScene& scene, const std::string& modelDirectory,
                            const osgDB::Options* options);

    // The state of material 'index'; meshes with vertex colours get a variant whose colours
    // follow the vertices. Null for an index that the scene does not have.
    osg::StateSet* getStateSet(unsigned int index, bool vertexColours);

    // The mesh texture-coordinate channel that the material's colour texture reads.
    unsigned int getColourTextureChannel(unsigned int index) const;

    // Texture files that could not be found or read, for the reader's warnings.
    const std::vector<std::string>& getMissingTextures() const { return _missingTextures; }

private:
    osg::ref_ptr<osg::StateSet> convert(const aiMaterial& material, bool vertexColours);
    osg::ref_ptr<osg::Texture2D> loadTexture(const std::string& path, int wrapMode);
    osg::ref_ptr<osg::Image> readEmbeddedImage(const aiTexture& texture) const;
    osg::ref_ptr<osg::Image> readExternalImage(const std::string& path) const;

    const aiScene& _scene;
    std::string _modelDirectory;
    osg::ref_ptr<const osgDB::Options> _options;
    std::map<std::pair<unsigned int, bool>, osg::ref_ptr<osg::StateSet>> _stateSets;
    std::map<std::string, osg::ref_ptr<osg::Image>> _images;
    std::vector<std::string> _missingTextures;
};

} // namespace Novaro
