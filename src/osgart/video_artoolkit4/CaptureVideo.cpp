#include "CaptureVideo.h"

#include <osgART/InputFiles.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <vector>

namespace osgART
{

namespace
{

bool parseInteger(const std::string& text, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0' || number < 0 || number > 100000)
        return false;
    value = int(number);
    return true;
}

std::string tooLarge(const std::string& fileName, int width, int height)
{
    return "video file " + fileName + " is " + std::to_string(width) + "x" + std::to_string(height) +
           " pixels, more than the " + std::to_string(kMaximumImageSide) + "x" +
           std::to_string(kMaximumImageSide) + " the player can show";
}

// A size a capture reports, as an int for messages (-1 when it is none).
int reportedSide(double side)
{
    return side >= 0.0 && side <= 1e9 ? int(side) : -1;
}

// Frames of a movie or sequence may change size on the way; a huge one is refused, not copied.
bool isShowableFrame(const cv::Mat& frame)
{
    if (isShowableImageSize(frame.cols, frame.rows))
        return true;
    osg::notify(osg::WARN) << "osgART: video frame of " << frame.cols << "x" << frame.rows
                           << " pixels refused (at most " << kMaximumImageSide << " on each side)"
                           << std::endl;
    return false;
}

bool isStillImage(const std::string& fileName)
{
    const std::string extension = osgDB::convertToLowerCase(osgDB::getFileExtension(fileName));
    for (const char* known : {"png", "jpg", "jpeg", "bmp", "tif", "tiff", "ppm", "pgm", "pnm", "webp"})
        if (extension == known)
            return true;
    return false;
}

} // namespace

bool CaptureOptions::parse(const std::string& text, std::string& error)
{
    std::vector<CaptureOption> options;
    if (!splitCaptureOptions(text, options, error))
        return false;
    for (const CaptureOption& entry : options)
    {
        const std::string& name = entry.name;
        const std::string& value = entry.value;
        const std::string& option = entry.text;
        if (name == "-devNum")
        {
            if (!parseInteger(value, deviceNumber) || deviceNumber < 1)
            {
                error = "invalid device number in \"" + option + "\" (devices count from 1)";
                return false;
            }
        }
        else if (name == "-flipV")
        {
            flipVertical = true;
        }
        else if (name == "-showDialog")
        {
            showDialog = true;
        }
        else if (name == "-showDeviceList")
        {
            showDeviceList = true;
        }
        else if (name == "-file")
        {
            file = value;
            if (file.empty())
            {
                error = "empty file name in \"" + option + "\"";
                return false;
            }
        }
        else if (name == "-width" || name == "-height")
        {
            int& target = name == "-width" ? width : height;
            if (!parseInteger(value, target) || target == 0 || target > kMaximumImageSide)
            {
                error = "invalid frame size in \"" + option + "\" (1.." + std::to_string(kMaximumImageSide) +
                        " pixels)";
                return false;
            }
        }
        else if (name == "-fps")
        {
            char* end = nullptr;
            fps = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(fps > 0.0) || fps > 1000.0)
            {
                error = "invalid frame rate in \"" + option + "\"";
                return false;
            }
        }
        else
        {
            osg::notify(osg::NOTICE) << "osgART: video option \"" << option << "\" ignored" << std::endl;
        }
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> listCaptureDevices()
{
    std::vector<std::pair<int, std::string>> found;
    if (DIR* folder = opendir("/sys/class/video4linux"))
    {
        while (dirent* entry = readdir(folder))
        {
            const std::string name = entry->d_name;
            int number = 0;
            if (name.compare(0, 5, "video") != 0 || !parseInteger(name.substr(5), number))
                continue;
            std::ifstream in("/sys/class/video4linux/" + name + "/name");
            std::string label;
            std::getline(in, label);
            found.emplace_back(number, label);
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
    : _kind(CAMERA), _sequenceLength(0), _sequencePosition(0), _fps(0.0), _open(false),
      _frameFlipVertical(false), _captureFlipHorizontal(false), _captureFlipVertical(false), _running(false),
      _published(0), _shown(0)
{
}

CaptureVideo::~CaptureVideo()
{
    close(true);
}

bool CaptureVideo::open()
{
    if (_open)
        close(true);
    CaptureOptions options;
    std::string error;
    if (!options.parse(_videoConfiguration.deviceconfig, error))
    {
        osg::notify(osg::WARN) << "osgART: " << error << std::endl;
        return false;
    }
    if (options.showDeviceList)
    {
        const auto devices = listCaptureDevices();
        if (devices.empty())
            osg::notify(osg::FATAL) << "No video capture devices found." << std::endl;
        for (size_t i = 0; i < devices.size(); ++i)
            osg::notify(osg::FATAL) << "video device -devNum=" << (i + 1) << ": " << devices[i].first << " ("
                                    << devices[i].second << ")" << std::endl;
        return false;
    }
    if (options.showDialog)
        osg::notify(osg::NOTICE)
            << "osgART: no camera settings dialog on this platform, using the device's settings" << std::endl;
    _options = options;
    if (options.flipVertical)
        setFlip(_flipHorizontal, true);
    if (!openSource(error))
    {
        osg::notify(osg::WARN) << "osgART: " << error << std::endl;
        _capture.reset();
        return false;
    }
    _open = true;
    // The first frame now, so that the image has its size and content once open() returns.
    cv::Mat first;
    if (!readFrame(first))
    {
        osg::notify(osg::WARN) << "osgART: no frame could be read from the video source" << std::endl;
        _capture.reset();
        _open = false;
        return false;
    }
    _published = _shown = 0;
    _frameNumber = 0;
    try
    {
        publish(first);
    }
    catch (const std::exception& exception)
    {
        osg::notify(osg::WARN) << "osgART: first video frame unusable: " << exception.what() << std::endl;
        _capture.reset();
        _open = false;
        return false;
    }
    update();
    return true;
}

bool CaptureVideo::openSource(std::string& error)
{
    _fps = _options.fps > 0.0 ? _options.fps : 30.0;
    _still.release();
    // OpenCV's capture reports some failures by exceptions; they stop here.
    try
    {
        if (!_options.file.empty())
        {
            _kind = _options.file.find('%') != std::string::npos ? SEQUENCE
                    : isStillImage(_options.file)                ? STILL
                                                                 : MOVIE;
            if (_kind != SEQUENCE && !isReadableRegularFile(_options.file))
            {
                error = "video file " + _options.file + " is not a readable regular file";
                return false;
            }
            if (_kind == STILL)
                return openStill(error);
            _capture.reset(
                new cv::VideoCapture(_options.file, _kind == SEQUENCE ? cv::CAP_IMAGES : cv::CAP_FFMPEG));
            if (!_capture->isOpened())
            {
                error = "cannot open video file " + _options.file;
                return false;
            }
            // Compared as doubles: a broken file may report any value, which int() must not meet.
            const double width = _capture->get(cv::CAP_PROP_FRAME_WIDTH);
            const double height = _capture->get(cv::CAP_PROP_FRAME_HEIGHT);
            if (width > kMaximumImageSide || height > kMaximumImageSide)
            {
                error = tooLarge(_options.file, reportedSide(width), reportedSide(height));
                return false;
            }
            // Sequences start again before their last file, so the reader never looks past it.
            const double count = _capture->get(cv::CAP_PROP_FRAME_COUNT);
            _sequenceLength = _kind == SEQUENCE && count > 0.0 ? int(std::min(count, 1e9)) : 0;
            _sequencePosition = 0;
            const double fileRate = _capture->get(cv::CAP_PROP_FPS);
            if (_options.fps <= 0.0 && _kind == MOVIE && fileRate > 0.0 && fileRate < 1000.0)
                _fps = fileRate;
            return true;
        }
        _kind = CAMERA;
        const int index = _options.deviceNumber - 1;
        if (!osgDB::fileExists("/dev/video" + std::to_string(index)))
        {
            error = "no video device /dev/video" + std::to_string(index);
            return false;
        }
        _capture.reset(new cv::VideoCapture(index, cv::CAP_V4L2));
        if (!_capture->isOpened())
        {
            error = "cannot open video device /dev/video" + std::to_string(index);
            return false;
        }
        if (_options.width > 0)
            _capture->set(cv::CAP_PROP_FRAME_WIDTH, _options.width);
        if (_options.height > 0)
            _capture->set(cv::CAP_PROP_FRAME_HEIGHT, _options.height);
        if (_options.fps > 0.0)
            _capture->set(cv::CAP_PROP_FPS, _options.fps);
        const double deviceRate = _capture->get(cv::CAP_PROP_FPS);
        if (deviceRate > 0.0 && deviceRate < 1000.0)
            _fps = deviceRate;
        return true;
    }
    catch (const std::exception& exception)
    {
        error = std::string("video source failed: ") + exception.what();
        return false;
    }
}

bool CaptureVideo::openStill(std::string& error)
{
    // The header tells the size before the pixels are decoded; formats without a known header are
    // checked once decoded (OpenCV itself refuses more than 2^30 pixels).
    int width = 0;
    int height = 0;
    if (readImageHeaderSize(_options.file, width, height) && !isShowableImageSize(width, height))
    {
        error = tooLarge(_options.file, width, height);
        return false;
    }
    _still = cv::imread(_options.file, cv::IMREAD_COLOR);
    if (_still.empty())
    {
        error = "cannot read image " + _options.file;
        return false;
    }
    if (!isShowableImageSize(_still.cols, _still.rows))
    {
        error = tooLarge(_options.file, _still.cols, _still.rows);
        _still.release();
        return false;
    }
    return true;
}

bool CaptureVideo::readFrame(cv::Mat& frame)
{
    if (_kind == STILL)
    {
        frame = _still;
        return !frame.empty();
    }
    if (!_capture)
        return false;
    try
    {
        const bool sequenceEnded =
            _kind == SEQUENCE && _sequenceLength > 0 && _sequencePosition >= _sequenceLength;
        if (!sequenceEnded && _capture->read(frame) && !frame.empty())
        {
            ++_sequencePosition;
            return isShowableFrame(frame);
        }
        if (_kind == CAMERA)
            return false;
        // End of a file: play it again from the start.
        _capture.reset(
            new cv::VideoCapture(_options.file, _kind == SEQUENCE ? cv::CAP_IMAGES : cv::CAP_FFMPEG));
        _sequencePosition = 1;
        return _capture->isOpened() && _capture->read(frame) && !frame.empty() && isShowableFrame(frame);
    }
    catch (const std::exception&)
    {
        return false;
    }
}

void CaptureVideo::publish(cv::Mat& frame)
{
    cv::Mat source = frame;
    cv::Mat converted;
    if (source.type() != CV_8UC3)
    {
        if (source.type() == CV_8UC1)
            cv::cvtColor(source, converted, cv::COLOR_GRAY2BGR);
        else if (source.type() == CV_8UC4)
            cv::cvtColor(source, converted, cv::COLOR_BGRA2BGR);
        else
            source.convertTo(converted, CV_8UC3);
        source = converted;
    }
    if (_kind != CAMERA && _options.width > 0 && _options.height > 0 &&
        (source.cols != _options.width || source.rows != _options.height))
    {
        cv::resize(source, converted, cv::Size(_options.width, _options.height), 0, 0, cv::INTER_AREA);
        source = converted;
    }
    const bool vertical = _captureFlipVertical;
    const bool horizontal = _captureFlipHorizontal;
    if (vertical || horizontal)
        cv::flip(source, _back, vertical && horizontal ? -1 : (vertical ? 0 : 1));
    else if (source.data == frame.data && _kind != STILL)
        cv::swap(_back, frame); // taken as it is: the read buffer becomes the back buffer
    else
        source.copyTo(_back);
    std::lock_guard<std::mutex> lock(_mutex);
    cv::swap(_back, _ready);
    _frameFlipVertical = vertical;
    ++_published;
}

void CaptureVideo::captureLoop()
{
    using Clock = std::chrono::steady_clock;
    const bool paced = _kind != CAMERA;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / _fps));
    auto next = Clock::now() + period;
    while (_running)
    {
        if (_kind == STILL)
        {
            // One frame is all a still image has; it was published when opened.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (!readFrame(_captured))
        {
            osg::notify(osg::WARN) << "osgART: video source stopped delivering frames" << std::endl;
            break;
        }
        if (paced)
        {
            std::this_thread::sleep_until(next);
            next += period;
            if (next < Clock::now())
                next = Clock::now() + period; // fell behind: do not race to catch up
        }
        try
        {
            publish(_captured);
        }
        catch (const std::exception& exception)
        {
            osg::notify(osg::WARN) << "osgART: video frame dropped: " << exception.what() << std::endl;
        }
    }
    _running = false;
}

void CaptureVideo::setFlip(bool horizontal, bool vertical)
{
    GenericVideo::setFlip(horizontal, vertical);
    _captureFlipHorizontal = horizontal;
    _captureFlipVertical = vertical;
}

void CaptureVideo::start()
{
    if (!_open)
        return;
    if (!_thread.joinable())
    {
        _running = true;
        _thread = std::thread(&CaptureVideo::captureLoop, this);
    }
    _status = PLAYING;
}

void CaptureVideo::stop()
{
    _running = false;
    if (_thread.joinable())
        _thread.join();
    if (_status == PLAYING)
        _status = PAUSED;
}

void CaptureVideo::close(bool /*waitForThread*/)
{
    // The capture thread uses this object, so it is always joined; a camera read returns within one
    // frame period.
    stop();
    _capture.reset();
    _still.release();
    _open = false;
    _status = INVALID;
}

void CaptureVideo::update()
{
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
