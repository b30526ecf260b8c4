#include "SampleMedia.h"

#include "MovieWriter.h"

#include <SFML/Audio/OutputSoundFile.hpp>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Group>
#include <osg/Image>
#include <osg/Material>
#include <osg/Notify>
#include <osg/Texture2D>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/Options>
#include <osgDB/WriteFile>

#include <cmath>
#include <functional>
#include <vector>

namespace Novaro
{
namespace DataGen
{

namespace
{

const int moviesPerSecond = 25;
const int movieFrames = 100; // four seconds, looping
const int frameCodeBandHeight = 16;

struct Colour
{
    int red, green, blue;
};

// Limited-range BT.601, what the MPEG-4 encoder and the player's reader both assume.
void toYuv(const Colour& c, uint8_t& y, uint8_t& u, uint8_t& v)
{
    y = static_cast<uint8_t>(16.0 + 0.257 * c.red + 0.504 * c.green + 0.098 * c.blue);
    u = static_cast<uint8_t>(128.0 - 0.148 * c.red - 0.291 * c.green + 0.439 * c.blue);
    v = static_cast<uint8_t>(128.0 + 0.439 * c.red - 0.368 * c.green - 0.071 * c.blue);
}

// A painter for MovieDescription: the picture from colourAt(frame, x, y), then the frame code.
std::function<void(int, uint8_t*, int, uint8_t*, uint8_t*, int)>
picturePainter(int width, int height, std::function<Colour(int, int, int)> colourAt)
{
    return [=](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red, int chromaStride)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
            {
                uint8_t u, v;
                toYuv(colourAt(index, x, y), luma[y * lumaStride + x], u, v);
                if (x % 2 == 0 && y % 2 == 0)
                {
                    blue[(y / 2) * chromaStride + x / 2] = u;
                    red[(y / 2) * chromaStride + x / 2] = v;
                }
            }
        NovaroTest::paintFrameCode(index, width, frameCodeBandHeight, luma, lumaStride, blue, red,
                                   chromaStride);
    };
}

bool writeChromaMovie(const std::string& path)
{
    NovaroTest::MovieDescription movie;
    movie.width = 192;
    movie.height = 144;
    movie.frames = movieFrames;
    movie.framesPerSecond = moviesPerSecond;
    movie.toneHz = 440.0;
    movie.sampleRate = 22050;
    // A 150 ms beep at every half second, faded in and out so it does not click.
    movie.toneLevel = [](double seconds)
    {
        const double phase = std::fmod(seconds, 0.5);
        return phase < 0.15 ? std::sin(M_PI * phase / 0.15) : 0.0;
    };
    movie.paint =
        picturePainter(movie.width, movie.height,
                       [](int index, int x, int y)
                       {
                           // One turn of a 40-pixel circle per loop of the movie.
                           const double angle = 2.0 * M_PI * index / movieFrames;
                           const double cx = 96.0 + 40.0 * std::cos(angle);
                           const double cy = 80.0 + 40.0 * std::sin(angle);
                           const double dx = x - cx, dy = y - cy;
                           return dx * dx + dy * dy < 22.0 * 22.0 ? Colour{220, 40, 40} : Colour{30, 190, 60};
                       });
    return NovaroTest::writeMovie(path, movie);
}

bool writeScreenMovie(const std::string& path)
{
    static const Colour bars[] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                  {235, 16, 235},  {235, 16, 16},  {16, 16, 235}};
    NovaroTest::MovieDescription movie;
    movie.width = 256;
    movie.height = 128;
    movie.frames = movieFrames;
    movie.framesPerSecond = moviesPerSecond;
    movie.paint = picturePainter(movie.width, movie.height,
                                 [](int index, int x, int)
                                 {
                                     const int shifted = (x + index * 4) % 256;
                                     return bars[shifted * 7 / 256];
                                 });
    return NovaroTest::writeMovie(path, movie);
}

// Mono 16-bit sound from level(t) * sin(2 pi f t), written in the format of the extension.
bool writeTone(const std::string& path, double seconds, const std::function<double(double)>& sample)
{
    const unsigned int rate = 22050;
    sf::OutputSoundFile file;
    if (!file.openFromFile(path, rate, 1))
        return false;
    std::vector<sf::Int16> samples(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<sf::Int16>(9000.0 * sample(static_cast<double>(i) / rate));
    file.write(samples.data(), samples.size());
    return true;
}

bool writeChime(const std::string& path)
{
    return writeTone(path, 1.0,
                     [](double t) { return std::exp(-3.0 * t) * std::sin(2.0 * M_PI * 660.0 * t); });
}

// Bells every three quarters of a second; six seconds hold eight of them, so the loop is seamless.
bool writeBells(const std::string& path)
{
    return writeTone(path, 6.0,
                     [](double t)
                     {
                         const double sinceBell = std::fmod(t, 0.75);
                         return std::exp(-5.0 * sinceBell) * std::sin(2.0 * M_PI * 880.0 * t);
                     });
}

// A rectangle in the plane z = 'height' with texture coordinates (s0, t0)-(s1, t1) and a grey
// placeholder texture on unit 0 of its own state, where a movie will take the placeholder's unit.
osg::ref_ptr<osg::Geode> makeScreen(const std::string& name, float width, float depth, float height,
                                    const osg::Vec2& low, const osg::Vec2& high)
{
    osg::ref_ptr<osg::Geometry> plane = new osg::Geometry;
    plane->setName(name);
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array;
    corners->push_back(osg::Vec3(-width / 2, -depth / 2, height));
    corners->push_back(osg::Vec3(width / 2, -depth / 2, height));
    corners->push_back(osg::Vec3(width / 2, depth / 2, height));
    corners->push_back(osg::Vec3(-width / 2, depth / 2, height));
    plane->setVertexArray(corners.get());
    osg::ref_ptr<osg::Vec3Array> normal = new osg::Vec3Array;
    normal->push_back(osg::Vec3(0.0f, 0.0f, 1.0f));
    plane->setNormalArray(normal.get(), osg::Array::BIND_OVERALL);
    osg::ref_ptr<osg::Vec2Array> coordinates = new osg::Vec2Array;
    coordinates->push_back(low);
    coordinates->push_back(osg::Vec2(high.x(), low.y()));
    coordinates->push_back(high);
    coordinates->push_back(osg::Vec2(low.x(), high.y()));
    plane->setTexCoordArray(0, coordinates.get());
    plane->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));

