// Movies in the scene: a video object's plane and the video textures of other objects named by
// the scene's videos table, on real movies written here, and the chroma key drawn.
#include "app/ARApplication.h"
#include "scene/ARVideo.h"
#include "scene/VideoTexture.h"

#include "../common/Display.h"
#include "../common/NotifyCapture.h"
#include "../common/RunDirectory.h"
#include "../common/TemporaryFolder.h"
#include "../common/VideoScreens.h"
#include "MovieWriter.h"

#include <gtest/gtest.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Program>
#include <osg/TexMat>
#include <osg/Texture2D>
#include <osgViewer/Viewer>

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

class Movies : public ::testing::Test
{
protected:
    void SetUp() override
    {
        usePluginFolder();
        ASSERT_TRUE(writeGreyRampMovie(_folder.file("clip.mp4"), 5, 64, 48, 25));
    }
    TemporaryFolder _folder;
};

} // namespace

TEST(VideoTexture, UnitChoiceSubloadSizesAndShaderUnit)
{
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
}

TEST_F(Movies, AVideoObjectPutsItsMovieOnTheTopTextureOfItsPlane)
{
    osg::ref_ptr<osg::Geode> plane = screen({0, 2});
    osg::ref_ptr<ARVideo> video = new ARVideo(plane.get());
    video->setupVideo(_folder.file("clip.mp4"), false);
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

    video->play();
    EXPECT_EQ(osg::ImageStream::PLAYING, video->getStream()->getStatus());
    video->togglePause();
    EXPECT_EQ(osg::ImageStream::PAUSED, video->getStream()->getStatus());
    video->setLoop(false);
    video->toggleLoop();
    EXPECT_EQ(osg::ImageStream::LOOPING, video->getStream()->getLoopingMode());
}

TEST_F(Movies, AChromaKeyedVideoGetsTheKeyProgramOnItsUnit)
{
    osg::ref_ptr<osg::Geode> plane = screen({0});
    osg::ref_ptr<ARVideo> video = new ARVideo(plane.get());
    video->setChromaKey(true);
    video->setChromaKeyFromGreenScreen(false);
    video->setupVideo(_folder.file("clip.mp4"), true);
    osg::StateSet* state = planeState(plane.get());
    const osg::Program* program =
        dynamic_cast<const osg::Program*>(state->getAttribute(osg::StateAttribute::PROGRAM));
    ASSERT_TRUE(program && program->getNumShaders() == 2u && state->getUniform("baseTexture"));
    EXPECT_NE(std::string::npos,
              program->getShader(1)->getShaderSource().find("colour.b - max(colour.g, colour.r)"));
    int unit = -1;
    state->getUniform("baseTexture")->get(unit);
    EXPECT_EQ(0, unit);
    EXPECT_EQ(osg::StateSet::TRANSPARENT_BIN, state->getRenderingHint());
    EXPECT_EQ(nullptr, state->getTextureAttribute(0, osg::StateAttribute::TEXMAT));
}

TEST_F(Movies, VideoObjectFailuresAreReportedAndLeaveTheObject)
{
    NotifyCapture capture;
    osg::ref_ptr<ARVideo> noFile = new ARVideo(screen({0}).get());
    noFile->setupVideo("", true);
    noFile->play();
    noFile->togglePause();
    EXPECT_TRUE(capture.printed(" WARNING: could not create video node: missing video file name."));
    EXPECT_EQ(nullptr, noFile->getStream());

    osg::ref_ptr<ARVideo> unreadable = new ARVideo(screen({0}).get());
    const std::string text = _folder.write("notes.mp4", "not a movie");
    unreadable->setupVideo(text, true);
    EXPECT_TRUE(capture.printed(" WARNING: unable to read file: " + text));

    osg::ref_ptr<ARVideo> bare = new ARVideo(screen({}).get());
    bare->setupVideo(_folder.file("clip.mp4"), true);
    EXPECT_TRUE(capture.printed(" WARNING: could not find any valid texture for video object."));
}

TEST_F(Movies, VideoTexturesFollowTheScenesTableByTag)
{
    ASSERT_TRUE(writeSceneWithVideos(
        _folder, {{"Screen1", "clip.mp4"}, {"Screen2", "clip.mp4"}, {"Missing", "clip.mp4"}}));
    ARApplication application;
    application.setTemporaryDirectory(_folder.path());
    ASSERT_TRUE(application.setSceneConfiguration("scene.xml"));

    osg::ref_ptr<osg::Group> model = screensModel({"Screen1", "Screen2"});
    osg::ref_ptr<ARObject> object = new ARObject(model.get());
    object->setContext(&application);
    // (A tag this object lacks is left to the scene loading, which knows whether any object has it.)
    object->setupVideoTextures();
    // Named by the movie as the table writes it, not by the tag.
    EXPECT_EQ((std::vector<std::string>{"clip.mp4", "clip.mp4"}), object->getVideoNames());
    ASSERT_EQ(2u, object->getVideoStreams().size());

    object->playVideo("clip.mp4");
    for (const auto& stream : object->getVideoStreams())
        EXPECT_EQ(osg::ImageStream::PLAYING, stream->getStatus());
    object->pauseVideo("other.mp4");
    EXPECT_EQ(osg::ImageStream::PLAYING, object->getVideoStreams()[0]->getStatus());

    // (Full window without a name among two movies: the actions test.)
    object->setupVideoTextures(); // a second time: nothing more
    EXPECT_EQ(2u, object->getVideoStreams().size());
}

namespace
{

// Draws a window-filling quad textured with one row of 'pixels' through the chroma-key program
// on a red background and reads the window back.
osg::ref_ptr<osg::Image> drawKeyed(const std::vector<osg::Vec3>& pixels, bool greenKey)
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
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, chromaKeyFragmentShader(greenKey)));
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

} // namespace

TEST(ChromaKey, KeyColouredPixelsGoAndOthersStay)
{
    NOVARO_REQUIRE_DISPLAY();
    // Blue key: (0.05, 0.05, 0.50) is 0.45 into the key and goes; (0.30, 0.30, 0.35) is 0.05 in
    // and stays; a green pixel means nothing to the blue key.
    osg::ref_ptr<osg::Image> blue = drawKeyed(
        {{0.05f, 0.05f, 0.50f}, {0.30f, 0.30f, 0.35f}, {0.05f, 0.60f, 0.05f}, {0.9f, 0.9f, 0.9f}}, false);
    ASSERT_NE(nullptr, blue->data());
    const osg::Vec3 background(1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 8) - background).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 24) - osg::Vec3(0.30f, 0.30f, 0.35f)).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*blue, 40) - osg::Vec3(0.05f, 0.60f, 0.05f)).length(), 0.02f);

    osg::ref_ptr<osg::Image> green = drawKeyed({{0.05f, 0.05f, 0.50f}, {0.05f, 0.60f, 0.05f}}, true);
    EXPECT_NEAR(0.0f, (windowPixel(*green, 16) - osg::Vec3(0.05f, 0.05f, 0.50f)).length(), 0.02f);
    EXPECT_NEAR(0.0f, (windowPixel(*green, 48) - background).length(), 0.02f);
}
