#include "V4L2Camera.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <unistd.h>

namespace osgART
{

namespace
{

// Buffers the driver fills in turn: enough that one being converted never stalls the camera.
const unsigned int kBufferCount = 4;
// Longest wait for one frame inside read(), so that a stop request is seen promptly.
const int kReadWaitMilliseconds = 200;

int control(const DeviceCalls& calls, int descriptor, unsigned long request, void* argument)
{
    int result;
    do
        result = calls.ioctl(descriptor, request, argument);
    while (result == -1 && errno == EINTR);
    return result;
}

// The reason in words a user can act on.
std::string openFailure(int error)
{
    switch (error)
    {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "no such device (is the camera plugged in?)";
    case EACCES:
    case EPERM:
        return "permission denied (the user needs to be in the 'video' group)";
    case EBUSY:
        return "device busy (another program is using the camera)";
    default:
        return std::strerror(error);
    }
}

std::string lastFailure(const std::string& what)
{
    return errno == EBUSY ? openFailure(EBUSY) : std::string(what) + ": " + std::strerror(errno);
}

std::string readFailure()
{
    return errno == ENODEV ? "the device is gone (unplugged?)" : std::string(std::strerror(errno));
}

void addRates(const DeviceCalls& calls, int descriptor, uint32_t fourcc, int width, int height,
              double requestedRate, std::vector<CameraMode>& modes)
{
    CameraMode mode;
    mode.fourcc = fourcc;
    mode.width = width;
    mode.height = height;
    v4l2_frmivalenum interval{};
    interval.pixel_format = fourcc;
    interval.width = uint32_t(width);
    interval.height = uint32_t(height);
    for (interval.index = 0; control(calls, descriptor, VIDIOC_ENUM_FRAMEINTERVALS, &interval) == 0;
         ++interval.index)
    {
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE)
        {
            if (interval.discrete.numerator > 0)
            {
                mode.fps = double(interval.discrete.denominator) / interval.discrete.numerator;
                modes.push_back(mode);
            }
            continue;
        }
        // A range of intervals: its fastest rate and the asked one, when it lies inside.
        const v4l2_fract shortest = interval.stepwise.min;
        const v4l2_fract longest = interval.stepwise.max;
        if (shortest.numerator == 0 || longest.numerator == 0)
            break;
        const double fastest = double(shortest.denominator) / shortest.numerator;
        const double slowest = double(longest.denominator) / longest.numerator;
        mode.fps = fastest;
        modes.push_back(mode);
        if (requestedRate > slowest && requestedRate < fastest)
        {
            mode.fps = requestedRate;
            modes.push_back(mode);
        }
        break;
    }
    if (interval.index == 0)
    {
        mode.fps = 0.0; // the device does not tell its rates
        modes.push_back(mode);
    }
}

int clampToStep(int value, uint32_t minimum, uint32_t maximum, uint32_t step)
{
    const int low = int(minimum);
    const int high = int(maximum);
    value = value < low ? low : value > high ? high : value;
    if (step > 1)
        value = low + (value - low) / int(step) * int(step);
    return value;
}

std::vector<CameraMode> enumerateModes(const DeviceCalls& calls, int descriptor, const CameraRequest& request)
{
    std::vector<CameraMode> modes;
    v4l2_fmtdesc format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (format.index = 0; control(calls, descriptor, VIDIOC_ENUM_FMT, &format) == 0; ++format.index)
    {
        v4l2_frmsizeenum size{};
        size.pixel_format = format.pixelformat;
        for (size.index = 0; control(calls, descriptor, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index)
        {
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE)
            {
                addRates(calls, descriptor, format.pixelformat, int(size.discrete.width),
                         int(size.discrete.height), request.fps, modes);
                continue;
            }
            // A range of sizes: the asked (or default) size fitted into it, and its largest.
            const v4l2_frmsize_stepwise& range = size.stepwise;
            const int width = clampToStep(request.width > 0 ? request.width : kDefaultCameraWidth,
                                          range.min_width, range.max_width, range.step_width);
            const int height = clampToStep(request.height > 0 ? request.height : kDefaultCameraHeight,
                                           range.min_height, range.max_height, range.step_height);
            addRates(calls, descriptor, format.pixelformat, width, height, request.fps, modes);
            addRates(calls, descriptor, format.pixelformat, int(range.max_width), int(range.max_height),
                     request.fps, modes);
            break;
        }
    }
    return modes;
}

bool openNode(const DeviceCalls& calls, const std::string& path, int& descriptor, std::string& name,
              std::string& error)
{
    descriptor = calls.open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
    {
        error = openFailure(errno);
        return false;
    }
    v4l2_capability capability{};
    if (control(calls, descriptor, VIDIOC_QUERYCAP, &capability) != 0)
    {
        error = "not a video capture device";
        return false;
    }
    name = reinterpret_cast<const char*>(capability.card);
    const uint32_t capabilities =
        capability.capabilities & V4L2_CAP_DEVICE_CAPS ? capability.device_caps : capability.capabilities;
    if (!(capabilities & V4L2_CAP_VIDEO_CAPTURE))
    {
        error = "not a video capture device (" + name + " has no capture; try the next device number)";
        return false;
    }
    if (!(capabilities & V4L2_CAP_STREAMING))
    {
        error = name + " does not support streaming capture";
        return false;
    }
    return true;
}

} // namespace

