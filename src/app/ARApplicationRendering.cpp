// Rendering set-up of the application: the capability probe, multisampling, the scene graph under
// the AR scene node, the render-to-texture pipeline and the visual toggles of the keyboard modes.
#include "app/ARApplication.h"
#include "app/DisplayConnection.h"
#include "app/LoadingProgress.h"

#include "app/RenderTextureSize.h"
#include "effects/ARShadowsManager.h"
#include "scene/ARObject.h"
#include "settings/ConfigurationData.h"
#include "tracking/ARMarkerNode.h"

#include <cmath>

#include <osg/CullSettings>
#include <osg/GLExtensions>
#include <osg/PolygonMode>
#include <osgDB/Registry>
#include <osgGA/TrackballManipulator>
#include <osgUtil/Optimizer>

#include "osgART/ARSceneNode.h"
#include "osgART/Field.h"
#include "osgART/GenericTracker.h"
#include "osgART/GenericVideo.h"
#include "osgART/VideoLayer.h"

namespace Novaro
{

namespace
{

// Render bins of the simple mode: the video (or the debug image) first, the content over it.
const int videoRenderBin = 2;
const int contentRenderBin = 3;
// The light the shadow techniques cast from; unshadowed content keeps the default light 0.
const GLenum shadowLight = GL_LIGHT7;
// Texture units of the full-window quad: the rendered scene, and the deferred shadow pass that is
// multiplied over it.
const unsigned int sceneTextureUnit = 0;
const unsigned int shadowPassTextureUnit = 1;
// The window clears to red, so any part the full-window quad fails to cover stands out; the
// render-to-texture cameras clear to white, the colour of a frame without video.
const osg::Vec4 windowClearColour(1.0f, 0.0f, 0.0f, 1.0f);
const osg::Vec4 renderTextureClearColour(1.0f, 1.0f, 1.0f, 1.0f);
// Small-feature culling hides objects whose projected bound is under this many pixels at most.
const float maximumSmallFeatureCullingPixels = 256.0f;

bool testExtensions(unsigned int contextId, std::initializer_list<const char*> names)
{
    for (const char* name : names)
    {
        const bool supported = osg::isGLExtensionSupported(contextId, name);
        osg::notify(osg::NOTICE) << name << (supported ? " supported: OK" : " supported: NO") << std::endl;
        if (supported)
            return true;
    }
    return false;
}

void switchChild(osg::Switch* parent, osg::Node* child, bool on)
{
    if (parent && child)
        parent->setChildValue(child, on);
}

} // namespace

void ARApplication::probeGraphicsCapabilities()
{
    // The probe asks for the antialiasing the settings want, so that one context answers the
    // multisampling question as well; a card without it gets a plain probe.
    const int samples =
        _configuration && _configuration->getUseAntialiasing() ? _configuration->getAntialiasingSamples() : 0;
    osg::ref_ptr<osg::GraphicsContext> context;
    if (samples > 0)
    {
        osg::ref_ptr<osg::GraphicsContext::Traits> traits = ARViewer::createProbeTraits(samples);
        context = osg::GraphicsContext::createGraphicsContext(traits.get());
        _viewer->rememberMultisample(samples, context.valid());
    }
    if (!context.valid())
    {
        osg::ref_ptr<osg::GraphicsContext::Traits> traits = ARViewer::createProbeTraits(0);
        context = osg::GraphicsContext::createGraphicsContext(traits.get());
    }
    if (!context.valid())
    {
        osg::notify(osg::FATAL) << "WARNING: could not create valid context for extensions checks."
                                << std::endl;
        return;
    }
    context->realize();
    context->makeCurrent();
    const unsigned int id = context->getState()->getContextID();
    _hasMultisampling = testExtensions(id, {"GL_ARB_multisample", "GL_EXT_multisample"});
    _hasNPOT = testExtensions(id, {"GL_ARB_texture_non_power_of_two"});
    _hasTextureRectangle = testExtensions(id, {"GL_ARB_texture_rectangle"});
    _hasFBO = testExtensions(id, {"GL_ARB_framebuffer_object", "GL_EXT_framebuffer_object"});
    osg::notify(osg::NOTICE) << "OpenGL: Multisample [" << (_hasMultisampling ? "OK" : "MISSING") << "]"
                             << std::endl;
    osg::notify(osg::NOTICE) << "OpenGL: NPOT [" << (_hasNPOT ? "OK" : "MISSING") << "]" << std::endl;
    osg::notify(osg::NOTICE) << "OpenGL: Texture Rectangle [" << (_hasTextureRectangle ? "OK" : "MISSING")
                             << "]" << std::endl;
    osg::notify(osg::NOTICE) << "OpenGL: FBOs [" << (_hasFBO ? "OK" : "MISSING") << "]" << std::endl;
    context->releaseContext();
    context->close();
}

bool ARApplication::initGraphics(int, char**)
{
    if (!_configuration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL configuration." << std::endl;
        return false;
    }
    probeGraphicsCapabilities();
    if (!_hasMultisampling)
        _configuration->setUseAntialiasing(false);
    if (_configuration->getUseAntialiasing())
    {
        int samples = _configuration->getAntialiasingSamples();
        bool found = false;
        while (samples >= 2)
        {
            if (_viewer->testMultisample(samples))
            {
                osg::notify(osg::NOTICE) << " Multisampling at: " << samples << std::endl;
                _configuration->setAntialiasingSamples(samples);
                found = true;
                break;
            }
            osg::notify(osg::FATAL) << " WARNING: Multisampling value (" << samples
                                    << ") NOT supported on this hardware..." << std::endl;
            samples /= 2;
        }
        if (!found)
        {
            osg::notify(osg::FATAL) << " WARNING: Antialiasing NOT supported on this hardware." << std::endl;
            _configuration->setUseAntialiasing(false);
        }
    }
    if (_configuration->getUseAntialiasing())
        _viewer->setMultisampling(true, _configuration->getAntialiasingSamples());
    _viewer->setUpViewOnSingleScreen(0);
    osgViewer::ViewerBase::Windows windows;
    _viewer->getWindows(windows);
    if (windows.empty())
    {
        // Nothing could be seen: no head-up display, no picture, so no run.
        osg::notify(osg::FATAL) << " ERROR: the player's window could not be opened on display "
                                << DisplayConnection::requestedName() << "." << std::endl;
        return false;
    }
    aliasMovieExtensions();
    return true;
}

void ARApplication::aliasMovieExtensions()
{
    osgDB::Registry* registry = osgDB::Registry::instance();
    registry->addFileExtensionAlias("mpg", "qt");
    registry->addFileExtensionAlias("mpeg", "qt");
    registry->addFileExtensionAlias("avi", "qt");
    registry->addFileExtensionAlias("mov", "qt");
}

bool ARApplication::initScene()
{
    if (!_configuration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL configuration." << std::endl;
        return false;
    }
    _debug = _configuration->getDebug();
    _modeSwitch = new osg::Switch;
    _arSceneNode->addChild(_modeSwitch.get());
    _simpleModeGroup = new osg::Group;
    _simpleModeGroup->setName("SimpleModeGroup");
    _projection = new osg::Projection(_tracker->getProjectionMatrix());
    _modelViewTransform = new osg::MatrixTransform;
    _modelViewTransform->setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    _debugSwitch = new osg::Switch;

    setUpDebugImage();
    _videoLayer = new osgART::VideoLayer(_video.get(), 1);
    _videoLayer->setTextureMode(_hasTextureRectangle ? 2 : 1);
    _videoLayer->init();
    _contentGroup = new osg::Group;
    _contentGroup->getOrCreateStateSet()->setRenderBinDetails(contentRenderBin, "RenderBin");

    // Simple mode: projection, model view, then the debug switch holding the video (or the debug
    // image) under the content.
    _simpleModeGroup->addChild(_projection.get());
    _projection->addChild(_modelViewTransform.get());
    _modelViewTransform->addChild(_debugSwitch.get());
    _debugSwitch->addChild(_videoLayer.get(), !_debug);
    _debugSwitch->getOrCreateStateSet()->setRenderBinDetails(videoRenderBin, "RenderBin");
    _debugSwitch->addChild(_contentGroup.get());
    setUpMarkerGroups();

    const int mode = _configuration->getMode();
    _mixedModeGroup = new osg::Group;
    _mixedModeGroup->setName("MixedModeGroup");
    _fakeModeGroup = new osg::Group;
    _fakeModeGroup->setName("FakeModeGroup");
    _modeSwitch->addChild(_simpleModeGroup.get(), mode == AR_SIMPLE);
    _modeSwitch->addChild(_mixedModeGroup.get(), mode == AR_MIXED);
    _modeSwitch->addChild(_fakeModeGroup.get(), mode == AR_FAKE);
    return true;
}

namespace
{

bool isShowable(const osg::Image* image)
{
    return image && image->s() != 0 && image->t() != 0 && image->r() != 0 && image->getPixelFormat() != 0 &&
           image->data() != nullptr;
}

} // namespace

// The tracker's binarised frame as a layer of its own, shown instead of the video in debug mode.
void ARApplication::setUpDebugImage()
{
    osg::notify(osg::NOTICE) << "Setting up debug mode..." << std::endl;
    osgART::TypedField<bool>* debugField = dynamic_cast<osgART::TypedField<bool>*>(_tracker->get("debug"));
    osgART::TypedField<osg::ref_ptr<osg::Image>>* debugImageField =
        dynamic_cast<osgART::TypedField<osg::ref_ptr<osg::Image>>*>(_tracker->get("debug_image"));
    if (!debugField)
        osg::notify(osg::FATAL) << "Field 'debug' not supported for this tracker" << std::endl;
    if (!debugImageField)
        osg::notify(osg::FATAL) << "Field 'debug_image' not supported for this tracker" << std::endl;
    if (debugField)
    {
        debugField->set(!debugField->get());
        if (debugField->get() && debugImageField)
        {
            osg::ref_ptr<osg::Image> image = debugImageField->get();
            if (!isShowable(image.get()))
            {
                // No frame tracked yet: track the current one so that the image exists.
                if (_video.valid())
                    _video->dirty();
                _tracker->update();
                image = debugImageField->get();
            }
            if (!isShowable(image.get()))
                osg::notify(osg::FATAL) << "Could not initialize debug image!" << std::endl;
            else if (!_debugImageLayer.valid())
            {
                _debugImageLayer = new osgART::VideoLayer(image.get(), 1);
                _debugImageLayer->init();
                _debugSwitch->addChild(_debugImageLayer.get(), _debug);
            }
        }
    }
    osg::notify(osg::NOTICE) << "Setting up debug mode...Done." << std::endl;
}

// The markers' content groups: shadowed (under the shadows manager, lit by the shadow light) and
// not shadowed (lit by light 0).
void ARApplication::setUpMarkerGroups()
{
    _shadowedMarkersGroup = new osg::Group;
    _shadowedMarkersGroup->setName("ShadowedMarkersGroup");
    _notShadowedMarkersGroup = new osg::Group;
    _notShadowedMarkersGroup->setName("NotShadowedMarkersGroup");
    _contentGroup->addChild(_notShadowedMarkersGroup.get());
    _shadowsManager = new ARShadowsManager;
    _shadowsManager->setApplication(this);
    _shadowsManager->setShadowedGroup(_shadowedMarkersGroup.get());
    _contentGroup->addChild(_shadowsManager.get());

    const unsigned int protectedOn = osg::StateAttribute::ON | osg::StateAttribute::PROTECTED;
    osg::StateSet* notShadowed = _notShadowedMarkersGroup->getOrCreateStateSet();
    notShadowed->setMode(GL_LIGHTING, protectedOn);
    notShadowed->setMode(GL_LIGHT0, osg::StateAttribute::ON);
    notShadowed->setMode(shadowLight, osg::StateAttribute::OFF);
    osg::StateSet* shadowed = _shadowedMarkersGroup->getOrCreateStateSet();
    shadowed->setMode(GL_LIGHTING, protectedOn);
    shadowed->setMode(GL_LIGHT0, osg::StateAttribute::OFF);
    shadowed->setMode(shadowLight, osg::StateAttribute::ON);
}

bool ARApplication::initViewer()
{
    const int mode = _configuration ? _configuration->getMode() : 0;
    if (mode == AR_MIXED || mode == AR_FAKE)
    {
        osg::ref_ptr<osgGA::TrackballManipulator> manipulator = new osgGA::TrackballManipulator(
            osgGA::StandardManipulator::UPDATE_MODEL_SIZE | osgGA::StandardManipulator::PROCESS_MOUSE_WHEEL);
        _viewer->setCameraManipulator(manipulator.get(), true);
    }
    _viewer->getCamera()->setClearColor(windowClearColour);
    _viewer->setApplication(this);
    setWireframe(_configuration ? _configuration->getWireframe() : false);
    _hud.setViewer(_viewer.get());
    _hud.init();
    return true;
}

int ARApplication::getTextureWidth()
{
    return renderTextureSize(_viewer->getScreenWidth(), _hasNPOT);
}

int ARApplication::getTextureHeight()
{
    return renderTextureSize(_viewer->getScreenHeight(), _hasNPOT);
}

namespace
{

// A colour target of the render-to-texture pipeline, sized for the window (a power of two without
// NPOT support).
osg::ref_ptr<osg::Texture2D> createRenderTexture(int width, int height)
{
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D;
    texture->setTextureSize(width, height);
    texture->setInternalFormat(GL_RGBA8);
    texture->setInternalFormatMode(osg::Texture::USE_USER_DEFINED_FORMAT);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::REPEAT);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::REPEAT);
    texture->setResizeNonPowerOfTwoHint(false);
    return texture;
}

} // namespace