    osg::ref_ptr<osg::Image> grey = new osg::Image;
    grey->allocateImage(4, 4, 1, GL_RGB, GL_UNSIGNED_BYTE);
    std::fill(grey->data(), grey->data() + grey->getTotalSizeInBytes(), 90);
    plane->getOrCreateStateSet()->setTextureAttributeAndModes(0, new osg::Texture2D(grey.get()),
                                                              osg::StateAttribute::ON);
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->setName(name);
    geode->addDrawable(plane.get());
    return geode;
}

bool writeModel(const osg::Node& node, const std::string& path)
{
    // The placeholder images travel inside the model.
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=IncludeData");
    return osgDB::writeNodeFile(node, path, options.get());
}

// A 110 x 82 mm screen lying on the marker, a little above it so the marker does not show through.
bool writeVideoPlane(const std::string& path)
{
    return writeModel(*makeScreen("Plane", 110.0f, 82.5f, 0.5f, osg::Vec2(0, 0), osg::Vec2(1, 1)), path);
}

// A dark slab with a screen on top. The movie fills only part of its power-of-two texture (256 x 128
// of 512 x 256) and reaches the plane upside down, so the screen's coordinates pick that part:
// s from 0 to 0.5, t from 0.5 to 1.
bool writeTablet(const std::string& path)
{
    osg::ref_ptr<osg::Group> tablet = new osg::Group;
    tablet->setName("Tablet");
    osg::ref_ptr<osg::Geode> body = makeScreen("Body", 116.0f, 64.0f, 6.0f, osg::Vec2(0, 0), osg::Vec2(1, 1));
    osg::ref_ptr<osg::Material> dark = new osg::Material;
    dark->setDiffuse(osg::Material::FRONT_AND_BACK, osg::Vec4(0.1f, 0.1f, 0.12f, 1.0f));
    body->getOrCreateStateSet()->setAttributeAndModes(dark.get(), osg::StateAttribute::ON);
    body->getDrawable(0)->getOrCreateStateSet()->setTextureMode(0, GL_TEXTURE_2D, osg::StateAttribute::OFF);
    tablet->addChild(body.get());
    tablet->addChild(
        makeScreen("Screen1", 100.0f, 50.0f, 6.5f, osg::Vec2(0.0f, 0.5f), osg::Vec2(0.5f, 1.0f)));
    return writeModel(*tablet, path);
}

bool writeWith(const std::string& folder, const std::string& name, bool (*write)(const std::string&))
{
    const std::string path = osgDB::concatPaths(folder, name);
    if (!osgDB::makeDirectoryForFile(path) || !write(path))
    {
        osg::notify(osg::FATAL) << "Cannot write " << path << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "Written " << path << std::endl;
    return true;
}

} // namespace

bool writeSampleMedia(const std::string& folder)
{
    bool ok = writeWith(folder, "movies/chroma.mov", writeChromaMovie);
    ok = writeWith(folder, "movies/screen.mov", writeScreenMovie) && ok;
    ok = writeWith(folder, "models/screen.osgb", writeVideoPlane) && ok;
    ok = writeWith(folder, "models/tablet.osgb", writeTablet) && ok;
    ok = writeWith(folder, "sounds/chime.wav", writeChime) && ok;
    ok = writeWith(folder, "sounds/bells.ogg", writeBells) && ok;
    return ok;
}

} // namespace DataGen
} // namespace Novaro
