// Shadows as the user sees them: the real player on a still camera frame of one marker carrying a
// ground plate and a red box floating above it, lit by a directional light at 45 degrees. The
// same scene without the box is the reference: where the plate is clearly darker with the box
// than without it (away from the box itself), the box's shadow lies. The same scene shows whether
// antialiasing reaches the picture: the box's edges over the plate.
#include "SampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include <osg/Image>
#include <osg/LightSource>
#include <osg/Material>
#include <osg/MatrixTransform>
#include <osg/ShapeDrawable>
#include <osg/io_utils>
#include <osgDB/ReadFile>
#include <osgDB/WriteFile>

using namespace NovaroTest;

namespace
{

osg::ref_ptr<osg::Node> makeBox(const osg::Vec3& centre, const osg::Vec3& size, const osg::Vec4& colour,
                                bool glowing)
{
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    geode->addDrawable(new osg::ShapeDrawable(new osg::Box(centre, size.x(), size.y(), size.z())));
    osg::ref_ptr<osg::Material> material = new osg::Material;
    material->setDiffuse(osg::Material::FRONT_AND_BACK, colour);
    material->setAmbient(osg::Material::FRONT_AND_BACK, colour);
    // The box glows, so that its faces turned from the light stay red and never pass for shadow.
    if (glowing)
        material->setEmission(osg::Material::FRONT_AND_BACK, colour);
    geode->getOrCreateStateSet()->setAttributeAndModes(material.get());
    return geode;
}

// A directional light from a model: shining along (x, 0, -1), turned there by its parent transform.
osg::ref_ptr<osg::Node> makeLightModel(double x)
{
    osg::ref_ptr<osg::Light> light = new osg::Light(0);
    light->setPosition(osg::Vec4(0.0f, 0.0f, 1.0f, 0.0f));
    light->setDiffuse(osg::Vec4(0.9f, 0.9f, 0.9f, 1.0f));
    osg::ref_ptr<osg::LightSource> source = new osg::LightSource;
    source->setLight(light.get());
    osg::ref_ptr<osg::MatrixTransform> transform =
        new osg::MatrixTransform(osg::Matrix::rotate(osg::Vec3d(0.0, 0.0, -1.0), osg::Vec3d(x, 0.0, -1.0)));
    transform->addChild(source.get());
    return transform;
}

std::string objectEntry(const std::string& name, const std::string& type, const std::string& source,
                        const std::string& properties = std::string(),
                        const std::string& transforms = std::string())
{
    return "<object name=\"" + name + "\" type=\"" + type + "\" use_properties=\"" +
           (properties.empty() ? "false" : "true") + "\"><model source=\"" + source + "\"/><properties>" +
           properties + "</properties><markers><marker id=\"1\" layer=\"0\"/></markers>" +
           (transforms.empty() ? "" : "<transforms>" + transforms + "</transforms>") + "</object>";
}

std::string lightFromProperties(double x, const std::string& transforms = std::string())
{
    return objectEntry(
        "sun", "ARLight", "",
        "<property name=\"directional\">true</property>"
        "<property name=\"position_x\">" +
            std::to_string(x) +
            "</property><property name=\"position_y\">0</property>"
            "<property name=\"position_z\">-1</property><property name=\"detail\">low</property>",
        transforms);
}

// Frames each play runs: the marker is shown from the second, the shadow techniques that fit
// their maps to the view settle on the next; one more for safety.
const int framesPerPlay = 4;

// A screenshot's pixels read once: the checks below look at every pixel's neighbourhood, and
// osg::Image works out the row layout again on every access.
class Pixels
{
public:
    explicit Pixels(const osg::Image& image)
        : _width(image.s()), _brightness(size_t(image.s()) * image.t()), _box(_brightness.size())
    {
        const int bytesPerPixel = int(image.getPixelSizeInBits() / 8);
        for (int y = 0; y < image.t(); ++y)
        {
            const unsigned char* pixel = image.data(0, y);
            for (int x = 0; x < image.s(); ++x, pixel += bytesPerPixel)
            {
                _brightness[index(x, y)] = pixel[0] + pixel[1] + pixel[2];
                _box[index(x, y)] = pixel[0] > 60 && pixel[0] > 2 * (pixel[1] + pixel[2]);
            }
        }
    }
    int brightness(int x, int y) const { return _brightness[index(x, y)]; }
    bool isBox(int x, int y) const { return _box[index(x, y)]; }

private:
    size_t index(int x, int y) const { return size_t(y) * _width + x; }
    int _width;
    std::vector<int> _brightness;
    std::vector<bool> _box;
};

// The tracked pose differs by a pixel or two between runs: only pixels well inside an evenly lit
// area of the reference picture (plate or background, not their edge) are compared.
bool evenAround(const Pixels& image, int x, int y, int radius)
{
    int lowest = image.brightness(x, y), highest = lowest;
    for (int dy = -radius; dy <= radius; ++dy)
        for (int dx = -radius; dx <= radius; ++dx)
        {
            const int value = image.brightness(x + dx, y + dy);
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
    return highest - lowest <= highest / 10;
}

struct Darkening
{
    int pixels = 0;
    osg::Vec2d offset; // from the box's centre to the darkened area's, in window pixels
};

// The plate pixels clearly darker with the box than without it, at least 3 pixels from the box.
Darkening darkening(const osg::Image& withBoxImage, const osg::Image& withoutImage)
{
    const Pixels withBox(withBoxImage), without(withoutImage);
    Darkening result;
    osg::Vec2d shadowSum, boxSum;
    int boxPixels = 0;
    const int margin = 3;
    for (int y = margin + 1; y < withBoxImage.t() - margin - 1; ++y)
        for (int x = margin + 1; x < withBoxImage.s() - margin - 1; ++x)
        {
            if (withBox.isBox(x, y))
            {
                boxSum += osg::Vec2d(x, y);
                ++boxPixels;
                continue;
            }
            bool nearBox = false;
            for (int dy = -margin; dy <= margin && !nearBox; ++dy)
                for (int dx = -margin; dx <= margin && !nearBox; ++dx)
                    nearBox = withBox.isBox(x + dx, y + dy);
            const int reference = without.brightness(x, y);
            if (!nearBox && reference > 150 && withBox.brightness(x, y) < 0.8 * reference &&
                evenAround(without, x, y, margin + 1))
            {
                shadowSum += osg::Vec2d(x, y);
                ++result.pixels;
            }
        }
    if (result.pixels > 0 && boxPixels > 0)
        result.offset = shadowSum / result.pixels - boxSum / boxPixels;
    return result;
}

// A shadow area worth the name in a 512 x 384 window: the box alone covers some 1800 pixels.
const int shadowPixels = 800;

} // namespace

// Colours along the box's outline: without multisampling every pixel is the box's or the plate's,
// with it the edge pixels mix the two.
int mixedEdgePixels(const osg::Image& image)
{
    int mixed = 0;
    for (int y = 1; y < image.t() - 1; ++y)
        for (int x = 1; x < image.s() - 1; ++x)
        {
            const unsigned char* pixel = image.data(x, y);
            // Between the box's red (green near 0) and the plate's grey, on neither.
            if (pixel[0] > pixel[1] + 30 && pixel[1] > 60 && pixel[1] < 150)
                ++mixed;
        }
    return mixed;
}

// Every technique of both modes shadows the plate away from the light (one unshadowed reference
// serves every technique of a mode: without the box nothing casts a shadow, and the techniques
// light the bare plate alike); a light from a model shadows as the same light from properties
// does; a degenerate sun, or no light, darkens nothing; antialiasing mixes the box's edge colours.
TEST(ShadowsEndToEnd, EveryTechniqueAndLightShadowsThePlateAwayFromTheLightAndNoneDarkensIt)
{
    NOVARO_REQUIRE_DISPLAY();
    // The sample installation with marker 1 alone, large and nearly facing the camera. The window is
    // not full screen (as in the sample): the scene is drawn at the window's size, so the window
    // shows the rendered picture pixel for pixel, unfiltered.
    SampleScene scene(
        "--pattern patterns/marker_1.patt --markers 1 --size 80 --min-width 150 --max-width 170 "
        "--max-tilt 25 --no-clutter --seed 3",
        1);
    const TemporaryFolder& folder = scene.directory();
    EXPECT_TRUE(osgDB::writeNodeFile(
        *makeBox(osg::Vec3(0, 0, -1), osg::Vec3(200, 200, 2), osg::Vec4(0.8f, 0.8f, 0.8f, 1), false),
        folder.file("models/plate.osgt")));
    EXPECT_TRUE(osgDB::writeNodeFile(
        *makeBox(osg::Vec3(0, 0, 45), osg::Vec3(30, 30, 30), osg::Vec4(0.9f, 0.05f, 0.05f, 1), true),
        folder.file("models/box.osgt")));
    EXPECT_TRUE(osgDB::writeNodeFile(*makeLightModel(1.0), folder.file("models/light.osgt")));
    stillFrameWithoutSmoothing(scene);
    std::string output; // the console of the last play
    // The window picture with the given light entry ("" for none), with and without the box.
    const auto play = [&](const std::string& light, bool withBox, const std::string& mode = "direct",
                          const std::string& technique = "sm")
    {
        std::string objects = objectEntry("plate", "ARObject", "models/plate.osgt") + light;
        if (withBox)
            objects += objectEntry("box", "ARObject", "models/box.osgt");
        writeSceneFile(folder, objects);
        folder.write("lighting.xml", "<lighting name=\"test\"><parameters><parameter name=\"mode\">" + mode +
                                         "</parameter><parameter name=\"compatibility_hint\">max</parameter>"
                                         "<parameter name=\"shadow_technique\">" +
                                         technique + "</parameter></parameters></lighting>");
        std::filesystem::remove(folder.file("shot.png"));
        PlayerRun run = scene.play({"-max_frames", std::to_string(framesPerPlay)});
        EXPECT_EQ(0, run.status);
        output = run.output;
        return scene.screenshot();
    };
    osg::ref_ptr<osg::Image> litByProperties; // drawn directly
    for (const std::string mode : {"direct", "deferred"})
    {
        SCOPED_TRACE(mode);
        osg::ref_ptr<osg::Image> lit = play(lightFromProperties(1.0), false, mode);
        osg::ref_ptr<osg::Image> shadowed = play(lightFromProperties(1.0), true, mode);
        osg::ref_ptr<osg::Image> fromBehind = play(lightFromProperties(-1.0), true, mode);
        ASSERT_TRUE(lit.valid() && shadowed.valid() && fromBehind.valid());
        litByProperties = litByProperties ? litByProperties : lit;
        const Darkening forward = darkening(*shadowed, *lit);
        const Darkening backward = darkening(*fromBehind, *lit);
        EXPECT_GT(forward.pixels, shadowPixels);
        EXPECT_GT(backward.pixels, shadowPixels);
        // Turning the light round moves the shadow to the box's other side.
        EXPECT_LT(forward.offset * backward.offset, 0.0) << forward.offset << " / " << backward.offset;
        for (const std::string technique : {"ssm", "stsm", "vdsm"})
        {
            SCOPED_TRACE(technique);
            osg::ref_ptr<osg::Image> picture = play(lightFromProperties(1.0), true, mode, technique);
            ASSERT_TRUE(picture.valid());
            EXPECT_GT(darkening(*picture, *lit).pixels, shadowPixels);
        }
    }

    const std::string modelLight = objectEntry("lamp", "ARLight", "models/light.osgt");
    osg::ref_ptr<osg::Image> lit = play(modelLight, false);
    osg::ref_ptr<osg::Image> shadowed = play(modelLight, true);
    ASSERT_TRUE(lit.valid() && shadowed.valid());
    const Darkening fromModel = darkening(*shadowed, *lit);
    EXPECT_GT(fromModel.pixels, shadowPixels);

    // The same light from properties throws the same shadow.
    osg::ref_ptr<osg::Image> fromProperties = play(lightFromProperties(1.0), true);
    ASSERT_TRUE(fromProperties.valid());
    EXPECT_GT(darkening(*fromProperties, *lit).pixels, shadowPixels);
    EXPECT_GT(fromModel.offset * darkening(*fromProperties, *lit).offset, 0.0);

    // A degenerate sun leaves the plate lit: without the guard the whole plate comes out black. (An
    // object too far to cast a shadow: the shadows manager's tests.)
    for (const auto& [name, light] :
         {std::make_pair("sun of scale 0", lightFromProperties(1.0, "<scale x=\"0\" y=\"0\" z=\"0\"/>")),
          std::make_pair("sun turned to nan", lightFromProperties(std::nan("")))})
    {
        SCOPED_TRACE(name);
        osg::ref_ptr<osg::Image> picture = play(light, false);
        ASSERT_TRUE(picture.valid());
        EXPECT_LT(darkening(*picture, *litByProperties).pixels, shadowPixels);
        EXPECT_EQ(countLinesHolding(output, " WARNING: light sun "), 1) << output;
    }

    // Full screen from here on: the window then shows the scene's render target (the screen's
    // size) pixel for pixel, so only multisampling can mix the box's edge colours.
    setConfigurationParameter(scene, "fullscreen", "true");
    osg::ref_ptr<osg::Image> unlitPlate = play("", false);
    osg::ref_ptr<osg::Image> unlitBox = play("", true);
    ASSERT_TRUE(unlitPlate.valid() && unlitBox.valid());
    EXPECT_LT(darkening(*unlitBox, *unlitPlate).pixels, 50);
    // Without a light the shadows have no technique, and the loop's last set-up says so.
    EXPECT_NE(std::string::npos, output.find("WARNING: cannot init shadow technique (finalize).")) << output;

    // (Multisampling costs the software renderer a third of every frame: only here is it on.)
    setConfigurationParameter(scene, "use_antialiasing", "true");
    osg::ref_ptr<osg::Image> antialiased = play("", true);
    ASSERT_TRUE(antialiased.valid());
    EXPECT_LT(mixedEdgePixels(*unlitBox), 5);
    EXPECT_GT(mixedEdgePixels(*antialiased), 40);
}