void ARApplication::createRenderingPipeline()
{
    _viewer->setThreadingModel(osgViewer::ViewerBase::SingleThreaded);
    const bool shadowsEnabled = _shadowsManager.valid() && _shadowsManager->isEnabled();
    _colourTexture = createRenderTexture(getTextureWidth(), getTextureHeight());
    if (shadowsEnabled)
        _shadowPassTexture = createRenderTexture(getTextureWidth(), getTextureHeight());
    createCompositeQuad(shadowsEnabled);
    createARCamera();
    createShadowCamera();
    setUpWindowCamera(shadowsEnabled);
    _viewer->assignSceneDataToCameras();
}

// The full-window quad that shows the rendered scene, mirrored and flipped by the texture matrix,
// with the deferred shadow pass on the second unit.
void ARApplication::createCompositeQuad(bool shadowsEnabled)
{
    const float width = static_cast<float>(_viewer->getScreenWidth());
    const float height = static_cast<float>(_viewer->getScreenHeight());
    _quadGeometry = osg::createTexturedQuadGeometry(osg::Vec3(0.0f, 0.0f, 0.0f), osg::Vec3(width, 0.0f, 0.0f),
                                                    osg::Vec3(0.0f, height, 0.0f), 0.0f, 0.0f, 1.0f, 1.0f);
    _quadGeometry->setDataVariance(osg::Object::DYNAMIC);
    _quadGeode = new osg::Geode;
    _quadGeode->setDataVariance(osg::Object::DYNAMIC);
    _quadGeode->addDrawable(_quadGeometry.get());
    _textureMatrix =
        new osg::TexMat(osg::Matrix::scale(_flipHorizontal ? -1.0 : 1.0, _flipVertical ? -1.0 : 1.0, 1.0));
    osg::StateSet* state = _quadGeode->getOrCreateStateSet();
    state->setTextureAttributeAndModes(sceneTextureUnit, _colourTexture.get(), osg::StateAttribute::ON);
    state->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    state->setTextureAttributeAndModes(sceneTextureUnit, _textureMatrix.get(), osg::StateAttribute::ON);
    if (shadowsEnabled)
    {
        _quadGeometry->setTexCoordArray(shadowPassTextureUnit,
                                        _quadGeometry->getTexCoordArray(sceneTextureUnit));
        state->setTextureAttributeAndModes(shadowPassTextureUnit, _shadowPassTexture.get(),
                                           osg::StateAttribute::ON);
        state->setTextureAttributeAndModes(shadowPassTextureUnit, _textureMatrix.get(),
                                           osg::StateAttribute::ON);
    }
}

