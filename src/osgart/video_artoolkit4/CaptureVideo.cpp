#include "CaptureVideo.h"

#include "FileSource.h"
#include "V4L2Camera.h"

#include <osgART/InputFiles.h>

#include <opencv2/imgproc.hpp>

#include <osg/Notify>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <sstream>

namespace osgART
{

namespace
{

using Clock = std::chrono::steady_clock;

// Grey of the placeholder image: dark, so the head-up display's white text reads on it.
const int kPlaceholderGrey = 48;
// Longest wait for a camera's first frame when opening (cameras take a moment to start).
const std::chrono::milliseconds kFirstFrameTimeout{3000};

std::unique_ptr<FrameSource> makeDefaultSource(const CaptureOptions& options)
{
    if (!options.file.empty())
        return std::make_unique<FileSource>(options.file);
    CameraRequest request;
    request.width = options.width;
    request.height = options.height;
    request.fps = options.fps;
    return std::make_unique<V4L2Camera>(options.devicePath(), request);
}

// Frames of a movie or sequence may change size on the way; a huge one is refused, not copied.
bool isShowableFrame(const cv::Mat& frame)
{
    return isShowableImageSize(frame.cols, frame.rows);
}

} // namespace

constexpr std::chrono::milliseconds CaptureVideo::kRetryPeriod;
constexpr std::chrono::milliseconds CaptureVideo::kStallTimeout;

std::vector<std::pair<std::string, std::string>> listCaptureDevices()
{
    std::vector<std::pair<int, std::string>> found;
    if (DIR* folder = opendir("/sys/class/video4linux"))
    {
        while (dirent* entry = readdir(folder))
        {
            const std::string name = entry->d_name;
            if (name.compare(0, 5, "video") != 0 || name.size() == 5 ||
                name.find_first_not_of("0123456789", 5) != std::string::npos || name.size() > 10)
                continue;
            std::ifstream in("/sys/class/video4linux/" + name + "/name");
            std::string label;
            std::getline(in, label);
            found.emplace_back(std::stoi(name.substr(5)), label);
        }
        closedir(folder);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::pair<std::string, std::string>> devices;
    for (const auto& device : found)
        devices.emplace_back("/dev/video" + std::to_string(device.first), device.second);
    return devices;
}

CaptureVideo::CaptureVideo()
    : _makeSource(makeDefaultSource), _retry(false), _fps(0.0), _open(false), _lockstep(false),
      _firstStepDone(false), _frameFlipVertical(false), _captureFlipHorizontal(false),
      _captureFlipVertical(false), _running(false), _published(0), _shown(0)
{
}

CaptureVideo::~CaptureVideo()
{
    close(true);
}

bool CaptureVideo::listDevices()
{
    const auto devices = listCaptureDevices();
    if (devices.empty())
        osg::notify(osg::FATAL) << "No video capture devices found." << std::endl;
    for (const auto& device : devices)
    {
        // -devNum=N opens /dev/video(N-1), whichever nodes exist.
        const int number = std::stoi(device.first.substr(10)) + 1;
        osg::notify(osg::FATAL) << "video device -devNum=" << number << ": " << device.first << " ("
                                << device.second << ")" << std::endl;
        std::string name;
        std::string error;
        std::vector<CameraMode> modes;
        if (!V4L2Camera::query(device.first, name, modes, error))
            osg::notify(osg::FATAL) << "  " << error << std::endl;
        for (const std::string& line : describeCameraModes(modes))
            osg::notify(osg::FATAL) << line << std::endl;
    }
    return false;
}

bool CaptureVideo::open()
{
    // A capture thread still trying to reopen an absent camera uses the options and the source
    // this sets up: it is stopped first.
    if (_open || _source || _thread.joinable())
        close(true);
    CaptureOptions options;
    std::string error;
    if (!options.parse(_videoConfiguration.deviceconfig, error))
    {
        osg::notify(osg::FATAL) << "ERROR: no camera image: " << error << std::endl;
        setProblem(error);
        showPlaceholder();
        return false;
    }
    if (options.showDeviceList)
        return listDevices();
    if (options.showDialog)
        osg::notify(osg::NOTICE)
            << "osgART: no camera settings dialog on this platform, using the device's settings" << std::endl;
    _options = options;
    if (options.flipVertical)
        setFlip(_flipHorizontal, true);
    _published = _shown = 0;
    _frameNumber = 0;
    if (!openSource(error))
    {
        const std::string problem = (_source ? _source->describe() + ": " : std::string()) + error;
        osg::notify(osg::FATAL) << "ERROR: no camera image: " << problem << std::endl;
        setProblem(problem);
        // A camera may be plugged in later: the capture thread keeps trying once started.
        _retry = _source && _source->isLive();
        _source.reset();
        _nextAttempt = Clock::now() + _retryPeriod;
        showPlaceholder();
        return false;
    }
    setProblem(std::string());
    _open = true;
    update();
    return true;
}

bool CaptureVideo::openSource(std::string& error)
{
    _retry = false;
    _source = _makeSource(_options);
    if (!_source->open(error))
        return false;
    _fps = _options.fps > 0.0 ? _options.fps : _source->frameRate();
    if (!(_fps > 0.0 && _fps < 1000.0))
        _fps = 30.0;
    if (!readFirstFrame(error))
        return false;
    osg::notify(osg::NOTICE) << "osgART: " << _source->describe() << " " << _source->modeText() << std::endl;
    return true;
}

bool CaptureVideo::readFirstFrame(std::string& error)
{
    const Clock::time_point deadline = Clock::now() + kFirstFrameTimeout;
    for (;;)
    {
        switch (_source->read(_captured, error))
        {
        case FrameSource::Read::Frame:
            if (!isShowableFrame(_captured))
            {
                error = "frame of " + std::to_string(_captured.cols) + "x" + std::to_string(_captured.rows) +
                        " pixels, more than the player can show";
                return false;
            }
            publish(_captured);
            return true;
        case FrameSource::Read::Waiting:
            if (Clock::now() < deadline)
                continue;
            error = "no frame within " + std::to_string(kFirstFrameTimeout.count() / 1000) + " seconds";
            return false;
        case FrameSource::Read::Ended:
            error = "no frame in the file";
            return false;
        case FrameSource::Read::Failed:
            if (error.empty())
                error = "no frame could be read";
            return false;
        }
    }
}

void CaptureVideo::showPlaceholder()
{
    const int width = _options.width > 0 ? _options.width : kDefaultCameraWidth;
    const int height = _options.height > 0 ? _options.height : kDefaultCameraHeight;
    cv::Mat placeholder(height, width, CV_8UC3, cv::Scalar::all(kPlaceholderGrey));
    publish(placeholder);
    update();
}

void CaptureVideo::publish(cv::Mat& frame)
{
    cv::Mat source = frame;
    cv::Mat scaled;
    // Files are scaled to the asked size; a camera delivers the size it negotiated.
    const bool live = _source && _source->isLive();
    if (!live && _options.width > 0 && _options.height > 0 &&
        (source.cols != _options.width || source.rows != _options.height))
    {
        cv::resize(source, scaled, cv::Size(_options.width, _options.height), 0, 0, cv::INTER_AREA);
        source = scaled;
    }
    const bool vertical = _captureFlipVertical;
    const bool horizontal = _captureFlipHorizontal;
    if (vertical || horizontal)
        cv::flip(source, _back, vertical && horizontal ? -1 : (vertical ? 0 : 1));
    else if (source.data == frame.data)
        cv::swap(_back, frame); // taken as it is: the read buffer becomes the back buffer
    else
        cv::swap(_back, scaled);
    std::lock_guard<std::mutex> lock(_mutex);
    cv::swap(_back, _ready);
    _frameFlipVertical = vertical;
    ++_published;
}

void CaptureVideo::captureLoop()
{
    Clock::time_point next = Clock::now();
    Clock::time_point lastFrame = Clock::now();
    while (_running)
    {
        if (_source)
            captureFrame(next, lastFrame);
        else if (sleepUntil(_nextAttempt))
        {
            tryToReopen();
            next = lastFrame = Clock::now();
        }
    }
}

void CaptureVideo::captureFrame(Clock::time_point& next, Clock::time_point& lastFrame)
{
    std::string error;
    switch (_source->read(_captured, error))
    {
    case FrameSource::Read::Frame:
        if (!isShowableFrame(_captured))
            return loseSource("frame of " + std::to_string(_captured.cols) + "x" +
                              std::to_string(_captured.rows) + " pixels, more than the player can show");
        if (!_source->isLive())
        {
            // Files play at their rate; after falling behind, they go on from now rather than race.
            const auto period =
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / _fps));
            next = std::max(next + period, Clock::now());
            if (!sleepUntil(next))
                return;
        }
        lastFrame = Clock::now();
        publish(_captured);
        return;
    case FrameSource::Read::Waiting:
        if (Clock::now() - lastFrame > _stallTimeout)
        {
            std::ostringstream reason;
            reason << "no frame for " << std::chrono::duration<double>(_stallTimeout).count() << " seconds";
            loseSource(reason.str());
        }
        return;
    case FrameSource::Read::Ended:
        if (!_source->rewind(error))
            loseSource("cannot play it again: " + error);
        return;
    case FrameSource::Read::Failed:
        loseSource(error.empty() ? std::string("no frame could be read") : error);
        return;
    }
}

