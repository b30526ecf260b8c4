#include "osgART/VideoLayer.h"

#include <osg/BufferObject>
#include <osg/Depth>
#include <osg/Geode>
#include <osg/MatrixTransform>
#include <osg/NodeCallback>
#include <osg/Projection>
#include <osg/Texture2D>
#include <osg/TextureRectangle>
#include <osg/buffered_value>

namespace osgART
{

int powerOfTwoAtLeast(int size)
{
    const int largest = 1 << 30;
    if (size >= largest)
        return largest;
    int result = 1;
    while (result < size)
        result <<= 1;
    return result;
}

namespace
{

GLint internalFormatFor(const osg::Image& image)
{
    switch (image.getPixelFormat())
    {
    case GL_LUMINANCE:
        return GL_LUMINANCE;
    case GL_LUMINANCE_ALPHA:
        return GL_LUMINANCE_ALPHA;
    case GL_RGBA:
    case GL_BGRA:
        return GL_RGBA;
    default:
        return GL_RGB;
    }
}

// Keeps a power-of-two texture and copies the image into its lower-left corner whenever the image
// was modified; texture coordinates are scaled to the used part.
class PowerOfTwoSubloadCallback : public osg::Texture2D::SubloadCallback
{
public:
    explicit PowerOfTwoSubloadCallback(osg::Image* image) : _image(image) {}

    void load(const osg::Texture2D&, osg::State& state) const override
    {
        Allocation& allocation = _allocations[state.getContextID()];
        allocation = Allocation();
        allocate(allocation);
        copy(allocation);
    }

    void subload(const osg::Texture2D&, osg::State& state) const override
    {
        Allocation& allocation = _allocations[state.getContextID()];
        if (_image->s() > allocation.width || _image->t() > allocation.height ||
            internalFormatFor(*_image) != allocation.internalFormat)
            allocate(allocation);
        if (allocation.modifiedCount != _image->getModifiedCount())
            copy(allocation);
    }

private:
    struct Allocation
    {
        int width = 0;
        int height = 0;
        GLint internalFormat = 0;
        unsigned int modifiedCount = ~0u;
    };

    void allocate(Allocation& allocation) const
    {
        allocation.width = powerOfTwoAtLeast(std::max(1, _image->s()));
        allocation.height = powerOfTwoAtLeast(std::max(1, _image->t()));
        allocation.internalFormat = internalFormatFor(*_image);
        allocation.modifiedCount = ~0u;
        glTexImage2D(GL_TEXTURE_2D, 0, allocation.internalFormat, allocation.width, allocation.height, 0,
                     GL_LUMINANCE, GL_UNSIGNED_BYTE, nullptr);
    }

    void copy(Allocation& allocation) const
    {
        allocation.modifiedCount = _image->getModifiedCount();
        if (!_image->data() || _image->s() <= 0 || _image->t() <= 0)
            return;
        glPixelStorei(GL_UNPACK_ALIGNMENT, static_cast<GLint>(_image->getPacking()));
        glPixelStorei(GL_UNPACK_ROW_LENGTH, _image->getRowLength());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, _image->s(), _image->t(), _image->getPixelFormat(),
                        _image->getDataType(), _image->data());
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    }

    osg::ref_ptr<osg::Image> _image;
    mutable osg::buffered_object<Allocation> _allocations;
};

} // namespace

// Follows size changes of the image (the video may be reopened with another size).
class VideoLayerUpdateCallback : public osg::NodeCallback
{
public:
    void operator()(osg::Node* node, osg::NodeVisitor* visitor) override
    {
        static_cast<VideoLayer*>(node)->updateTextureCoordinates();
        traverse(node, visitor);
    }
};

VideoLayer::VideoLayer(osg::Image* image, int layer)
    : _image(image), _layer(layer), _textureMode(1), _coordinatesWidth(-1), _coordinatesHeight(-1)
{
}

void VideoLayer::init()
{
    removeChildren(0, getNumChildren());
    if (!_image.valid())
        return;

    _geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    vertices->push_back(osg::Vec3(0.0f, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3(1.0f, 0.0f, 0.0f));
    vertices->push_back(osg::Vec3(1.0f, 1.0f, 0.0f));
    vertices->push_back(osg::Vec3(0.0f, 1.0f, 0.0f));
    _geometry->setVertexArray(vertices.get());
    _geometry->setTexCoordArray(0, new osg::Vec2Array(4));
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    colours->push_back(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
    _geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    _geometry->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));
    _geometry->setUseDisplayList(false);
    _geometry->setDataVariance(osg::Object::DYNAMIC);
    _coordinatesWidth = -1;
    updateTextureCoordinates();

    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(_geometry.get());
    geode->setCullingActive(false);

    osg::StateSet* state = geode->getOrCreateStateSet();
    osg::ref_ptr<osg::Texture> texture;
    if (_textureMode == 2)
    {
        texture = new osg::TextureRectangle(_image.get());
    }
    else
    {
        osg::ref_ptr<osg::Texture2D> powerOfTwo = new osg::Texture2D;
        powerOfTwo->setSubloadCallback(new PowerOfTwoSubloadCallback(_image.get()));
        texture = powerOfTwo;
    }
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    texture->setDataVariance(osg::Object::DYNAMIC);
    state->setTextureAttributeAndModes(0, texture.get(), osg::StateAttribute::ON);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    state->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);
    state->setAttributeAndModes(new osg::Depth(osg::Depth::ALWAYS, 0.0, 1.0, false));
    // Before everything else of the enclosing bin, lower layers first.
    state->setRenderBinDetails(_layer - 1000, "RenderBin");

    osg::ref_ptr<osg::MatrixTransform> modelView = new osg::MatrixTransform;
    modelView->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    modelView->setMatrix(osg::Matrix::identity());
    modelView->addChild(geode.get());

    osg::ref_ptr<osg::Projection> projection = new osg::Projection(osg::Matrix::ortho2D(0.0, 1.0, 0.0, 1.0));
    projection->addChild(modelView.get());
    addChild(projection.get());

    setUpdateCallback(new VideoLayerUpdateCallback);
}

void VideoLayer::updateTextureCoordinates()
{
    if (!_geometry.valid() || !_image.valid())
        return;
    const int width = _image->s();
    const int height = _image->t();
    if (width == _coordinatesWidth && height == _coordinatesHeight)
        return;
    _coordinatesWidth = width;
    _coordinatesHeight = height;
    float right = 1.0f;
    float top = 1.0f;
    if (_textureMode == 2)
    {
        right = static_cast<float>(width);
        top = static_cast<float>(height);
    }
    else if (width > 0 && height > 0)
    {
        right = static_cast<float>(width) / static_cast<float>(powerOfTwoAtLeast(width));
        top = static_cast<float>(height) / static_cast<float>(powerOfTwoAtLeast(height));
    }
    osg::Vec2Array* coordinates = static_cast<osg::Vec2Array*>(_geometry->getTexCoordArray(0));
    (*coordinates)[0].set(0.0f, 0.0f);
    (*coordinates)[1].set(right, 0.0f);
    (*coordinates)[2].set(right, top);
    (*coordinates)[3].set(0.0f, top);
    coordinates->dirty();
    _geometry->dirtyBound();
}

} // namespace osgART
