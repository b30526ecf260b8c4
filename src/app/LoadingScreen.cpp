#include "app/LoadingScreen.h"

#include "app/WindowCapture.h"
#include "effects/TextPanel.h"

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/PositionAttitudeTransform>
#include <osgDB/Options>
#include <osgText/Font>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace Novaro
{

namespace
{

const osg::Vec4 backgroundColour(0.12f, 0.12f, 0.14f, 1.0f);
const osg::Vec4 barTrackColour(0.3f, 0.3f, 0.32f, 1.0f);
const osg::Vec4 barColour(0.35f, 0.62f, 0.92f, 1.0f);
// The bar's margin from the window's sides and bottom, and its height, pixels.
const float barMargin = 20.0f;
const float barHeight = 12.0f;

std::chrono::duration<double> seconds(double value)
{
    return std::chrono::duration<double>(value);
}

// A flat rectangle from (left, bottom), in window pixels.
osg::ref_ptr<osg::Geometry> rectangle(float left, float bottom, float width, float height,
                                      const osg::Vec4& colour)
{
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array(4);
    geometry->setVertexArray(corners.get());
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(1);
    (*colours)[0] = colour;
    geometry->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
    geometry->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));
    geometry->setDataVariance(osg::Object::DYNAMIC);
    geometry->setUseDisplayList(false);
    geometry->setUseVertexBufferObjects(true);
    (*corners)[0].set(left, bottom, 0.0f);
    (*corners)[1].set(left + width, bottom, 0.0f);
    (*corners)[2].set(left + width, bottom + height, 0.0f);
    (*corners)[3].set(left, bottom + height, 0.0f);
    return geometry;
}

void setRectangleWidth(osg::Geometry& geometry, float width)
{
    osg::Vec3Array& corners = static_cast<osg::Vec3Array&>(*geometry.getVertexArray());
    corners[1].x() = corners[0].x() + width;
    corners[2].x() = corners[0].x() + width;
    corners.dirty();
    geometry.dirtyBound();
}

} // namespace

LoadingScreen::LoadingScreen(const std::string& title, Clock clock)
    : _title(title), _clock(std::move(clock)), _start(_clock())
{
    _thread = std::thread(&LoadingScreen::run, this);
}

LoadingScreen::~LoadingScreen()
{
    stop();
}

void LoadingScreen::show(const std::string& line, double done)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _line = line;
    _done = std::clamp(done, 0.0, 1.0);
}

void LoadingScreen::stop()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stopping = true;
    }
    _wake.notify_all();
    if (_thread.joinable())
        _thread.join();
}

std::string LoadingScreen::lastDrawnLine() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _drawnLine;
}

unsigned int LoadingScreen::framesDrawn() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _frames;
}

osg::ref_ptr<osg::Image> LoadingScreen::lastPicture() const
{
    std::lock_guard<std::mutex> lock(_mutex);
    return _picture;
}

void LoadingScreen::run()
{
    if (!waitForQuietTimeOrStop() || !openWindow())
        return;
    for (;;)
    {
        drawFrame();
        std::unique_lock<std::mutex> lock(_mutex);
        if (_wake.wait_for(lock, seconds(kRedrawSeconds), [this] { return _stopping; }))
            break;
    }
    closeWindow();
}

// True once loading has lasted the quiet time, false when it ended before.
bool LoadingScreen::waitForQuietTimeOrStop()
{
    std::unique_lock<std::mutex> lock(_mutex);
    for (;;)
    {
        if (_stopping)
            return false;
        const double remaining = kQuietSeconds - (_clock() - _start);
        if (remaining < 0.0)
            return true;
        _wake.wait_for(lock, seconds(std::min(remaining, kRedrawSeconds)));
    }
}

