#pragma once

#include <osgART/GenericVideo.h>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace osgART
{

/// Options of the device text of the "video_artoolkit4" plugin.
struct CaptureOptions
{
    int deviceNumber = 1;        ///< "-devNum=N": the N-th capture device, /dev/video(N-1)
    bool flipVertical = false;   ///< "-flipV"
    bool showDialog = false;     ///< "-showDialog": there is no settings dialog; a notice says so
    bool showDeviceList = false; ///< "-showDeviceList": list the capture devices instead of opening
    std::string file;            ///< "-file=PATH": movie, still image or image sequence (name%04d.png)
    int width = 0;               ///< "-width=": requested frame size (camera) or scaling (files)
    int height = 0;              ///< "-height="
    double fps = 0.0;            ///< "-fps=": requested camera rate, or playing rate of files

    /// False, with a message, for unusable values; unknown options are only noted.
    bool parse(const std::string& text, std::string& error);
};

/// Capture devices found (/sys/class/video4linux): "/dev/videoK" and the device's name.
std::vector<std::pair<std::string, std::string>> listCaptureDevices();

/// Video source of the "video_artoolkit4" plugin: a V4L2 camera, a movie, a still image or an image
/// sequence, read by OpenCV on a capture thread. Frames go through three buffers: the thread fills
/// one, publishes it by swapping with the ready one, and update() on the main thread swaps the ready
/// one into the image, so every frame is copied at most once (when it is flipped or converted).
class CaptureVideo : public GenericVideo
{
public:
    CaptureVideo();
    using GenericVideo::update;

    bool open() override;
    void close(bool waitForThread = true) override;
    void start() override;
    void stop() override;
    void update() override;
    void setFlip(bool horizontal, bool vertical) override;

    double getFrameRate() const override { return _fps; }
    bool isOpen() const { return _open; }

protected:
    ~CaptureVideo() override;

private:
    enum SourceKind
    {
        CAMERA,
        MOVIE,
        SEQUENCE,
        STILL
    };

    bool openSource(std::string& error);
    /// Reads a still image, refusing sizes beyond what the player can show before decoding.
    bool openStill(std::string& error);
    /// Reads the next frame of the source into frame (files loop); false when none can be had.
    bool readFrame(cv::Mat& frame);
    /// Turns a read frame into the back buffer (size, colours, flips) and publishes it.
    void publish(cv::Mat& frame);
    void captureLoop();

    CaptureOptions _options;
    SourceKind _kind;
    std::unique_ptr<cv::VideoCapture> _capture;
    cv::Mat _still;
    int _sequenceLength;   ///< files of an image sequence
    int _sequencePosition; ///< files read since the sequence was (re)opened
    double _fps;
    bool _open;
    bool _frameFlipVertical;                  ///< row order of the ready frame
    std::atomic<bool> _captureFlipHorizontal; ///< the flips as the capture thread reads them
    std::atomic<bool> _captureFlipVertical;

    std::thread _thread;
    std::atomic<bool> _running;
    std::mutex _mutex;
    cv::Mat _captured; ///< capture thread: as read
    cv::Mat _back;     ///< capture thread: being prepared
    cv::Mat _ready;    ///< newest complete frame (guarded by _mutex)
    cv::Mat _front;    ///< main thread: the image's pixels
    unsigned int _published;
    unsigned int _shown;
};

} // namespace osgART
