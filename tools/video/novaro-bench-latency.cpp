// novaro-bench-latency: how late the capture's frames reach the player's frame loop.
//
//   novaro-bench-latency [SECONDS]
//
// Plays a synthetic 640x480 YUYV camera at 30 frames per second through the capture thread
// (conversion included) while a 60 Hz loop calls update() as the player's frame loop does, and
// prints how long after a frame's arrival the loop had it in the image: median, 95th percentile
// and maximum, in milliseconds and in camera frame periods. The loop's own wait for its next turn
// (up to one loop period) is part of the numbers, as it is in the player.
#include "CaptureVideo.h"
#include "FrameConverter.h"

#include <osg/Notify>

#include <linux/videodev2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

const double kCameraRate = 30.0;
const double kLoopRate = 60.0;

// When each synthetic frame arrived, by its number (which is written into its first pixel).
struct ArrivalLog
{
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
};

// A camera delivering YUYV frames at its rate: read() waits for the next one as a driver's buffer
// queue would, then converts it as the V4L2 camera does.
class SyntheticCamera : public osgART::FrameSource
{
public:
    explicit SyntheticCamera(ArrivalLog& log) : _log(log), _yuyv(640 * 480 * 2, 128), _next(Clock::now()) {}
    std::string describe() const override { return "synthetic camera"; }
    bool open(std::string&) override { return true; }
    Read read(cv::Mat& frame, std::string& error) override
    {
        std::this_thread::sleep_until(_next);
        const Clock::time_point arrival = Clock::now();
        _next +=
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kCameraRate));
        if (!_converter.convert(V4L2_PIX_FMT_YUYV, 640, 480, 0, _yuyv.data(), _yuyv.size(), frame, error))
            return Read::Failed;
        std::lock_guard<std::mutex> lock(_log.mutex);
        const unsigned int number = unsigned(_log.arrivals.size());
        _log.arrivals.push_back(arrival);
        frame.at<cv::Vec3b>(0, 0) = cv::Vec3b(number & 0xff, (number >> 8) & 0xff, (number >> 16) & 0xff);
        return Read::Frame;
    }
    bool rewind(std::string&) override { return true; }
    double frameRate() const override { return kCameraRate; }
    bool isLive() const override { return true; }

private:
    ArrivalLog& _log;
    std::vector<uint8_t> _yuyv;
    Clock::time_point _next;
    osgART::FrameConverter _converter;
};

int measureLatency(double seconds)
{
    ArrivalLog log;
    osg::ref_ptr<osgART::CaptureVideo> video = new osgART::CaptureVideo;
    video->setSourceFactory([&log](const osgART::CaptureOptions&)
                            { return std::unique_ptr<osgART::FrameSource>(new SyntheticCamera(log)); });
    video->getVideoConfiguration()->deviceconfig = "-devNum=1";
    if (!video->open())
        return 1;
    video->start();
    std::vector<double> latencies;
    const auto loopPeriod =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kLoopRate));
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    unsigned int shown = video->getFrameNumber();
    for (Clock::time_point tick = Clock::now(); tick < end; tick += loopPeriod)
    {
        std::this_thread::sleep_until(tick);
        video->update();
        if (video->getFrameNumber() == shown)
            continue;
        shown = video->getFrameNumber();
        const unsigned char* first = video->data(0, 0);
        const unsigned int number = first[0] | (first[1] << 8) | (first[2] << 16);
        std::lock_guard<std::mutex> lock(log.mutex);
        if (number < log.arrivals.size())
            latencies.push_back(millisecondsSince(log.arrivals[number]));
    }
    video->close(true);
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty())
        return 1;
    const double period = 1000.0 / kCameraRate;
    const double p95 = latencies[latencies.size() * 95 / 100];
    std::printf(
        "capture latency over %zu frames (camera %.0f fps, loop %.0f Hz): median %.2f ms (%.2f frames), "
        "p95 %.2f ms (%.2f frames), max %.2f ms (%.2f frames)\n",
        latencies.size(), kCameraRate, kLoopRate, median(latencies), median(latencies) / period, p95,
        p95 / period, latencies.back(), latencies.back() / period);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    osg::setNotifyLevel(osg::WARN);
    return measureLatency(argc > 1 ? std::atof(argv[1]) : 10.0);
}