bool LoadingScreen::openWindow()
{
    // Without a display the windowing system would only complain; the console has the progress.
    if (std::getenv("DISPLAY") == nullptr)
        return false;
    osg::GraphicsContext::WindowingSystemInterface* windowing =
        osg::GraphicsContext::getWindowingSystemInterface();
    if (windowing == nullptr)
        return false;
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->setUndefinedScreenDetailsToDefaultScreen();
    unsigned int screenWidth = kWidth;
    unsigned int screenHeight = kHeight;
    windowing->getScreenResolution(*traits, screenWidth, screenHeight);
    traits->x = std::max(0, (static_cast<int>(screenWidth) - kWidth) / 2);
    traits->y = std::max(0, (static_cast<int>(screenHeight) - kHeight) / 2);
    traits->width = kWidth;
    traits->height = kHeight;
    traits->windowDecoration = true;
    traits->doubleBuffer = true;
    traits->windowName = _title;
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    if (!context.valid())
        return false;

    _viewer = new osgViewer::Viewer;
    _viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    // Loading cannot be cancelled from here: a key or the close button must not end a frame loop
    // that is not the player's.
    _viewer->setKeyEventSetsDone(0);
    _viewer->setQuitEventSetsDone(false);
    osg::Camera* camera = _viewer->getCamera();
    camera->setGraphicsContext(context.get());
    camera->setViewport(0, 0, kWidth, kHeight);
    camera->setProjectionResizePolicy(osg::Camera::FIXED);
    camera->setProjectionMatrixAsOrtho2D(0.0, kWidth, 0.0, kHeight);
    camera->setViewMatrix(osg::Matrix::identity());
    camera->setClearColor(backgroundColour);
    _capture = new WindowCapture;
    camera->setFinalDrawCallback(_capture.get());
    _viewer->setSceneData(buildScene().get());
    _viewer->realize();
    return _viewer->isRealized();
}

// The line centred in the upper part of the window over a bar of the objects done.
osg::ref_ptr<osg::Node> LoadingScreen::buildScene()
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    root->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    root->getOrCreateStateSet()->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF);

    _panel = new TextPanel;
    // A font of this window's own: glyph textures made in this short-lived context are not shared
    // with the player's window, which opens once this one has closed.
    osg::ref_ptr<osgDB::Options> uncached = new osgDB::Options;
    uncached->setObjectCacheHint(osgDB::Options::CACHE_NONE);
    osg::ref_ptr<osgText::Font> font = osgText::readRefFontFile(_panel->getFontName(), uncached.get());
    if (font.valid())
        _panel->getTextDrawable()->setFont(font.get());
    _panel->setAlignmentAnchor(4);
    osg::ref_ptr<osg::PositionAttitudeTransform> place = new osg::PositionAttitudeTransform;
    place->setPosition(osg::Vec3d(kWidth / 2.0, kHeight * 0.62, 0.0));
    place->addChild(_panel.get());
    root->addChild(place.get());

    const float barWidth = kWidth - 2.0f * barMargin;
    osg::ref_ptr<osg::Geode> bar = new osg::Geode;
    bar->addDrawable(rectangle(barMargin, barMargin, barWidth, barHeight, barTrackColour).get());
    _bar = rectangle(barMargin, barMargin, 0.0f, barHeight, barColour);
    bar->addDrawable(_bar.get());
    root->addChild(bar.get());
    return root;
}

void LoadingScreen::drawFrame()
{
    std::string line;
    double done = 0.0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        line = _line;
        done = _done;
    }
    if (line != _panel->getText())
        _panel->setText(line);
    setRectangleWidth(*_bar, static_cast<float>(done) * (kWidth - 2.0f * barMargin));
    _viewer->frame();

    osg::ref_ptr<osg::Image> picture = new osg::Image(*_capture->image(), osg::CopyOp::DEEP_COPY_ALL);
    std::lock_guard<std::mutex> lock(_mutex);
    _drawnLine = line;
    ++_frames;
    _picture = picture;
}

// The context is closed on the thread it was current on, before the viewer goes.
void LoadingScreen::closeWindow()
{
    osgViewer::ViewerBase::Contexts contexts;
    _viewer->getContexts(contexts);
    for (osg::GraphicsContext* context : contexts)
        context->close();
    _viewer = nullptr;
    _panel = nullptr;
    _bar = nullptr;
}

} // namespace Novaro
