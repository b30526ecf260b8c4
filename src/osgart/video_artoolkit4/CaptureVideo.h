#pragma once

#include "CaptureOptions.h"
#include "FrameSource.h"

#include <osgART/GenericVideo.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace osgART
{

/// Capture devices found (/sys/class/video4linux): "/dev/videoK" and the device's name.
std::vector<std::pair<std::string, std::string>> listCaptureDevices();

/// Video source of the "video_artoolkit4" plugin: a V4L2 camera, or a movie, still image or image
/// sequence standing in for it, read on a capture thread.
///
/// Frames go through three buffers: the thread fills one, publishes it by swapping with the ready
/// one, and update() on the main thread swaps the ready one into the image, so every frame is
/// copied at most once after its conversion to BGR (when it is flipped or scaled).
///
/// Without a camera image the video keeps a dark placeholder image of the asked size, so the
/// player still draws, and getProblem() says why. A camera that fails to open or goes away while
/// playing is tried again every second by the capture thread, and its frames resume when it is
/// back; the loss is reported once. Console lines are written by the main thread (in update()
/// and close()), never by the capture thread.
///
/// With "-lockstep" a movie or image sequence has no capture thread and no clock: each update()
/// after the first reads its next frame, so a run that counts frames sees the same picture at
/// the same frame however fast the machine is.
class CaptureVideo : public GenericVideo
{
public:
    using SourceFactory = std::function<std::unique_ptr<FrameSource>(const CaptureOptions&)>;

    CaptureVideo();
    using GenericVideo::update;

    /// Replaces how sources are made from the device text (cameras and files by default).
    void setSourceFactory(SourceFactory factory) { _makeSource = std::move(factory); }

    bool open() override;
    void close(bool waitForThread = true) override;
    void start() override;
    void stop() override;
    void update() override;
    void setFlip(bool horizontal, bool vertical) override;

    double getFrameRate() const override { return _fps; }
    bool isOpen() const { return _open; }

    /// Between a lost camera and the next attempt to open it again.
    static constexpr std::chrono::milliseconds kRetryPeriod{1000};
    /// A camera silent this long counts as lost.
    static constexpr std::chrono::milliseconds kStallTimeout{3000};
    /// Replaces the two periods above (before start()), so that tests of a lost camera need not
    /// wait seconds for each attempt.
    void setLossTimings(std::chrono::milliseconds retryPeriod, std::chrono::milliseconds stallTimeout)
    {
        _retryPeriod = retryPeriod;
        _stallTimeout = stallTimeout;
    }

protected:
    ~CaptureVideo() override;

private:
    bool listDevices();
    bool openSource(std::string& error);
    /// First frame of a fresh source, so that the image has its size once open() returns.
    bool readFirstFrame(std::string& error);
    void showPlaceholder();
    void publish(cv::Mat& frame);

    /// Lockstep: the file's next frame, read on the calling (main) thread.
    void stepFile();

    void captureLoop();
    /// One pass of the loop with a source: read, pace and publish a frame, or notice a loss.
    void captureFrame(std::chrono::steady_clock::time_point& next,
                      std::chrono::steady_clock::time_point& lastFrame);
    void loseSource(const std::string& reason);
    void tryToReopen();
    /// Sleeps until the time or until stopped; false when stopped.
    bool sleepUntil(std::chrono::steady_clock::time_point time);
    /// Queues a console line for the main thread.
    void say(osg::NotifySeverity severity, const std::string& line);
    void printQueuedLines();

    SourceFactory _makeSource;
    CaptureOptions _options;
    std::unique_ptr<FrameSource> _source; ///< the capture thread's while it runs
    bool _retry;                          ///< a camera: tried again while absent
    double _fps;
    bool _open;
    bool _lockstep;          ///< a file read frame by frame in update(), without the capture thread
    bool _firstStepDone;     ///< lockstep: the frame open() read has had its update()
    bool _frameFlipVertical; ///< row order of the ready frame
    std::atomic<bool> _captureFlipHorizontal; ///< the flips as the capture thread reads them
    std::atomic<bool> _captureFlipVertical;

    std::thread _thread;
    std::atomic<bool> _running;
    std::mutex _mutex;
    std::condition_variable _wake; ///< ends the thread's sleeps on stop()
    std::chrono::steady_clock::time_point _nextAttempt;
    std::chrono::milliseconds _retryPeriod = kRetryPeriod;
    std::chrono::milliseconds _stallTimeout = kStallTimeout;
    cv::Mat _captured; ///< capture thread: as read
    cv::Mat _back;     ///< capture thread: being prepared
    cv::Mat _ready;    ///< newest complete frame (guarded by _mutex)
    cv::Mat _front;    ///< main thread: the image's pixels
    unsigned int _published;
    unsigned int _shown;
    std::vector<std::pair<osg::NotifySeverity, std::string>> _lines; ///< guarded by _mutex
};

} // namespace osgART
