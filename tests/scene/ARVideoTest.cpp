// Movies on scene objects: the video object, video textures, the chroma key and the node visitors.
#include "scene/ARVideo.h"
#include "Display.h"
#include "MovieWriter.h"
#include "NotifyCapture.h"
#include "RunDirectory.h"
#include "SceneTestSupport.h"
#include "TemporaryFolder.h"
#include "VideoScreens.h"
#include "app/ARApplication.h"
#include "scene/ARGeodeVisitor.h"
#include "scene/ARLightSourceVisitor.h"
#include "scene/ARObject.h"
#include "scene/ARTextureUnitsVisitor.h"
#include "scene/ARTextureUnitsVisitorMover.h"
#include "scene/TextureUnitRenaming.h"
#include "scene/VideoTexture.h"
#include "tracking/ARNodeSearchByNameVisitor.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Program>
#include <osg/TexEnv>
#include <osg/TexEnvCombine>
#include <osg/TexMat>
#include <osg/Texture2D>
#include <osg/TextureRectangle>
#include <osgViewer/Viewer>

#include <gtest/gtest.h>

#include <vector>

using namespace Novaro;
using namespace NovaroTest;

namespace
{

// The state set of a screen's one quad.
osg::StateSet* planeState(osg::Geode* geode)
{
    return geode->getDrawable(0)->getOrCreateStateSet();
}

// Draws a window-filling quad textured with one row of 'pixels' through the blue chroma-key
// program on a red background and reads the window back.
osg::ref_ptr<osg::Image> drawKeyed(const std::vector<osg::Vec3>& pixels)
{
    osg::ref_ptr<osg::Image> row = new osg::Image;
    row->allocateImage(static_cast<int>(pixels.size()), 1, 1, GL_RGB, GL_FLOAT);
    for (size_t index = 0; index < pixels.size(); ++index)
        reinterpret_cast<osg::Vec3*>(row->data())[index] = pixels[index];
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(row.get());
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::NEAREST);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::NEAREST);
    texture->setResizeNonPowerOfTwoHint(false);

    osg::ref_ptr<osg::Geode> quad = new osg::Geode;
    quad->addDrawable(osg::createTexturedQuadGeometry(
        osg::Vec3(-1.0f, -1.0f, 0.0f), osg::Vec3(2.0f, 0.0f, 0.0f), osg::Vec3(0.0f, 2.0f, 0.0f)));
    osg::StateSet* state = quad->getOrCreateStateSet();
    state->setTextureAttributeAndModes(0, texture.get());
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(new osg::Shader(osg::Shader::VERTEX, chromaKeyVertexShader(0)));
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, chromaKeyFragmentShader(false)));
    state->setAttributeAndModes(program.get());
    state->addUniform(new osg::Uniform("baseTexture", 0));

    osg::ref_ptr<osgViewer::Viewer> viewer = new osgViewer::Viewer;
    viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    viewer->setUpViewInWindow(20, 20, 64, 16);
    viewer->getCamera()->setClearColor(osg::Vec4(1.0f, 0.0f, 0.0f, 1.0f));
    viewer->getCamera()->setProjectionMatrix(osg::Matrix::identity());
    viewer->getCamera()->setViewMatrix(osg::Matrix::identity());
    viewer->setCameraManipulator(nullptr);
    viewer->setSceneData(quad.get());
    osg::ref_ptr<osg::Image> window = new osg::Image;
    struct ReadBack : osg::Camera::DrawCallback
    {
        explicit ReadBack(osg::Image* image) : _image(image) {}
        void operator()(osg::RenderInfo&) const override
        {
            _image->readPixels(0, 0, 64, 16, GL_RGB, GL_FLOAT);
        }
        osg::Image* _image;
    };
    viewer->getCamera()->setFinalDrawCallback(new ReadBack(window.get()));
    viewer->frame();
    viewer->frame();
    return window;
}

