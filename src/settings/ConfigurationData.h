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

    RenderMode getMode() const { return mode_; }
    void setMode(RenderMode mode) { mode_ = mode; }

    bool getDebug() const { return debug_; }
    void setDebug(bool debug) { debug_ = debug; }

    bool getMirror() const { return mirror_; }
    void setMirror(bool mirror) { mirror_ = mirror; }

    bool getFullscreen() const { return fullscreen_; }
    void setFullscreen(bool fullscreen) { fullscreen_ = fullscreen; }

    bool getWireframe() const { return wireframe_; }
    void setWireframe(bool wireframe) { wireframe_ = wireframe; }

    bool getCameraSettings() const { return camera_settings_; }
    void setCameraSettings(bool cameraSettings) { camera_settings_ = cameraSettings; }

    bool getUseAntialiasing() const { return use_antialiasing_; }
    void setUseAntialiasing(bool useAntialiasing) { use_antialiasing_ = useAntialiasing; }

    int getAntialiasingSamples() const { return antialiasing_samples_; }
    // Accepts only the sample counts multisampling offers (2, 4, 8, 16, 32, 64); anything else
    // stores 1.
    void setAntialiasingSamples(int samples)
    {
        bool supported =
            samples == 2 || samples == 4 || samples == 8 || samples == 16 || samples == 32 || samples == 64;
        antialiasing_samples_ = supported ? samples : 1;
    }
    // Stores the count read from the file as it is; the reader has already turned odd counts
    // into 1, and the rendering set-up copes with counts the card refuses.
    void setRawAntialiasingSamples(int samples) { antialiasing_samples_ = samples; }

    bool getFitting() const { return fitting_; }
    void setFitting(bool fitting) { fitting_ = fitting; }

    bool getAnimations() const { return animations_; }
    void setAnimations(bool animations) { animations_ = animations; }

private:
    RenderMode mode_ = AR_SIMPLE;
    bool debug_ = false;
    bool mirror_ = true;
    bool fullscreen_ = true;
    bool wireframe_ = false;
    bool camera_settings_ = false;
    bool use_antialiasing_ = false;
    int antialiasing_samples_ = 1;
    bool fitting_ = false;
    bool animations_ = true;
};

} // namespace Novaro