void CaptureVideo::loseSource(const std::string& reason)
{
    const std::string problem = _source->describe() + ": " + reason;
    _retry = _source->isLive();
    say(osg::FATAL,
        "WARNING: camera image lost: " + problem + (_retry ? " (trying again every second)" : std::string()));
    setProblem(problem);
    _source.reset(); // a camera's buffers and device go back now, for whoever needs them
    _nextAttempt = Clock::now() + _retryPeriod;
    if (!_retry)
        _running = false; // a file that breaks stays broken; its last image stays
}

void CaptureVideo::tryToReopen()
{
    std::unique_ptr<FrameSource> source = _makeSource(_options);
    std::string error;
    if (!source->open(error))
    {
        _nextAttempt = Clock::now() + _retryPeriod;
        return;
    }
    say(osg::FATAL, source->describe() + ": camera image back");
    setProblem(std::string());
    _source = std::move(source);
}

bool CaptureVideo::sleepUntil(Clock::time_point time)
{
    std::unique_lock<std::mutex> lock(_mutex);
    _wake.wait_until(lock, time, [this] { return !_running; });
    return _running;
}

void CaptureVideo::say(osg::NotifySeverity severity, const std::string& line)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _lines.emplace_back(severity, line);
}

void CaptureVideo::printQueuedLines()
{
    std::vector<std::pair<osg::NotifySeverity, std::string>> lines;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        lines.swap(_lines);
    }
    for (const auto& line : lines)
        osg::notify(line.first) << line.second << std::endl;
}

