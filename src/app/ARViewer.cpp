#include "app/ARViewer.h"

#include "app/ARApplication.h"

#include <osg/GLExtensions>
#include <osg/GraphicsContext>

namespace Novaro
{

namespace
{

// OpenSceneGraph takes a multisampled render buffer's coverage samples through
// glRenderbufferStorageMultisampleCoverageNV whenever the driver hands out an address for it, and
// Mesa hands one out for any name: the call stores nothing, the multisampled render target is
// incomplete, and the picture silently loses its antialiasing. Where the driver does not offer
// the extension, the address is taken back, so plain multisampled storage is used.
struct DropUnofferedCoverageSampling : osg::Operation
{
    DropUnofferedCoverageSampling() : osg::Operation("DropUnofferedCoverageSampling", false) {}
    void operator()(osg::Object* object) override
    {
        osg::GraphicsContext* context = dynamic_cast<osg::GraphicsContext*>(object);
        if (!context || !context->getState())
            return;
        const unsigned int id = context->getState()->getContextID();
        if (!osg::isGLExtensionSupported(id, "GL_NV_framebuffer_multisample_coverage"))
            osg::GLExtensions::Get(id, true)->glRenderbufferStorageMultisampleCoverageNV = nullptr;
    }
};

} // namespace

ARViewer::ARViewer()
{
    setRealizeOperation(new DropUnofferedCoverageSampling);
}

osg::GraphicsContext::Traits* ARViewer::createProbeTraits(int samples)
{
    osg::GraphicsContext::Traits* traits = new osg::GraphicsContext::Traits;
    traits->readDISPLAY();
    traits->x = 0;
    traits->y = 0;
    traits->width = 640;
    traits->height = 480;
    traits->windowDecoration = false;
    traits->pbuffer = true;
    traits->sharedContext = nullptr;
    if (samples > 0)
    {
        traits->sampleBuffers = 1;
        traits->samples = static_cast<unsigned int>(samples);
    }
    return traits;
}

bool ARViewer::testMultisample(int samples)
{
    if (samples == 0)
        return false;
    std::map<int, bool>::const_iterator known = _multisampleSupport.find(samples);
    if (known != _multisampleSupport.end())
        return known->second;
    osg::ref_ptr<osg::GraphicsContext::Traits> traits = createProbeTraits(samples);
    osg::ref_ptr<osg::GraphicsContext> context = osg::GraphicsContext::createGraphicsContext(traits.get());
    const bool supported = context.valid();
    if (supported)
        context->close();
    rememberMultisample(samples, supported);
    return supported;
}

void ARViewer::setMultisampling(bool enabled, int samples)
{
    if (!enabled)
        return;
    const bool powerOfTwo = samples > 0 && (samples & (samples - 1)) == 0;
    if (!powerOfTwo)
    {
        osg::notify(osg::FATAL) << " WARNING: Antialiasing value not valid. Disabling antialiasing."
                                << std::endl;
        return;
    }
    while (samples >= 2)
    {
        if (testMultisample(samples))
        {
            osg::notify(osg::NOTICE) << " Multisampling value: " << samples << std::endl;
            osg::DisplaySettings::instance()->setNumMultiSamples(static_cast<unsigned int>(samples));
            return;
        }
        osg::notify(osg::FATAL) << " WARNING: Multisampling value (" << samples
                                << ") NOT supported on this hardware..." << std::endl;
        samples /= 2;
    }
    osg::notify(osg::FATAL) << " WARNING: Antialiasing NOT supported on this hardware." << std::endl;
}

osgViewer::GraphicsWindow* ARViewer::firstWindow()
{
    Windows windows;
    getWindows(windows);
    return windows.empty() ? nullptr : windows.front();
}

bool ARViewer::screenResolution(unsigned int& width, unsigned int& height)
{
    osg::GraphicsContext::WindowingSystemInterface* system =
        osg::GraphicsContext::getWindowingSystemInterface();
    if (!system)
    {
        osg::notify(osg::NOTICE) << "Error, no WindowSystemInterface available, cannot get screen resolution."
                                 << std::endl;
        return false;
    }
    osg::GraphicsContext::ScreenIdentifier screen(0);
    screen.readDISPLAY();
    osgViewer::GraphicsWindow* window = firstWindow();
    if (window && window->getTraits())
        screen = osg::GraphicsContext::ScreenIdentifier(*window->getTraits());
    system->getScreenResolution(screen, width, height);
    return width > 0 && height > 0;
}

int ARViewer::getScreenWidth()
{
    unsigned int width = 0, height = 0;
    screenResolution(width, height);
    return static_cast<int>(width);
}

int ARViewer::getScreenHeight()
{
    unsigned int width = 0, height = 0;
    screenResolution(width, height);
    return static_cast<int>(height);
}

int ARViewer::getWindowWidth()
{
    osgViewer::GraphicsWindow* window = firstWindow();
    if (!window)
        return 0;
    int x = 0, y = 0, width = 0, height = 0;
    window->getWindowRectangle(x, y, width, height);
    return width;
}

int ARViewer::getWindowHeight()
{
    osgViewer::GraphicsWindow* window = firstWindow();
    if (!window)
        return 0;
    int x = 0, y = 0, width = 0, height = 0;
    window->getWindowRectangle(x, y, width, height);
    return height;
}

void ARViewer::setFullscreen(bool on)
{
    if (_fullscreen == on)
        return;
    toggleFullscreen();
}

void ARViewer::toggleFullscreen()
{
    Windows windows;
    getWindows(windows);
    for (osgViewer::GraphicsWindow* window : windows)
    {
        osg::GraphicsContext::WindowingSystemInterface* system =
            osg::GraphicsContext::getWindowingSystemInterface();
        if (!system)
        {
            osg::notify(osg::NOTICE)
                << "Error, no WindowSystemInterface available, cannot toggle window fullscreen." << std::endl;
            continue;
        }
        unsigned int screenWidth = 0, screenHeight = 0;
        system->getScreenResolution(*window->getTraits(), screenWidth, screenHeight);
        int x = 0, y = 0, width = 0, height = 0;
        window->getWindowRectangle(x, y, width, height);
        const bool coversScreen = x == 0 && y == 0 && width == static_cast<int>(screenWidth) &&
                                  height == static_cast<int>(screenHeight);
        if (!coversScreen)
        {
            window->setWindowDecoration(false);
            window->setWindowRectangle(0, 0, static_cast<int>(screenWidth), static_cast<int>(screenHeight));
            _fullscreen = true;
        }
        else
        {
            window->setWindowRectangle(static_cast<int>(screenWidth / 4), static_cast<int>(screenHeight / 4),
                                       static_cast<int>(screenWidth / 2), static_cast<int>(screenHeight / 2));
            window->setWindowDecoration(true);
            if (_application)
                window->setWindowName(_application->getTitle());
            else
                osg::notify(osg::FATAL) << "ERROR: Application not set for viewer." << std::endl;
            _fullscreen = false;
        }
        window->grabFocusIfPointerInWindow();
    }
}

} // namespace Novaro