osg::Vec3 windowPixel(const osg::Image& window, int column)
{
    return *reinterpret_cast<const osg::Vec3*>(window.data(column, 8));
}

osg::ref_ptr<osg::Group> namedGroup(const std::string& name)
{
    osg::ref_ptr<osg::Group> group = new osg::Group;
    group->setName(name);
    return group;
}

} // namespace

// Movies in the scene: a video object's plane and the video textures of other objects named by
// the scene's videos table, on real movies written here.

TEST(Movies, AVideoGoesOnItsPlanesTopUnitKeyedIfAskedOrSaysWhyNotAndOtherObjectsFollowTheTable)
{
    usePluginFolder();
    TemporaryFolder folder;
    ASSERT_TRUE(writeGreyRampMovie(folder.file("clip.mp4"), 5, 64, 48, 25));
    osg::ref_ptr<osg::Geode> plane = screen({0, 2});
    osg::ref_ptr<ARVideo> video = new ARVideo(plane.get());
    video->setupVideo(folder.file("clip.mp4"), false);
    ASSERT_NE(nullptr, video->getStream());
    EXPECT_EQ(64.0f, video->getWidth());
    osg::StateSet* state = planeState(plane.get());
    const osg::Texture2D* movie =
        dynamic_cast<const osg::Texture2D*>(state->getTextureAttribute(2, osg::StateAttribute::TEXTURE));
    // Movie rows come top first: the plane shows them flipped.
    const osg::TexMat* flip =
        dynamic_cast<const osg::TexMat*>(state->getTextureAttribute(2, osg::StateAttribute::TEXMAT));
    ASSERT_TRUE(movie && flip);
    EXPECT_EQ(video->getStream(), movie->getImage());
    EXPECT_EQ(osg::Matrix::scale(1.0, -1.0, 1.0), flip->getMatrix());
    EXPECT_EQ(osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED, state->getMode(GL_LIGHTING));
    // (Playing, pausing and looping it: the actions test's commands.)

    // A chroma-keyed video gets the key program on its unit.
    osg::ref_ptr<osg::Geode> keyedPlane = screen({0});
    osg::ref_ptr<ARVideo> keyed = new ARVideo(keyedPlane.get());
    keyed->setChromaKey(true);
    keyed->setChromaKeyFromGreenScreen(false);
    keyed->setupVideo(folder.file("clip.mp4"), true);
    state = planeState(keyedPlane.get());
    const osg::Program* program =
        dynamic_cast<const osg::Program*>(state->getAttribute(osg::StateAttribute::PROGRAM));
    // (What the program keys out: the chroma key test draws it.)
    ASSERT_TRUE(program && program->getNumShaders() == 2u && state->getUniform("baseTexture"));
    int unit = -1;
    state->getUniform("baseTexture")->get(unit);
    EXPECT_EQ(0, unit);
    EXPECT_EQ(osg::StateSet::TRANSPARENT_BIN, state->getRenderingHint());
    EXPECT_EQ(nullptr, state->getTextureAttribute(0, osg::StateAttribute::TEXMAT));

    // Failures are reported and leave the object.
    NotifyCapture capture;
    osg::ref_ptr<ARVideo> noFile = new ARVideo(screen({0}).get());
    noFile->setupVideo("", true);
    noFile->play();
    noFile->togglePause();
    EXPECT_TRUE(capture.printed(" WARNING: could not create video node: missing video file name."));
    EXPECT_EQ(nullptr, noFile->getStream());

    osg::ref_ptr<ARVideo> unreadable = new ARVideo(screen({0}).get());
    const std::string text = folder.write("notes.mp4", "not a movie");
    unreadable->setupVideo(text, true);
    EXPECT_TRUE(capture.printed(" WARNING: unable to read file: " + text));

    osg::ref_ptr<ARVideo> bare = new ARVideo(screen({}).get());
    bare->setupVideo(folder.file("clip.mp4"), true);
    EXPECT_TRUE(capture.printed(" WARNING: could not find any valid texture for video object."));

    // Video textures of other objects follow the scene's table by tag.
    ASSERT_TRUE(writeSceneWithVideos(
        folder, {{"Screen1", "clip.mp4"}, {"Screen2", "clip.mp4"}, {"Missing", "clip.mp4"}}));
    ARApplication application;
    application.setTemporaryDirectory(folder.path());
    ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));

    osg::ref_ptr<osg::Group> model = screensModel({"Screen1", "Screen2"});
    osg::ref_ptr<ARObject> object = new ARObject(model.get());
    object->setContext(&application);
    // (A tag this object lacks is left to the scene loading, which knows whether any object has it.)
    object->setupVideoTextures();
    // Named by the movie as the table writes it, not by the tag.
    EXPECT_EQ((std::vector<std::string>{"clip.mp4", "clip.mp4"}), object->getVideoNames());
    ASSERT_EQ(2u, object->getVideoStreams().size());
    // (Playing them by name, and the full window among two movies: the actions test.)
    object->setupVideoTextures(); // a second time: nothing more
    EXPECT_EQ(2u, object->getVideoStreams().size());

    // The texture unit chosen, the subload's sizes, the shader's unit and its renaming.
    // The movie takes the highest textured unit of 0 to 3.
    EXPECT_EQ(2, highestTexturedUnit(planeState(screen({0, 2}).get())));
    EXPECT_EQ(-1, highestTexturedUnit(planeState(screen({}).get())));
    EXPECT_EQ(-1, highestTexturedUnit(planeState(screen({5}).get())));

    // Strictly above: a power of two goes to the next one.
    osg::ref_ptr<osg::Image> image = new osg::Image;
    image->allocateImage(1024, 512, 1, GL_RGB, GL_UNSIGNED_BYTE);
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image.get());
    osg::ref_ptr<ITexture2DSubloadCallback> subload = new ITexture2DSubloadCallback(texture.get());
    EXPECT_EQ(2048.0, subload->getTextureWidth());
    EXPECT_EQ(1024.0, subload->getTextureHeight());
    EXPECT_EQ(2048, texture->getTextureWidth());
    EXPECT_EQ(1024, ITexture2DSubloadCallback::powerOfTwoAbove(640));

    const std::string vertex = chromaKeyVertexShader(3);
    EXPECT_NE(std::string::npos, vertex.find("gl_MultiTexCoord3"));
    EXPECT_EQ(std::string::npos, vertex.find("gl_MultiTexCoord0"));

    // Renaming a unit rewrites every token form of the unit only.
    const std::string source =
        "gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;\n"
        "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
        "vec4 p = vec4(gl_EyePlaneS[0].x, gl_EyePlaneT[0].y, gl_EyePlaneR[0].z, gl_EyePlaneQ[0].w);\n"
        "x = gl_TexCoord[0].st + gl_TexCoord[0].st;";
    EXPECT_EQ(replaceTextureUnit(0, 3, source),
              "gl_TexCoord[3] = gl_TextureMatrix[3] * gl_MultiTexCoord3;\n"
              "gl_TexCoord[1] = gl_MultiTexCoord1;\n"
              "vec4 p = vec4(gl_EyePlaneS[3].x, gl_EyePlaneT[3].y, gl_EyePlaneR[3].z, gl_EyePlaneQ[3].w);\n"
              "x = gl_TexCoord[3].st + gl_TexCoord[3].st;");
    EXPECT_EQ(replaceTextureUnit(2, 2, "gl_TexCoord[2]"), "gl_TexCoord[2]");
    // Moving onto a unit and back restores the text when the target unit was not used before.
    EXPECT_EQ(replaceTextureUnit(4, 1, replaceTextureUnit(1, 4, "gl_MultiTexCoord1")), "gl_MultiTexCoord1");
}

