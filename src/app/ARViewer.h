#pragma once

#include <osgViewer/Viewer>

#include <map>

namespace Novaro
{

class ARApplication;

// The player's viewer: one view, single-threaded, with a full-screen toggle and the screen and
// window size queries that the rendering pipeline, the head-up display and picking use.
class ARViewer : public osgViewer::Viewer
{
public:
    ARViewer();

    void setApplication(ARApplication* application) { _application = application; }
    ARApplication* getApplication() const { return _application; }

    // Traits of the small off-screen context used to probe the graphics card (samples 0: none).
    static osg::GraphicsContext::Traits* createProbeTraits(int samples);

    // True when an off-screen context with this many samples can be created. Each answer is
    // remembered: a probe context costs a tenth of a second of start-up on a software renderer.
    bool testMultisample(int samples);
    // Records an answer found by a probe made elsewhere.
    void rememberMultisample(int samples, bool supported) { _multisampleSupport[samples] = supported; }
    void setMultisampling(bool enabled, int samples);

    void setFullscreen(bool on);
    void toggleFullscreen();
    bool isFullscreen() const { return _fullscreen; }

    int getScreenWidth();
    int getScreenHeight();
    int getWindowWidth();
    int getWindowHeight();

protected:
    ~ARViewer() override = default;

private:
    osgViewer::GraphicsWindow* firstWindow();
    bool screenResolution(unsigned int& width, unsigned int& height);

    ARApplication* _application = nullptr;
    bool _fullscreen = true;
    std::map<int, bool> _multisampleSupport;
};

} // namespace Novaro
