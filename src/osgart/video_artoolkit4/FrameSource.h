#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace osgART
{

/// Where the capture thread takes its frames from: a camera, or a file standing in for one. Every
/// frame comes out as 8-bit BGR, the tracker's format, converted once. One thread at a time.
class FrameSource
{
public:
    enum class Read
    {
        Frame,   ///< a new frame is in the matrix
        Waiting, ///< none yet (a camera between frames); ask again
        Ended,   ///< end of a file: rewind() starts it again
        Failed   ///< the source is gone (the reason is in the error text)
    };

    virtual ~FrameSource() = default;

    /// The device or file, as messages name it ("video device /dev/video0", "video file a.mp4").
    virtual std::string describe() const = 0;
    /// False, with the reason in error, when the source cannot give frames.
    virtual bool open(std::string& error) = 0;
    /// The next frame; a camera waits for it a fraction of a second at most, so that the caller
    /// stays responsive to being stopped.
    virtual Read read(cv::Mat& frame, std::string& error) = 0;
    virtual bool rewind(std::string& error) = 0;

    /// Frames per second the source delivers (files: their own rate).
    virtual double frameRate() const = 0;
    /// A camera sets its own pace; files are paced by the reader.
    virtual bool isLive() const = 0;
    /// What is being delivered, for the console ("YUYV 640x480 at 30 fps"); empty when obvious.
    virtual std::string modeText() const { return std::string(); }
    /// A still image: one frame is all there is.
    virtual bool isStill() const { return false; }
};

} // namespace osgART