DeviceCalls DeviceCalls::system()
{
    DeviceCalls calls;
    calls.open = [](const char* path, int flags) { return ::open(path, flags); };
    calls.close = [](int descriptor) { return ::close(descriptor); };
    calls.ioctl = [](int descriptor, unsigned long request, void* argument)
    { return ::ioctl(descriptor, request, argument); };
    calls.map = [](std::size_t length, int descriptor, off_t offset)
    { return mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, offset); };
    calls.unmap = [](void* start, std::size_t length) { return munmap(start, length); };
    calls.waitReadable = [](int descriptor, int milliseconds)
    {
        fd_set descriptors;
        FD_ZERO(&descriptors);
        FD_SET(descriptor, &descriptors);
        timeval wait{0, milliseconds * 1000};
        return select(descriptor + 1, &descriptors, nullptr, nullptr, &wait);
    };
    return calls;
}

V4L2Camera::V4L2Camera(const std::string& devicePath, const CameraRequest& request, const DeviceCalls& calls)
    : _path(devicePath), _request(request), _calls(calls)
{
}

V4L2Camera::~V4L2Camera()
{
    close();
}

void V4L2Camera::close()
{
    if (_streaming)
    {
        v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        control(_calls, _descriptor, VIDIOC_STREAMOFF, &type);
        _streaming = false;
    }
    for (const Buffer& buffer : _buffers)
        _calls.unmap(buffer.start, buffer.length);
    _buffers.clear();
    if (_descriptor >= 0)
        _calls.close(_descriptor);
    _descriptor = -1;
}

bool V4L2Camera::query(const std::string& devicePath, std::string& name, std::vector<CameraMode>& modes,
                       std::string& error, const DeviceCalls& calls)
{
    int descriptor = -1;
    const bool opened = openNode(calls, devicePath, descriptor, name, error);
    if (opened)
        modes = enumerateModes(calls, descriptor, CameraRequest());
    if (descriptor >= 0)
        calls.close(descriptor);
    return opened;
}

bool V4L2Camera::open(std::string& error)
{
    close();
    if (openCaptureDevice(error) && negotiate(error) && startStreaming(error))
        return true;
    close();
    return false;
}

std::string V4L2Camera::modeText() const
{
    std::ostringstream text;
    text << fourccText(_mode.fourcc) << " " << _mode.width << "x" << _mode.height << " at " << frameRate()
         << " fps";
    return text.str();
}

bool V4L2Camera::openCaptureDevice(std::string& error)
{
    std::string name;
    return openNode(_calls, _path, _descriptor, name, error);
}

