#include "AssimpMaterialConverter.h"

#include <assimp/GltfMaterial.h>
#include <assimp/material.h>
#include <assimp/scene.h>

#include <osg/AlphaFunc>
#include <osg/BlendFunc>
#include <osg/Material>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace Novaro
{

namespace
{

osg::Vec4 toVec4(const aiColor4D& colour)
{
    return osg::Vec4(colour.r, colour.g, colour.b, colour.a);
}

bool readColour(const aiMaterial& material, const char* key, unsigned int type, unsigned int index,
                osg::Vec4& colour)
{
    aiColor4D value;
    if (material.Get(key, type, index, value) != AI_SUCCESS)
        return false;
    colour = toVec4(value);
    return true;
}

osg::Texture::WrapMode toWrapMode(int mode)
{
    switch (mode)
    {
    case aiTextureMapMode_Clamp:
        return osg::Texture::CLAMP_TO_EDGE;
    case aiTextureMapMode_Mirror:
        return osg::Texture::MIRROR;
    case aiTextureMapMode_Decal:
        return osg::Texture::CLAMP_TO_BORDER;
    default:
        return osg::Texture::REPEAT;
    }
}

// Exporters on other machines write backslashes and absolute paths of their own disks.
std::string portablePath(const std::string& path)
{
    std::string result = path;
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

bool looksAbsolute(const std::string& path)
{
    return (!path.empty() && path[0] == '/') || (path.size() > 2 && path[1] == ':');
}

} // namespace

AssimpMaterialConverter::AssimpMaterialConverter(const aiScene& scene, const std::string& modelDirectory,
                                                 const osgDB::Options* options)
    : _scene(scene), _modelDirectory(modelDirectory), _options(options)
{
}

osg::StateSet* AssimpMaterialConverter::getStateSet(unsigned int index, bool vertexColours)
{
    if (index >= _scene.mNumMaterials || _scene.mMaterials[index] == nullptr)
        return nullptr;
    const std::pair<unsigned int, bool> key(index, vertexColours);
    auto found = _stateSets.find(key);
    if (found != _stateSets.end())
        return found->second.get();
    osg::ref_ptr<osg::StateSet> stateSet = convert(*_scene.mMaterials[index], vertexColours);
    _stateSets[key] = stateSet;
    return stateSet.get();
}

unsigned int AssimpMaterialConverter::getColourTextureChannel(unsigned int index) const
{
    if (index >= _scene.mNumMaterials || _scene.mMaterials[index] == nullptr)
        return 0;
    const aiMaterial& material = *_scene.mMaterials[index];
    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR})
    {
        if (material.GetTextureCount(type) == 0)
            continue;
        int channel = 0;
        if (material.Get(AI_MATKEY_UVWSRC(type, 0), channel) == AI_SUCCESS && channel >= 0)
            return static_cast<unsigned int>(channel);
        return 0;
    }
    return 0;
}

