#pragma once

namespace Novaro
{

// How the scene is drawn over the video.
enum RenderMode
{
    AR_SIMPLE = 0,
    AR_MIXED = 1,
    AR_FAKE = 2
};

// The configuration settings file as read: rendering and window options of one run.
class ConfigurationData
{
public:
    ConfigurationData() = default;

    RenderMode getMode() const { return _mode; }
    void setMode(RenderMode mode) { _mode = mode; }

    bool getDebug() const { return _debug; }
    void setDebug(bool debug) { _debug = debug; }

    bool getMirror() const { return _mirror; }
    void setMirror(bool mirror) { _mirror = mirror; }

    bool getFullscreen() const { return _fullscreen; }
    void setFullscreen(bool fullscreen) { _fullscreen = fullscreen; }

    bool getWireframe() const { return _wireframe; }
    void setWireframe(bool wireframe) { _wireframe = wireframe; }

    bool getCameraSettings() const { return _cameraSettings; }
    void setCameraSettings(bool cameraSettings) { _cameraSettings = cameraSettings; }

    bool getUseAntialiasing() const { return _useAntialiasing; }
    void setUseAntialiasing(bool useAntialiasing) { _useAntialiasing = useAntialiasing; }

    int getAntialiasingSamples() const { return _antialiasingSamples; }
    // Accepts only the sample counts multisampling offers (2, 4, 8, 16, 32, 64); anything else
    // stores 1.
    void setAntialiasingSamples(int samples)
    {
        bool supported =
            samples == 2 || samples == 4 || samples == 8 || samples == 16 || samples == 32 || samples == 64;
        _antialiasingSamples = supported ? samples : 1;
    }
    // Stores the count read from the file as it is; the reader has already turned odd counts
    // into 1, and the rendering set-up copes with counts the card refuses.
    void setRawAntialiasingSamples(int samples) { _antialiasingSamples = samples; }

    bool getFitting() const { return _fitting; }
    void setFitting(bool fitting) { _fitting = fitting; }

    bool getAnimations() const { return _animations; }
    void setAnimations(bool animations) { _animations = animations; }

private:
    RenderMode _mode = AR_SIMPLE;
    bool _debug = false;
    bool _mirror = true;
    bool _fullscreen = true;
    bool _wireframe = false;
    bool _cameraSettings = false;
    bool _useAntialiasing = false;
    int _antialiasingSamples = 1;
    bool _fitting = false;
    bool _animations = true;
};

} // namespace Novaro
