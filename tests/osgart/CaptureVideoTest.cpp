// The camera side of the video plugin: pixel formats made here converted back to the frame they
// came from, the choice among a device's modes, the errors a user meets, and a camera that goes
// away and comes back while playing.
#include "CaptureVideo.h"
#include "CameraModes.h"
#include "CaptureWaiting.h"
#include "FrameConverter.h"
#include "V4L2Camera.h"

#include "NotifyCapture.h"
#include "PlayerProcess.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <linux/videodev2.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>
#include <tuple>
#include <unistd.h>

using NovaroTest::updateUntil;

namespace
{

// Random colours in 2x2 blocks, so chroma subsampling loses nothing.
cv::Mat blockFrame(int width = 64, int height = 48)
{
    cv::Mat blocks(height / 2, width / 2, CV_8UC3), frame;
    cv::RNG(7).fill(blocks, cv::RNG::UNIFORM, 0, 256);
    cv::resize(blocks, frame, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
    return frame;
}

// The frame in a V4L2 pixel format, laid out byte by byte as a device does, from OpenCV's I420 (BT.601
// video range, as cameras encode it; the chroma of each 2 x 2 block that of its top-left pixel; YV12
// is I420 with the chroma planes swapped, V4L2's YVU420).
std::vector<uint8_t> encode(const cv::Mat& bgr, uint32_t fourcc)
{
    cv::Mat converted;
    if (fourcc == V4L2_PIX_FMT_RGB24)
        cv::cvtColor(bgr, converted, cv::COLOR_BGR2RGB);
    else if (fourcc == V4L2_PIX_FMT_GREY)
        cv::extractChannel(bgr, converted, 1);
    else
        cv::cvtColor(bgr, converted,
                     fourcc == V4L2_PIX_FMT_YVU420 ? cv::COLOR_BGR2YUV_YV12 : cv::COLOR_BGR2YUV_I420);
    const uint8_t* y = converted.data;
    if (fourcc == V4L2_PIX_FMT_RGB24 || fourcc == V4L2_PIX_FMT_GREY || fourcc == V4L2_PIX_FMT_YUV420 ||
        fourcc == V4L2_PIX_FMT_YVU420)
        return std::vector<uint8_t>(y, y + converted.total() * converted.elemSize());
    const int w = bgr.cols, h = bgr.rows, quarter = w * h / 4;
    const uint8_t *u = y + w * h, *v = u + quarter;
    if (fourcc == V4L2_PIX_FMT_NV21 || fourcc == V4L2_PIX_FMT_YVYU)
        std::swap(u, v);
    std::vector<uint8_t> bytes;
    if (fourcc == V4L2_PIX_FMT_YUYV || fourcc == V4L2_PIX_FMT_YVYU || fourcc == V4L2_PIX_FMT_UYVY)
    {
        for (int row = 0; row < h; ++row)
            for (int x = 0; x < w; x += 2)
            {
                const int c = (row / 2) * (w / 2) + x / 2;
                const uint8_t first = y[row * w + x], second = y[row * w + x + 1];
                bytes.insert(bytes.end(), fourcc == V4L2_PIX_FMT_UYVY
                                              ? std::initializer_list<uint8_t>{u[c], first, v[c], second}
                                              : std::initializer_list<uint8_t>{first, u[c], second, v[c]});
            }
        return bytes;
    }
    bytes.assign(y, y + w * h); // NV12 and NV21: the chroma interleaved after the luma
    for (int c = 0; c < quarter; ++c)
        bytes.insert(bytes.end(), {u[c], v[c]});
    return bytes;
}

// Smooth, so that JPEG itself loses little: what is left is decoding and conversion.
cv::Mat smoothFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame.at<cv::Vec3b>(y, x) = cv::Vec3b(uint8_t(x * 255 / width), uint8_t(y * 255 / height),
                                                  uint8_t(250 - 120 * (x + y) / (width + height)));
    return frame;
}

// A webcam's modes: YUYV only up to 30 fps at 640x480, Motion JPEG at 1280x720 too, H.264 beyond.
const std::vector<osgART::CameraMode> kWebcamModes = {
    {V4L2_PIX_FMT_H264, 1920, 1080, 30}, {V4L2_PIX_FMT_YUYV, 640, 480, 30},
    {V4L2_PIX_FMT_YUYV, 640, 480, 15},   {V4L2_PIX_FMT_YUYV, 1280, 720, 10},
    {V4L2_PIX_FMT_MJPEG, 640, 480, 30},  {V4L2_PIX_FMT_MJPEG, 1280, 720, 30},
    {V4L2_PIX_FMT_YUYV, 320, 240, 30}};

double meanDifference(const cv::Mat& a, const cv::Mat& b)
{
    return cv::norm(a, b, cv::NORM_L1) / double(a.total() * a.channels());
}

// A V4L2 device behind the capture's system calls: it offers the given modes, takes what the
// capture sets, hands out its buffers through map(), and fills them with the picture in the
// format set. Unplugging it makes every later call fail as a removed device's do; it can also
// refuse to open (no permission) or to take a format (busy).
class SimulatedDevice
{
public:
    std::vector<osgART::CameraMode> modes;
    cv::Mat picture; // BGR, what the lens sees, at the largest size
    bool unplugged = false;
    int openError = 0;      // errno of a refused open (EACCES: no permission)
    bool busy = false;      // another program streams from it
    osgART::CameraMode set; // what the capture asked for
    std::vector<std::vector<uint8_t>> buffers;
    std::deque<uint32_t> queued;

