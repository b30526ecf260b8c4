#pragma once

#include "CameraModes.h"
#include "FrameConverter.h"
#include "FrameSource.h"

#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace osgART
{

/// The system calls a camera is driven through: the real ones by default; a test puts a simulated
/// device behind them. Each returns what its system call returns and sets errno the same way.
struct DeviceCalls
{
    std::function<int(const char* path, int flags)> open;
    std::function<int(int descriptor)> close;
    std::function<int(int descriptor, unsigned long request, void* argument)> ioctl;
    std::function<void*(std::size_t length, int descriptor, off_t offset)> map;
    std::function<int(void* start, std::size_t length)> unmap;
    /// > 0 when a frame can be taken, 0 after the milliseconds passed without one, -1 on error.
    std::function<int(int descriptor, int milliseconds)> waitReadable;

    static DeviceCalls system();
};

/// A camera read straight through V4L2: the mode nearest to the request is chosen from the
/// device's own lists of formats, sizes and rates; frames arrive in memory-mapped buffers, are
/// converted to BGR once and the buffer goes straight back to the driver.
class V4L2Camera : public FrameSource
{
public:
    V4L2Camera(const std::string& devicePath, const CameraRequest& request,
               const DeviceCalls& calls = DeviceCalls::system());
    ~V4L2Camera() override;
    V4L2Camera(const V4L2Camera&) = delete;
    V4L2Camera& operator=(const V4L2Camera&) = delete;

    std::string describe() const override { return "video device " + _path; }
    bool open(std::string& error) override;
    Read read(cv::Mat& frame, std::string& error) override;
    bool rewind(std::string&) override { return true; }
    double frameRate() const override { return _mode.fps > 0.0 ? _mode.fps : kDefaultCameraRate; }
    bool isLive() const override { return true; }
    std::string modeText() const override;

    /// The mode in use once open.
    const CameraMode& mode() const { return _mode; }

    /// The device's name and every mode it offers, without capturing. False, with the reason, for
    /// a node that cannot be opened or is no capture device.
    static bool query(const std::string& devicePath, std::string& name, std::vector<CameraMode>& modes,
                      std::string& error, const DeviceCalls& calls = DeviceCalls::system());

private:
    struct Buffer
    {
        void* start = nullptr;
        std::size_t length = 0;
    };

    bool openCaptureDevice(std::string& error);
    bool negotiate(std::string& error);
    void requestRate();
    bool startStreaming(std::string& error);
    void close();

    std::string _path;
    CameraRequest _request;
    DeviceCalls _calls;
    CameraMode _mode;
    int _bytesPerLine = 0;
    int _descriptor = -1;
    bool _streaming = false;
    std::vector<Buffer> _buffers;
    FrameConverter _converter;
};

} // namespace osgART