void CaptureVideo::setFlip(bool horizontal, bool vertical)
{
    GenericVideo::setFlip(horizontal, vertical);
    _captureFlipHorizontal = horizontal;
    _captureFlipVertical = vertical;
}

void CaptureVideo::start()
{
    _lockstep = _options.lockstep && _open && _source && !_source->isLive() && !_source->isStill();
    _firstStepDone = false;
    const bool capturing = _open && _source && !_source->isStill() && !_lockstep;
    if (!_thread.joinable() && (capturing || _retry))
    {
        _running = true;
        _thread = std::thread(&CaptureVideo::captureLoop, this);
    }
    if (_open)
        _status = PLAYING;
}

void CaptureVideo::stop()
{
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _running = false;
    }
    _wake.notify_all();
    if (_thread.joinable())
        _thread.join();
    if (_status == PLAYING)
        _status = PAUSED;
}

void CaptureVideo::close(bool /*waitForThread*/)
{
    // The capture thread uses this object, so it is always joined; every wait in it ends within
    // a fraction of a second once stopped.
    stop();
    printQueuedLines();
    _source.reset();
    _retry = false;
    _open = false;
    _lockstep = false;
    _status = INVALID;
}

void CaptureVideo::stepFile()
{
    // The first frame is the one open() read: frame N of the run shows the file's N-th picture.
    if (!_firstStepDone)
    {
        _firstStepDone = true;
        return;
    }
    if (!_source)
        return;
    std::string error;
    // At the end a file starts again, as it does on the clock.
    for (int attempt = 0; attempt < 2; ++attempt)
        switch (_source->read(_captured, error))
        {
        case FrameSource::Read::Frame:
            if (!isShowableFrame(_captured))
                return loseSource("frame of " + std::to_string(_captured.cols) + "x" +
                                  std::to_string(_captured.rows) + " pixels, more than the player can show");
            publish(_captured);
            return;
        case FrameSource::Read::Waiting:
            return;
        case FrameSource::Read::Ended:
            if (!_source->rewind(error))
                return loseSource("cannot play it again: " + error);
            break;
        case FrameSource::Read::Failed:
            return loseSource(error.empty() ? std::string("no frame could be read") : error);
        }
}

void CaptureVideo::update()
{
    if (_lockstep && _status == PLAYING)
        stepFile();
    printQueuedLines();
    bool fresh = false;
    bool vertical = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_published != _shown)
        {
            cv::swap(_ready, _front);
            _shown = _published;
            vertical = _frameFlipVertical;
            fresh = true;
        }
    }
    if (!fresh || _front.empty())
        return;
    const int rowLength = _front.isContinuous() ? 0 : int(_front.step[0] / 3);
    // One modification per frame, however often setImage() counts it.
    const unsigned int modified = getModifiedCount();
    setImage(_front.cols, _front.rows, 1, GL_RGB, GL_BGR, GL_UNSIGNED_BYTE, _front.data,
             osg::Image::NO_DELETE, 1, rowLength);
    // Rows bottom-up when flipped vertically: upright with OpenGL's texture rows.
    setOrigin(vertical ? osg::Image::BOTTOM_LEFT : osg::Image::TOP_LEFT);
    ++_frameNumber;
    setModifiedCount(modified + 1);
}

} // namespace osgART