void ARApplication::setUpRenderCamera(osg::Camera& camera, osg::Texture2D* texture, int samples)
{
    camera.attach(osg::Camera::COLOR_BUFFER, texture, 0, 0, false, samples, samples);
    // The multisampled buffers that are resolved into the texture take the attachments' formats,
    // and Mesa refuses an unsized colour format and a stencil buffer apart from the depth buffer:
    // either silently falls back to one sample. So the colour format is sized, and depth and
    // stencil (the clipping caps need it) share one packed buffer.
    camera.getBufferAttachmentMap()[osg::Camera::COLOR_BUFFER]._internalFormat = GL_RGBA8;
    camera.attach(osg::Camera::PACKED_DEPTH_STENCIL_BUFFER, GL_DEPTH24_STENCIL8_EXT);
    camera.setRenderTargetImplementation(osg::Camera::FRAME_BUFFER_OBJECT);
    camera.setRenderOrder(osg::Camera::PRE_RENDER, 0);
    camera.setReferenceFrame(osg::Transform::ABSOLUTE_RF);
    camera.setViewMatrix(osg::Matrix::identity());
    camera.setProjectionMatrix(_tracker.valid() ? _tracker->getProjectionMatrix() : osg::Matrix::identity());
    if (!_hasNPOT)
        camera.setViewport(0, 0, getTextureWidth(), getTextureHeight());
    else
        camera.setViewport(0, 0, _viewer->getScreenWidth(), _viewer->getScreenHeight());
    camera.setClearColor(renderTextureClearColour);
    camera.setClearMask(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    camera.setGraphicsContext(_viewer->getCamera()->getGraphicsContext());
}

void ARApplication::createARCamera()
{
    int samples = 0;
    if (!_configuration)
        osg::notify(osg::FATAL) << " WARNING: could not set AA (missing configuration)." << std::endl;
    else if (_configuration->getUseAntialiasing())
        samples = _configuration->getAntialiasingSamples();
    if (samples == 0)
        osg::notify(osg::FATAL) << " WARNING: not using AA." << std::endl;
    _arCamera = new osg::Camera;
    setUpRenderCamera(*_arCamera, _colourTexture.get(), samples);
    _arCamera->addChild(_arSceneNode.get());
}

void ARApplication::createShadowCamera()
{
    if (!_shadowPassTexture.valid())
        osg::notify(osg::FATAL) << " WARNING: could not create Shadows Camera (missing texture)."
                                << std::endl;
    else if (!_shadowsManager.valid())
        osg::notify(osg::FATAL) << " WARNING: could not create Shadows Camera (missing shadows_manager)."
                                << std::endl;
    else if (!_shadowsManager->isEnabled())
        osg::notify(osg::FATAL) << " WARNING: could not create Shadows Camera (shadows_manager NOT enable)."
                                << std::endl;
    else
    {
        _shadowCamera = _shadowsManager->getShadowCamera();
        if (_shadowCamera.valid())
            setUpRenderCamera(*_shadowCamera, _shadowPassTexture.get(), 0);
    }
}

// The window's own camera draws only the full-window quad, in pixels; the scene reaches it through
// the render-to-texture cameras, which become its slaves.
void ARApplication::setUpWindowCamera(bool shadowsEnabled)
{
    const int width = _viewer->getScreenWidth();
    const int height = _viewer->getScreenHeight();
    osg::Camera* windowCamera = _viewer->getCamera();
    windowCamera->setClearColor(windowClearColour);
    windowCamera->setViewMatrix(osg::Matrix::identity());
    windowCamera->setProjectionMatrix(osg::Matrixd::ortho2D(0, width, 0, height));
    windowCamera->setViewport(0, 0, width, height);
    windowCamera->setProjectionResizePolicy(osg::Camera::FIXED);
    if (_root.valid())
        _root->addChild(_quadGeode.get());
    _viewer->addSlave(_arCamera.get(), false);
    if (shadowsEnabled && _shadowCamera.valid())
        _viewer->addSlave(_shadowCamera.get(), false);
}

void ARApplication::setWireframe(bool on)
{
    osg::ref_ptr<osg::PolygonMode> polygonMode = new osg::PolygonMode(
        osg::PolygonMode::FRONT_AND_BACK, on ? osg::PolygonMode::LINE : osg::PolygonMode::FILL);
    const unsigned int value = osg::StateAttribute::ON | osg::StateAttribute::OVERRIDE;
    for (osg::Group* group : {_contentGroup.get(), _mixedModeGroup.get(), _fakeModeGroup.get()})
    {
        if (group)
            group->getOrCreateStateSet()->setAttributeAndModes(polygonMode.get(), value);
    }
}

void ARApplication::toggleWireframe()
{
    if (!_configuration)
    {
        osg::notify(osg::FATAL) << " WARNING: NULL configuration." << std::endl;
        return;
    }
    _configuration->setWireframe(!_configuration->getWireframe());
    setWireframe(_configuration->getWireframe());
}

void ARApplication::toggleMirror()
{
    toggleFlip(_flipHorizontal);
}

void ARApplication::toggleVerticalFlip()
{
    toggleFlip(_flipVertical);
}

void ARApplication::toggleFlip(bool& flip)
{
    if (!_video.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: video not valid." << std::endl;
        return;
    }
    flip = !flip;
    if (!_textureMatrix.valid())
    {
        osg::notify(osg::FATAL) << " WARNING: RTT camera not valid (cannot flip video)." << std::endl;
        return;
    }
    _textureMatrix->setMatrix(
        osg::Matrix::scale(_flipHorizontal ? -1.0 : 1.0, _flipVertical ? -1.0 : 1.0, 1.0));
}

void ARApplication::toggleDebugMode()
{
    if (!_debugSwitch.valid())
        return;
    _debug = !_debug;
    if (_debugImageLayer.valid())
    {
        // Debug image, video layer, content group: swap the first two, keep the content shown.
        const unsigned int hidden = _debug ? 1 : 0;
        for (unsigned int index = 0; index < _debugSwitch->getNumChildren(); ++index)
            _debugSwitch->setValue(index, index != hidden);
    }
    else
    {
        // Without a debug image there is nothing to show instead of the video: the video and the
        // content stay on, so debug mode never blanks the picture.
        switchChild(_debugSwitch.get(), _videoLayer.get(), true);
        switchChild(_debugSwitch.get(), _contentGroup.get(), true);
    }
    osg::notify(osg::NOTICE) << "Switching debug mode..." << (_debug ? "ON" : "OFF") << std::endl;
}

void ARApplication::setShadowComposite(bool on)
{
    if (!_quadGeode.valid())
        return;
    osg::StateSet* state = _quadGeode->getOrCreateStateSet();
    const unsigned int value = on ? osg::StateAttribute::ON : osg::StateAttribute::OFF;
    if (_shadowPassTexture.valid())
        state->setTextureAttributeAndModes(shadowPassTextureUnit, _shadowPassTexture.get(), value);
    if (_textureMatrix.valid())
        state->setTextureAttributeAndModes(shadowPassTextureUnit, _textureMatrix.get(), value);
}

void ARApplication::applySmallFeatureCulling()
{
    if (!_arCamera.valid())
        return;
    osg::CullSettings::CullingMode culling = _arCamera->getCullingMode();
    if (_smallFeatureCullingPixelSize > 0.0f)
    {
        _arCamera->setCullingMode(culling | osg::CullSettings::SMALL_FEATURE_CULLING);
        _arCamera->setSmallFeatureCullingPixelSize(_smallFeatureCullingPixelSize);
    }
    else
        _arCamera->setCullingMode(culling & ~osg::CullSettings::SMALL_FEATURE_CULLING);
}

void ARApplication::increaseSmallFeatureCulling(float step)
{
    if (!_arCamera.valid())
        return;
    _smallFeatureCullingPixelSize =
        std::min(_smallFeatureCullingPixelSize + step, maximumSmallFeatureCullingPixels);
    applySmallFeatureCulling();
}

void ARApplication::decreaseSmallFeatureCulling(float step)
{
    if (!_arCamera.valid())
        return;
    _smallFeatureCullingPixelSize = std::max(_smallFeatureCullingPixelSize - step, 0.0f);
    applySmallFeatureCulling();
}

void ARApplication::resetSmallFeatureCulling()
{
    if (!_arCamera.valid())
        return;
    _smallFeatureCullingPixelSize = 0.0f;
    applySmallFeatureCulling();
}

void ARApplication::optimizeScene()
{
    if (_root.valid())
        osgDB::Registry::instance()->getOrCreateSharedStateManager()->share(_root.get());
    else
        osg::notify(osg::FATAL) << " WARNING: root not created yet, cannot optimize scene." << std::endl;
    // Optimizing a large model takes seconds with the window still dark: the console says so.
    LoadingProgress progress(
        static_cast<unsigned int>(_objects.size()), _loadingClock,
        [](const std::string& text) { osg::notify(osg::ALWAYS) << text << std::endl; }, {},
        [](const std::string& line) { osg::getNotifyHandler()->notify(osg::ALWAYS, (line + "\n").c_str()); },
        LoadingProgress::kHeartbeatSeconds, "Preparing", "Prepared");
    for (size_t index = 0; index < _objects.size(); ++index)
    {
        progress.starting(static_cast<unsigned int>(index), _objects[index]->getName() + " for drawing");
        _objects[index]->optimize();
    }
    progress.finished();
    if (_arCamera.valid())
        applySmallFeatureCulling();
    else
        osg::notify(osg::FATAL) << " WARNING: AR camera not created yet, cannot optimize rendering."
                                << std::endl;
}

} // namespace Novaro