    osgART::DeviceCalls calls()
    {
        osgART::DeviceCalls calls;
        calls.open = [this](const char*, int) {
            return unplugged ? refuse(ENOENT) : openError != 0 ? refuse(openError) : 3;
        };
        calls.close = [](int) { return 0; };
        calls.ioctl = [this](int, unsigned long request, void* argument)
        { return control(request, argument); };
        calls.map = [this](std::size_t, int, off_t offset) -> void*
        { return buffers.at(size_t(offset)).data(); };
        calls.unmap = [](void*, std::size_t) { return 0; };
        calls.waitReadable = [this](int, int) { return unplugged || !queued.empty() ? 1 : 0; };
        return calls;
    }

private:
    static int refuse(int error)
    {
        errno = error;
        return -1;
    }
    // The distinct values of key(mode), in the modes' order, among the modes of the format (any when
    // 0) and of the size (any when 0).
    template <typename KeyOf>
    auto distinct(KeyOf key, uint32_t fourcc = 0, int width = 0, int height = 0) const
    {
        std::vector<decltype(key(modes[0]))> values;
        for (const osgART::CameraMode& mode : modes)
            if ((fourcc == 0 || mode.fourcc == fourcc) &&
                (width == 0 || (mode.width == width && mode.height == height)) &&
                std::find(values.begin(), values.end(), key(mode)) == values.end())
                values.push_back(key(mode));
        return values;
    }
    std::vector<uint8_t> frame() const
    {
        cv::Mat seen;
        cv::resize(picture, seen, cv::Size(set.width, set.height), 0, 0, cv::INTER_NEAREST);
        if (set.fourcc != V4L2_PIX_FMT_MJPEG)
            return encode(seen, set.fourcc);
        std::vector<uint8_t> jpeg;
        cv::imencode(".jpg", seen, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
        return jpeg;
    }
    int control(unsigned long request, void* argument)
    {
        if (unplugged)
            return refuse(ENODEV);
        switch (request)
        {
        case VIDIOC_QUERYCAP:
        {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::snprintf(reinterpret_cast<char*>(capability->card), sizeof(capability->card),
                          "Simulated camera");
            capability->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT:
        {
            auto* format = static_cast<v4l2_fmtdesc*>(argument);
            const auto fourccs = distinct([](const osgART::CameraMode& m) { return m.fourcc; });
            if (format->index >= fourccs.size())
                return refuse(EINVAL);
            format->pixelformat = fourccs[format->index];
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES:
        {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            const auto sizes =
                distinct([](const osgART::CameraMode& m) { return std::make_pair(m.width, m.height); },
                         size->pixel_format);
            if (size->index >= sizes.size())
                return refuse(EINVAL);
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete.width = uint32_t(sizes[size->index].first);
            size->discrete.height = uint32_t(sizes[size->index].second);
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS:
        {
            auto* interval = static_cast<v4l2_frmivalenum*>(argument);
            const auto rates = distinct([](const osgART::CameraMode& m) { return m.fps; },
                                        interval->pixel_format, int(interval->width), int(interval->height));
            if (interval->index >= rates.size())
                return refuse(EINVAL);
            interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            interval->discrete = {1, uint32_t(rates[interval->index])};
            return 0;
        }
        case VIDIOC_S_FMT:
        {
            if (busy)
                return refuse(EBUSY);
            v4l2_pix_format& pixels = static_cast<v4l2_format*>(argument)->fmt.pix;
            set.fourcc = pixels.pixelformat;
            set.width = int(pixels.width);
            set.height = int(pixels.height);
            pixels.bytesperline = set.fourcc == V4L2_PIX_FMT_YUYV ? pixels.width * 2 : 0;
            pixels.sizeimage = pixels.width * pixels.height * 3;
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM:
        {
            v4l2_captureparm& capture = static_cast<v4l2_streamparm*>(argument)->parm.capture;
            capture.capability = V4L2_CAP_TIMEPERFRAME;
            if (request == VIDIOC_S_PARM)
                set.fps = double(capture.timeperframe.denominator) / capture.timeperframe.numerator;
            return 0;
        }
        case VIDIOC_REQBUFS:
        {
            auto* buffersRequest = static_cast<v4l2_requestbuffers*>(argument);
            buffers.assign(std::min(buffersRequest->count, 4u),
                           std::vector<uint8_t>(size_t(set.width) * set.height * 3));
            buffersRequest->count = uint32_t(buffers.size());
            return 0;
        }
        case VIDIOC_QUERYBUF:
        {
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            buffer->length = uint32_t(buffers.at(buffer->index).size());
            buffer->m.offset = buffer->index; // map() takes it as the buffer's number
            return 0;
        }
        case VIDIOC_QBUF:
            queued.push_back(static_cast<v4l2_buffer*>(argument)->index);
            return 0;
        case VIDIOC_DQBUF:
        {
            if (queued.empty())
                return refuse(EAGAIN);
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            buffer->index = queued.front();
            queued.pop_front();
            const std::vector<uint8_t> bytes = frame();
            std::copy(bytes.begin(), bytes.end(), buffers[buffer->index].begin());
            buffer->bytesused = uint32_t(bytes.size());
            return 0;
        }
        case VIDIOC_STREAMON:
            return 0;
        case VIDIOC_STREAMOFF:
            queued.clear(); // a stopped stream gives every buffer back
            return 0;
        default:
            return refuse(ENOTTY);
        }
    }
};

// A camera the test unplugs and plugs in again.
struct FakeCamera
{
    std::atomic<int> refusedOpens{0};
    std::atomic<bool> unplugged{false};
    std::atomic<bool> silent{false}; // still there, but sending nothing until opened afresh
    std::atomic<int> opens{0};
    std::atomic<int> frames{0};
};

class FakeSource : public osgART::FrameSource
{
public:
    explicit FakeSource(std::shared_ptr<FakeCamera> camera) : _camera(std::move(camera)) {}
    std::string describe() const override { return "video device /dev/fake"; }
    bool open(std::string& error) override
    {
        ++_camera->opens;
        _camera->silent = false; // a device that hung answers again once opened afresh
        if (_camera->refusedOpens > 0)
        {
            --_camera->refusedOpens;
            error = "no such device";
            return false;
        }
        return true;
    }
    Read read(cv::Mat& frame, std::string& error) override
    {
        if (_camera->unplugged)
        {
            error = "the device is gone";
            return Read::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (_camera->silent)
            return Read::Waiting;
        frame.create(48, 64, CV_8UC3);
        frame.setTo(cv::Scalar::all(++_camera->frames % 200 + 50));
        return Read::Frame;
    }
    bool rewind(std::string&) override { return true; }
    double frameRate() const override { return 200.0; }
    bool isLive() const override { return true; }

private:
    std::shared_ptr<FakeCamera> _camera;
};

// A capture whose every source is a FakeSource of the camera.
osg::ref_ptr<osgART::CaptureVideo> captureOf(const std::shared_ptr<FakeCamera>& camera,
                                             const std::string& options)
{
    osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
    video->setSourceFactory([camera](const osgART::CaptureOptions&)
                            { return std::unique_ptr<osgART::FrameSource>(new FakeSource(camera)); });
    video->getVideoConfiguration()->deviceconfig = options;
    return video;
}

class CaptureLoss : public ::testing::Test
{
protected:
    // Starts a capture of the camera while it is not plugged in, to try again after retryPeriod.
    void startAbsent(std::chrono::milliseconds retryPeriod, const std::string& options)
    {
        video = captureOf(camera, options);
        video->setLossTimings(retryPeriod, osgART::CaptureVideo::kStallTimeout);
        camera->refusedOpens = 1;
        EXPECT_FALSE(video->open());
        EXPECT_EQ(video->getWidth(), 640); // the placeholder's size
        video->start();
    }

    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>();
    NovaroTest::NotifyCapture console{osg::FATAL};
    osg::ref_ptr<osgART::CaptureVideo> video;
};

} // namespace

TEST(FrameConverter, EveryCameraFormatComesBackAsTheFrameItWasMadeFrom)
{
    const cv::Mat original = blockFrame();
    cv::Mat greenOnly;
    cv::extractChannel(original, greenOnly, 1);
    cv::merge(std::vector<cv::Mat>(3, greenOnly), greenOnly);
    osgART::FrameConverter converter;
    cv::Mat converted;
    std::string error;
    for (uint32_t fourcc :
         {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_YVYU, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_NV21,
          V4L2_PIX_FMT_YUV420, V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_RGB24, V4L2_PIX_FMT_GREY})
    {
        const std::vector<uint8_t> bytes = encode(original, fourcc);
        ASSERT_TRUE(converter.convert(fourcc, 64, 48, 0, bytes.data(), bytes.size(), converted, error))
            << osgART::fourccText(fourcc) << ": " << error;
        ASSERT_EQ(converted.type(), CV_8UC3);
        // Only rounding in the two colour conversions; RGB and grey (as grey in every channel) exact.
        const bool exact = fourcc == V4L2_PIX_FMT_RGB24 || fourcc == V4L2_PIX_FMT_GREY;
        EXPECT_LE(cv::norm(fourcc == V4L2_PIX_FMT_GREY ? greenOnly : original, converted, cv::NORM_INF),
                  exact ? 0.0 : 5.0)
            << osgART::fourccText(fourcc);
    }

    // Packed rows padded to a wider stride keep their pixels in place.
    std::vector<uint8_t> yuyv = encode(original, V4L2_PIX_FMT_YUYV), padded;
    for (int row = 0; row < 48; ++row)
    {
        padded.insert(padded.end(), yuyv.begin() + row * 128, yuyv.begin() + (row + 1) * 128);
        padded.insert(padded.end(), 32, 0xee);
    }
    ASSERT_TRUE(
        converter.convert(V4L2_PIX_FMT_YUYV, 64, 48, 160, padded.data(), padded.size(), converted, error));
    EXPECT_LT(cv::norm(original, converted, cv::NORM_INF), 6.0);
}

TEST(FrameConverter, MotionJpegDecodesAndDamagedOrShortFramesAreRefused)
{
    const cv::Mat original = smoothFrame(64, 48);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(cv::imencode(".jpg", original, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95}));
    osgART::FrameConverter converter;
    cv::Mat converted;
    std::string error;
    for (int frame = 0; frame < 2; ++frame) // the decoder is kept from one frame to the next
    {
        ASSERT_TRUE(
            converter.convert(V4L2_PIX_FMT_MJPEG, 64, 48, 0, jpeg.data(), jpeg.size(), converted, error))
            << error;
        // Chroma upsampling costs a level or two; taking JPEG's full range for video range costs 7.
        EXPECT_LT(meanDifference(original, converted), 3.0);
    }
    // A frame of another size, bytes that are no JPEG, a buffer cut short, a format we cannot read.
    EXPECT_FALSE(
        converter.convert(V4L2_PIX_FMT_MJPEG, 32, 24, 0, jpeg.data(), jpeg.size(), converted, error));
    const std::vector<uint8_t> noise(3000, 0x5a);
    EXPECT_FALSE(
        converter.convert(V4L2_PIX_FMT_MJPEG, 64, 48, 0, noise.data(), noise.size(), converted, error));
    const std::vector<uint8_t> yuyv = encode(original, V4L2_PIX_FMT_YUYV);
    EXPECT_FALSE(
        converter.convert(V4L2_PIX_FMT_YUYV, 64, 48, 0, yuyv.data(), yuyv.size() - 1, converted, error));
    EXPECT_NE(error.find("short frame"), std::string::npos) << error;
    EXPECT_FALSE(converter.convert(V4L2_PIX_FMT_H264, 64, 48, 0, yuyv.data(), yuyv.size(), converted, error));
}

TEST(CameraModes, NearestSizeThenRateThenCheapestFormat)
{
    auto choose = [&](int width, int height, double fps)
    {
        osgART::CameraMode chosen;
        EXPECT_TRUE(osgART::chooseCameraMode(kWebcamModes, {width, height, fps}, chosen));
        return osgART::fourccText(chosen.fourcc) + " " + std::to_string(chosen.width) + "x" +
               std::to_string(chosen.height) + "@" + std::to_string(int(chosen.fps));
    };
    EXPECT_EQ(choose(0, 0, 0), "YUYV 640x480@30"); // the default, in the format cheaper to convert
    EXPECT_EQ(choose(0, 0, 15), "YUYV 640x480@15");
    EXPECT_EQ(choose(1280, 720, 0), "MJPG 1280x720@30"); // YUYV manages only 10 fps there
    EXPECT_EQ(choose(1280, 720, 10), "YUYV 1280x720@10");
    EXPECT_EQ(choose(1920, 1080, 30), "MJPG 1280x720@30"); // H.264 cannot be converted
    EXPECT_EQ(choose(0, 200, 0), "YUYV 320x240@30");       // one side asked for
    EXPECT_EQ(choose(700, 500, 0), "YUYV 640x480@30");

    osgART::CameraMode chosen;
    EXPECT_FALSE(osgART::chooseCameraMode({kWebcamModes[0]}, osgART::CameraRequest(), chosen));
    const std::vector<std::string> lines = osgART::describeCameraModes(kWebcamModes);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "  YUYV: 640x480 (30, 15 fps), 1280x720 (10 fps)");
}

TEST(SimulatedCamera, NegotiatesStreamsAndSaysWhyItCannotCapture)
{
    SimulatedDevice device;
    device.modes = kWebcamModes;
    device.picture = smoothFrame(1280, 960);
    const osgART::DeviceCalls calls = device.calls();

    // Nothing asked: 640x480 at 30 in YUYV. 1280x720 at 30: only Motion JPEG delivers that.
    for (const auto& [width, height, fourcc] : std::vector<std::tuple<int, int, uint32_t>>{
             {0, 0, V4L2_PIX_FMT_YUYV}, {1280, 720, V4L2_PIX_FMT_MJPEG}})
    {
        osgART::V4L2Camera camera("/dev/video0", {width, height, 0.0}, calls);
        std::string error;
        ASSERT_TRUE(camera.open(error)) << error;
        EXPECT_EQ(device.set.fourcc, fourcc);
        EXPECT_EQ(device.set.width, width ? width : 640);
        EXPECT_DOUBLE_EQ(device.set.fps, 30.0);
        cv::Mat frame, expected;
        ASSERT_EQ(camera.read(frame, error), osgART::FrameSource::Read::Frame) << error;
        cv::resize(device.picture, expected, frame.size(), 0, 0, cv::INTER_NEAREST);
        EXPECT_LT(meanDifference(expected, frame), 2.0);
        EXPECT_EQ(device.queued.size(), 4u); // every buffer queued, the one read straight back
    }

    osgART::V4L2Camera camera("/dev/video0", osgART::CameraRequest(), calls);
    std::string error;
    ASSERT_TRUE(camera.open(error));
    device.unplugged = true;
    cv::Mat frame;
    EXPECT_EQ(camera.read(frame, error), osgART::FrameSource::Read::Failed);
    EXPECT_EQ(error, "the device is gone (unplugged?)");
    const auto refusal = [&]() { return camera.open(error) ? "opened" : error; };
    EXPECT_EQ(refusal(), "no such device (is the camera plugged in?)");
    // What a user can do about it: join the video group, close the other program.
    device.unplugged = false;
    device.openError = EACCES;
    EXPECT_EQ(refusal(), "permission denied (the user needs to be in the 'video' group)");
    device.openError = 0;
    device.busy = true;
    EXPECT_EQ(refusal(), "device busy (another program is using the camera)");
    device.busy = false;
    // A device whose every format is beyond the capture says what it offers.
    device.modes = {{V4L2_PIX_FMT_H264, 1920, 1080, 30}};
    EXPECT_EQ(refusal(),
              "no pixel format the player can convert (the device offers  H264: 1920x1080 (30 fps))");
    std::string name;
    std::vector<osgART::CameraMode> offered;
    ASSERT_TRUE(osgART::V4L2Camera::query("/dev/video0", name, offered, error, calls));
    EXPECT_EQ(name, "Simulated camera");
    EXPECT_EQ(offered.size(), 1u);
}

TEST(CaptureErrors, DeviceNodesAndFilesThatCannotCaptureSayWhyAndADarkPlaceholderShows)
{
    // A node that is no camera (a regular file fails the same query). A node that is not there:
    // SimulatedCamera, through the same reading of errno.
    osgART::V4L2Camera camera("/dev/null", osgART::CameraRequest());
    std::string error;
    EXPECT_FALSE(camera.open(error));
    EXPECT_EQ(error, "not a video capture device");
    cv::Mat frame;
    EXPECT_EQ(camera.read(frame, error), osgART::FrameSource::Read::Failed);

    // (A file that is no movie: the player's end-to-end tests.)
    NovaroTest::TemporaryFolder files;
    const std::string missingDevice = "/dev/video" + std::to_string(60);
    for (const auto& [device, named] : std::vector<std::pair<std::string, std::string>>{
             {"-file=" + files.file("none.png"), files.file("none.png")},
             {"-devNum=61 -width=320 -height=240", missingDevice}})
    {
        if (device.find("-devNum") != std::string::npos && access(missingDevice.c_str(), F_OK) == 0)
            continue;
        osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
        video->getVideoConfiguration()->deviceconfig = device + " -flipV";
        NovaroTest::NotifyCapture console(osg::FATAL);
        EXPECT_FALSE(video->open()) << device;
        video->start();
        video->stop();
        video->close(true);
        const std::vector<NovaroTest::NotifyCapture::Line> lines = console.lines();
        ASSERT_EQ(lines.size(), 1u) << console.text();
        EXPECT_EQ(lines[0].second.rfind("ERROR: no camera image: ", 0), 0u) << lines[0].second;
        EXPECT_NE(lines[0].second.find(named), std::string::npos) << lines[0].second;
        EXPECT_NE(video->getProblem().find(named), std::string::npos);
        // Something to draw all the same: dark grey at the asked (or the default) size.
        const bool asked = device.find("-width") != std::string::npos;
        EXPECT_EQ(std::make_pair(video->getWidth(), video->getHeight()),
                  asked ? std::make_pair(320, 240) : std::make_pair(640, 480));
        EXPECT_EQ(video->data(5, 5)[0], 48);
    }
}

TEST_F(CaptureLoss, ClosingDoesNotWaitForTheNextAttempt)
{
    // The capture thread waits an hour before it tries the absent camera again: a close that waited
    // for that attempt would hang this test until its time-out.
    startAbsent(std::chrono::hours(1), "-devNum=1");
    video->close(true);
    EXPECT_EQ(camera->opens, 1);
}

TEST_F(CaptureLoss, AbsentOrLostCameraIsReportedOnceKeepsItsLastImageAndResumes)
{
    // Not plugged in at start: the placeholder, and the camera is picked up once it is there.
    startAbsent(std::chrono::milliseconds(50), "-devNum=1 -flipV");
    ASSERT_TRUE(updateUntil(*video, [&] { return video->getWidth() == 64 && video->getProblem().empty(); }));

    // Unplugged while playing: reported, the last image stays while the camera is away. It refuses
    // to open from the moment it goes, so that no attempt can find it back before the test says so.
    camera->refusedOpens = 1000000;
    camera->unplugged = true;
    ASSERT_TRUE(updateUntil(*video, [&] { return !video->getProblem().empty(); }));
    video->update();
    const unsigned int lastFrame = video->getFrameNumber();
    const int lastValue = video->data(3, 3)[0];
    // Away until let back in: two attempts find it still away.
    camera->unplugged = false;
    const int opensBefore = camera->opens;
    ASSERT_TRUE(updateUntil(*video, [&] { return camera->opens >= opensBefore + 2; }));
    video->update();
    EXPECT_EQ(video->getFrameNumber(), lastFrame);
    EXPECT_EQ(video->data(3, 3)[0], lastValue);
    EXPECT_EQ(video->getProblem(), "video device /dev/fake: the device is gone");
    camera->refusedOpens = 0;

    ASSERT_TRUE(updateUntil(*video, [&] { return video->getFrameNumber() > lastFrame + 2; }));
    EXPECT_TRUE(video->getProblem().empty());

    video->close(true);
    EXPECT_EQ(console.count("ERROR: no camera image: video device /dev/fake: no such device"), 1);
    EXPECT_EQ(console.count("WARNING: camera image lost: video device /dev/fake: the device is gone (trying "
                            "again every second)"),
              1);
    EXPECT_EQ(console.count("video device /dev/fake: camera image back"), 2);
    EXPECT_EQ(console.lines().size(), 4u) << console.text();
}

TEST_F(CaptureLoss, CameraThatFallsSilentCountsAsLostAndIsOpenedAgain)
{
    video = captureOf(camera, "-devNum=1");
    // The silence ends only when the camera is opened again, whenever the next attempt comes.
    video->setLossTimings(std::chrono::milliseconds(50), std::chrono::milliseconds(500));
    ASSERT_TRUE(video->open());
    video->start();
    camera->silent = true;
    ASSERT_TRUE(updateUntil(*video, [&] { return camera->opens >= 2; }));
    const unsigned int lastFrame = video->getFrameNumber();
    ASSERT_TRUE(updateUntil(*video, [&] { return video->getFrameNumber() > lastFrame + 2; }));
    EXPECT_EQ(camera->opens, 2); // opened afresh once, as a device that hung needs
    EXPECT_TRUE(video->getProblem().empty());
    video->close(true);
    EXPECT_EQ(console.count("WARNING: camera image lost: video device /dev/fake: no frame for 0.5 seconds "
                            "(trying again every second)"),
              1)
        << console.text();
    EXPECT_EQ(console.count("video device /dev/fake: camera image back"), 1) << console.text();
}

TEST(CaptureLinking, ThePlayerLoadsNoOpenCVFileOrCameraInput)
{
    // OpenCV's videoio and imgcodecs bring some two hundred libraries (GStreamer, GDAL, ...) into
    // the player's start-up; the player and its plugins read cameras and files without them.
    const std::string run = NOVARO_RUN_DIR;
    for (const std::string& binary :
         {run + "/novaro", run + "/lib/libosgART.so", run + "/osgplugins/osgart_video_artoolkit4.so",
          run + "/osgplugins/osgart_tracker_artoolkit4.so"})
    {
        const NovaroTest::PlayerRun ldd = NovaroTest::runExecutable("ldd", run, {binary});
        EXPECT_EQ(ldd.status, 0) << binary;
        EXPECT_NE(ldd.output.find("libopencv_imgproc"), std::string::npos) << binary;
        EXPECT_EQ(ldd.output.find("opencv_videoio"), std::string::npos) << binary;
        EXPECT_EQ(ldd.output.find("opencv_imgcodecs"), std::string::npos) << binary;
    }
}