bool V4L2Camera::negotiate(std::string& error)
{
    const std::vector<CameraMode> modes = enumerateModes(_calls, _descriptor, _request);
    if (!chooseCameraMode(modes, _request, _mode))
    {
        std::string offered;
        for (const std::string& line : describeCameraModes(modes))
            offered += (offered.empty() ? "" : ";") + line;
        error = "no pixel format the player can convert (the device offers" +
                (offered.empty() ? std::string(" none") : offered) + ")";
        return false;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.pixelformat = _mode.fourcc;
    format.fmt.pix.width = uint32_t(_mode.width);
    format.fmt.pix.height = uint32_t(_mode.height);
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (control(_calls, _descriptor, VIDIOC_S_FMT, &format) != 0)
    {
        error = lastFailure("cannot set the format " + fourccText(_mode.fourcc));
        return false;
    }
    // The driver may have adjusted the request: what it will send is what counts.
    if (formatCost(format.fmt.pix.pixelformat) < 0)
    {
        error = "the device cannot deliver " + fourccText(_mode.fourcc) + " (it offers " +
                fourccText(format.fmt.pix.pixelformat) + " instead)";
        return false;
    }
    _mode.fourcc = format.fmt.pix.pixelformat;
    _mode.width = int(format.fmt.pix.width);
    _mode.height = int(format.fmt.pix.height);
    _bytesPerLine = int(format.fmt.pix.bytesperline);
    requestRate();
    return true;
}

void V4L2Camera::requestRate()
{
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (_mode.fps <= 0.0 || control(_calls, _descriptor, VIDIOC_G_PARM, &parameters) != 0 ||
        !(parameters.parm.capture.capability & V4L2_CAP_TIMEPERFRAME))
        return; // the device keeps its own rate
    parameters.parm.capture.timeperframe.numerator = 1000;
    parameters.parm.capture.timeperframe.denominator = uint32_t(_mode.fps * 1000.0 + 0.5);
    if (control(_calls, _descriptor, VIDIOC_S_PARM, &parameters) == 0 &&
        parameters.parm.capture.timeperframe.numerator > 0)
        _mode.fps = double(parameters.parm.capture.timeperframe.denominator) /
                    parameters.parm.capture.timeperframe.numerator;
}

bool V4L2Camera::startStreaming(std::string& error)
{
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (control(_calls, _descriptor, VIDIOC_REQBUFS, &request) != 0 || request.count == 0)
    {
        error = lastFailure("cannot get capture buffers");
        return false;
    }
    for (uint32_t index = 0; index < request.count; ++index)
    {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = index;
        if (control(_calls, _descriptor, VIDIOC_QUERYBUF, &buffer) != 0)
        {
            error = lastFailure("cannot query a capture buffer");
            return false;
        }
        void* start = _calls.map(buffer.length, _descriptor, off_t(buffer.m.offset));
        if (start == MAP_FAILED)
        {
            error = lastFailure("cannot map a capture buffer");
            return false;
        }
        _buffers.push_back({start, buffer.length});
        if (control(_calls, _descriptor, VIDIOC_QBUF, &buffer) != 0)
        {
            error = lastFailure("cannot queue a capture buffer");
            return false;
        }
    }
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (control(_calls, _descriptor, VIDIOC_STREAMON, &type) != 0)
    {
        error = lastFailure("cannot start streaming");
        return false;
    }
    _streaming = true;
    return true;
}

FrameSource::Read V4L2Camera::read(cv::Mat& frame, std::string& error)
{
    if (!_streaming)
    {
        error = "not streaming";
        return Read::Failed;
    }
    const int ready = _calls.waitReadable(_descriptor, kReadWaitMilliseconds);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return Read::Waiting;
    if (ready < 0)
    {
        error = std::strerror(errno);
        return Read::Failed;
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (control(_calls, _descriptor, VIDIOC_DQBUF, &buffer) != 0)
    {
        if (errno == EAGAIN)
            return Read::Waiting;
        error = readFailure();
        return Read::Failed;
    }
    // A damaged frame (flagged by the driver, or a JPEG that does not decode) is dropped, not fatal.
    std::string damage;
    const bool converted = buffer.index < _buffers.size() && !(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
                           _converter.convert(_mode.fourcc, _mode.width, _mode.height, _bytesPerLine,
                                              static_cast<const uint8_t*>(_buffers[buffer.index].start),
                                              buffer.bytesused, frame, damage);
    if (control(_calls, _descriptor, VIDIOC_QBUF, &buffer) != 0)
    {
        error = readFailure();
        return Read::Failed;
    }
    return converted ? Read::Frame : Read::Waiting;
}

} // namespace osgART