osg::ref_ptr<osg::StateSet> AssimpMaterialConverter::convert(const aiMaterial& source, bool vertexColours)
{
    osg::ref_ptr<osg::StateSet> stateSet = new osg::StateSet;
    aiString name;
    if (source.Get(AI_MATKEY_NAME, name) == AI_SUCCESS)
        stateSet->setName(name.C_Str());

    osg::Vec4 diffuse(0.8f, 0.8f, 0.8f, 1.0f);
    osg::Vec4 ambient(0.2f, 0.2f, 0.2f, 1.0f);
    osg::Vec4 specular(0.0f, 0.0f, 0.0f, 1.0f);
    osg::Vec4 emissive(0.0f, 0.0f, 0.0f, 1.0f);
    // glTF materials give the base colour; the classic diffuse term wins when both are present.
    readColour(source, AI_MATKEY_BASE_COLOR, diffuse);
    readColour(source, AI_MATKEY_COLOR_DIFFUSE, diffuse);
    const bool hasAmbient = readColour(source, AI_MATKEY_COLOR_AMBIENT, ambient);
    readColour(source, AI_MATKEY_COLOR_SPECULAR, specular);
    readColour(source, AI_MATKEY_COLOR_EMISSIVE, emissive);
    // Many exporters write a black ambient term; a share of the diffuse colour keeps such models
    // from turning black on their shadowed sides.
    if (!hasAmbient || (ambient.r() == 0.0f && ambient.g() == 0.0f && ambient.b() == 0.0f))
        ambient = osg::Vec4(diffuse.r() * 0.2f, diffuse.g() * 0.2f, diffuse.b() * 0.2f, 1.0f);

    float shininess = 0.0f;
    source.Get(AI_MATKEY_SHININESS, shininess);
    shininess = std::clamp(shininess, 0.0f, 128.0f);

    // Importers that know an opacity term give it there (the glTF importer repeats the base
    // colour's alpha in it); the colour's alpha serves otherwise.
    float opacity = diffuse.a();
    source.Get(AI_MATKEY_OPACITY, opacity);
    const float alpha = std::clamp(opacity, 0.0f, 1.0f);

    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK,
                         osg::Vec4(diffuse.r(), diffuse.g(), diffuse.b(), alpha));
    material->setAmbient(osg::Material::FRONT_AND_BACK,
                         osg::Vec4(ambient.r(), ambient.g(), ambient.b(), alpha));
    material->setSpecular(osg::Material::FRONT_AND_BACK,
                          osg::Vec4(specular.r(), specular.g(), specular.b(), alpha));
    material->setEmission(osg::Material::FRONT_AND_BACK,
                          osg::Vec4(emissive.r(), emissive.g(), emissive.b(), alpha));
    material->setShininess(osg::Material::FRONT_AND_BACK, shininess);
    if (vertexColours)
        material->setColorMode(osg::Material::AMBIENT_AND_DIFFUSE);
    stateSet->setAttributeAndModes(material.get(), osg::StateAttribute::ON);

    int shadingModel = aiShadingMode_Gouraud;
    if (source.Get(AI_MATKEY_SHADING_MODEL, shadingModel) == AI_SUCCESS &&
        shadingModel == aiShadingMode_Unlit)
        stateSet->setMode(GL_LIGHTING, osg::StateAttribute::OFF);

    aiString alphaMode;
    const bool hasAlphaMode = source.Get(AI_MATKEY_GLTF_ALPHAMODE, alphaMode) == AI_SUCCESS;
    const std::string mode = hasAlphaMode ? alphaMode.C_Str() : "";

    for (aiTextureType type : {aiTextureType_DIFFUSE, aiTextureType_BASE_COLOR})
    {
        if (source.GetTextureCount(type) == 0)
            continue;
        aiString path;
        if (source.GetTexture(type, 0, &path) != AI_SUCCESS)
            continue;
        int wrap = aiTextureMapMode_Wrap;
        source.Get(AI_MATKEY_MAPPINGMODE_U(type, 0), wrap);
        osg::ref_ptr<osg::Texture2D> texture = loadTexture(path.C_Str(), wrap);
        if (texture.valid())
        {
            stateSet->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
            if (mode == "BLEND" && texture->getImage() != nullptr &&
                texture->getImage()->isImageTranslucent())
                stateSet->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
        }
        break;
    }

    if (mode == "MASK")
    {
        float cutoff = 0.5f;
        source.Get(AI_MATKEY_GLTF_ALPHACUTOFF, cutoff);
        stateSet->setAttributeAndModes(new osg::AlphaFunc(osg::AlphaFunc::GEQUAL, cutoff),
                                       osg::StateAttribute::ON);
    }
    else if (alpha < 1.0f || stateSet->getRenderingHint() == osg::StateSet::TRANSPARENT_BIN)
    {
        stateSet->setAttributeAndModes(
            new osg::BlendFunc(osg::BlendFunc::SRC_ALPHA, osg::BlendFunc::ONE_MINUS_SRC_ALPHA),
            osg::StateAttribute::ON);
        stateSet->setRenderingHint(osg::StateSet::TRANSPARENT_BIN);
    }
    return stateSet;
}