// The chroma-key program drawn in a window: key-coloured pixels go and others stay.
TEST(ChromaKey, KeyColouredPixelsGoAndOthersStay)
{
    NOVARO_REQUIRE_DISPLAY();
    // Blue key: (0.05, 0.05, 0.50) is 0.45 into the key and goes; (0.30, 0.30, 0.35) is 0.05 in
    // and stays; a green pixel means nothing to the blue key.
    osg::ref_ptr<osg::Image> blue =
        drawKeyed({{0.05f, 0.05f, 0.50f}, {0.30f, 0.30f, 0.35f}, {0.05f, 0.60f, 0.05f}, {0.9f, 0.9f, 0.9f}});
    ASSERT_NE(nullptr, blue->data());
    const osg::Vec3 background(1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 8) - background).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 24) - osg::Vec3(0.30f, 0.30f, 0.35f)).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 40) - osg::Vec3(0.05f, 0.60f, 0.05f)).length(), 0.02f);
    // (The green key on a real movie over the camera: the media end-to-end test.)
}

// The scene graph visitors: names, geodes, lights and the texture units the movies are put on.

TEST(ARNodeVisitors, FindTheLastMatchInDepthFirstOrderAndRecordAndCompactTextureUnits)
{
    osg::ref_ptr<osg::Group> root = namedGroup("root");
    osg::Group* first = add(root.get(), namedGroup("Screen").get());
    add(add(first, namedGroup("Screen").get()), new osg::Geode); // below a match: never considered
    osg::Group* branch = add(root.get(), namedGroup("branch").get());
    osg::Geode* second = add(branch, new osg::Geode); // a match holding something
    second->setName("Screen");
    second->addDrawable(new osg::Geometry);
    for (const char* other : {"Screen", "screen", "Screen "}) // an empty group, then other names
        root->addChild(namedGroup(other));
    auto found = [&](const std::string& name)
    {
        ARNodeSearchByNameVisitor visitor(name);
        root->accept(visitor);
        return visitor.getNode();
    };
    EXPECT_EQ(found("Screen"), second);
    EXPECT_EQ(found("Scree"), nullptr);

    // With the second one gone, the outer node of the nested pair is the result.
    branch->removeChild(second);
    EXPECT_EQ(found("Screen"), first);

    // A leaf that is not a group is a valid match.
    osg::ref_ptr<osg::Node> leaf = new osg::Node;
    leaf->setName("leaf");
    root->addChild(leaf.get());
    EXPECT_EQ(found("leaf"), leaf.get());

    // The geode and light source visitors find the last one in depth-first order too.
    osg::ref_ptr<osg::Group> lit = new osg::Group;
    add(lit.get(), new osg::Geode);
    add(lit.get(), new osg::LightSource);
    osg::Group* middle = add(lit.get(), new osg::Group);
    add(middle, new osg::Geode);
    osg::LightSource* lastLight = add(middle, new osg::LightSource);
    osg::Geode* geodeUnderLight = add(lastLight, new osg::Geode);

    ARGeodeVisitor geodes;
    lit->accept(geodes);
    EXPECT_EQ(geodes.getGeode(), geodeUnderLight);

    ARLightSourceVisitor lights;
    lit->accept(lights);
    EXPECT_EQ(lights.getLightSource(), lastLight);

    ARGeodeVisitor none;
    namedGroup("empty")->accept(none);
    EXPECT_EQ(none.getGeode(), nullptr);

    // The texture units visitor records units once, in order, and counts combiners.
    // Two drawables alike but for their second texture, and one without a state set.
    osg::ref_ptr<osg::Geode> geode = new osg::Geode;
    for (const auto& [unit, texture] : {std::pair<unsigned int, osg::Texture*>(5, new osg::TextureRectangle),
                                        std::pair<unsigned int, osg::Texture*>(0, new osg::Texture2D)})
    {
        geode->addDrawable(new osg::Geometry);
        osg::StateSet* state = geode->getDrawable(geode->getNumDrawables() - 1)->getOrCreateStateSet();
        state->setTextureAttributeAndModes(2, new osg::Texture2D);
        state->setTextureAttributeAndModes(unit, texture);
        state->setTextureAttribute(1, new osg::TexEnvCombine);
    }
    geode->addDrawable(new osg::Geometry);

    NotifyCapture capture;
    ARTextureUnitsVisitor visitor;
    geode->accept(visitor);

    EXPECT_EQ(visitor.getUsedUnits().size(), 3u); // the list below, each once
    EXPECT_EQ(visitor.getUsedUnitsList(), (std::vector<unsigned int>{2, 5, 0}));
    EXPECT_EQ(visitor.getOpacityUnits(), (std::vector<unsigned int>{1, 1}));
    // Unit 2 met again in the second drawable is not printed a second time.
    EXPECT_EQ(capture.text(osg::FATAL), " Found TU: 2 (Texture2D)\n Found TU: 5\n Found TU: 0 (Texture2D)\n");

    // The mover compacts textures and coordinates, keeping their order.
    // Each drawable's units move down on their own; an environment alone holds its unit too.
    osg::ref_ptr<osg::Geode> moved = new osg::Geode;
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec2Array> coordinatesA = new osg::Vec2Array(1);
    osg::ref_ptr<osg::Vec2Array> coordinatesB = new osg::Vec2Array(1);
    geometry->setTexCoordArray(1, coordinatesA.get());
    geometry->setTexCoordArray(3, coordinatesB.get());
    osg::ref_ptr<osg::Texture2D> textureA = new osg::Texture2D;
    osg::ref_ptr<osg::TextureRectangle> textureB = new osg::TextureRectangle;
    osg::ref_ptr<osg::TexEnv> environmentB = new osg::TexEnv(osg::TexEnv::DECAL);
    osg::StateSet* stateSet = geometry->getOrCreateStateSet();
    stateSet->setTextureAttributeAndModes(1, textureA.get());
    stateSet->setTextureAttribute(3, textureB.get());
    stateSet->setTextureAttribute(3, environmentB.get());
    moved->addDrawable(geometry.get());
    osg::ref_ptr<osg::Geometry> other = new osg::Geometry;
    osg::ref_ptr<osg::TexEnv> otherEnvironment = new osg::TexEnv;
    osg::ref_ptr<osg::Texture2D> otherTexture = new osg::Texture2D;
    osg::StateSet* otherState = other->getOrCreateStateSet();
    otherState->setTextureAttribute(2, otherEnvironment.get());
    otherState->setTextureAttributeAndModes(6, otherTexture.get());
    moved->addDrawable(other.get());

    ARTextureUnitsVisitorMover mover;
    moved->accept(mover);

    EXPECT_EQ((std::vector<const osg::Array*>{coordinatesA.get(), coordinatesB.get(), nullptr, nullptr}),
              (std::vector<const osg::Array*>{geometry->getTexCoordArray(0), geometry->getTexCoordArray(1),
                                              geometry->getTexCoordArray(2), geometry->getTexCoordArray(3)}));
    EXPECT_EQ(stateSet->getTextureMode(0, GL_TEXTURE_2D) & osg::StateAttribute::ON, osg::StateAttribute::ON);
    using A = osg::StateAttribute;
    EXPECT_EQ(
        (std::vector<const A*>{textureA.get(), textureB.get(), environmentB.get(), nullptr, nullptr,
                               otherEnvironment.get(), otherTexture.get(), nullptr}),
        (std::vector<const A*>{
            stateSet->getTextureAttribute(0, A::TEXTURE), stateSet->getTextureAttribute(1, A::TEXTURE),
            stateSet->getTextureAttribute(1, A::TEXENV), stateSet->getTextureAttribute(3, A::TEXTURE),
            stateSet->getTextureAttribute(3, A::TEXENV), otherState->getTextureAttribute(0, A::TEXENV),
            otherState->getTextureAttribute(1, A::TEXTURE), otherState->getTextureAttribute(6, A::TEXTURE)}));
}