osg::ref_ptr<osg::Texture2D> AssimpMaterialConverter::loadTexture(const std::string& path, int wrapMode)
{
    osg::ref_ptr<osg::Image> image;
    auto cached = _images.find(path);
    if (cached != _images.end())
    {
        image = cached->second;
    }
    else
    {
        if (const aiTexture* embedded = _scene.GetEmbeddedTexture(path.c_str()))
            image = readEmbeddedImage(*embedded);
        else
            image = readExternalImage(path);
        _images[path] = image;
        if (!image.valid())
            _missingTextures.push_back(path);
    }
    if (!image.valid())
        return nullptr;

    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    const osg::Texture::WrapMode wrap = toWrapMode(wrapMode);
    texture->setWrap(osg::Texture::WRAP_S, wrap);
    texture->setWrap(osg::Texture::WRAP_T, wrap);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR_MIPMAP_LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    return texture;
}

osg::ref_ptr<osg::Image> AssimpMaterialConverter::readEmbeddedImage(const aiTexture& texture) const
{
    if (texture.pcData == nullptr || texture.mWidth == 0)
        return nullptr;

    if (texture.mHeight == 0)
    {
        // A compressed file kept whole inside the model; the hint names its format.
        const std::string data(reinterpret_cast<const char*>(texture.pcData), texture.mWidth);
        std::vector<std::string> formats;
        const std::string hint = texture.achFormatHint;
        if (!hint.empty())
            formats.push_back(hint);
        for (const char* fallback : {"png", "jpeg", "bmp", "tga"})
            if (hint != fallback)
                formats.push_back(fallback);
        for (const std::string& format : formats)
        {
            osgDB::ReaderWriter* reader = osgDB::Registry::instance()->getReaderWriterForExtension(format);
            if (reader == nullptr)
                continue;
            std::istringstream stream(data);
            osgDB::ReaderWriter::ReadResult result = reader->readImage(stream, _options.get());
            if (result.validImage())
                return result.getImage();
        }
        return nullptr;
    }

    // Raw BGRA texels, top row first.
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(static_cast<int>(texture.mWidth), static_cast<int>(texture.mHeight), 1, GL_RGBA,
                         GL_UNSIGNED_BYTE);
    unsigned char* out = image->data();
    const unsigned int count = texture.mWidth * texture.mHeight;
    for (unsigned int i = 0; i < count; ++i)
    {
        const aiTexel& texel = texture.pcData[i];
        out[i * 4 + 0] = texel.r;
        out[i * 4 + 1] = texel.g;
        out[i * 4 + 2] = texel.b;
        out[i * 4 + 3] = texel.a;
    }
    image->flipVertical();
    return image;
}

osg::ref_ptr<osg::Image> AssimpMaterialConverter::readExternalImage(const std::string& path) const
{
    const std::string name = portablePath(path);
    if (name.empty())
        return nullptr;
    std::vector<std::string> candidates;
    if (looksAbsolute(name))
        candidates.push_back(name);
    else
        candidates.push_back(osgDB::concatPaths(_modelDirectory, name));
    // Textures are often shipped next to the model whatever path the exporter wrote.
    candidates.push_back(osgDB::concatPaths(_modelDirectory, osgDB::getSimpleFileName(name)));
    const std::string onDataPath = osgDB::findDataFile(name, _options.get());
    if (!onDataPath.empty())
        candidates.push_back(onDataPath);

    for (const std::string& candidate : candidates)
    {
        // A folder, a pipe or a device named like a texture would block or confuse the image reader.
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate, error))
            continue;
        osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(candidate, _options.get());
        if (image.valid())
            return image;
    }
    return nullptr;
}

} // namespace Novaro
