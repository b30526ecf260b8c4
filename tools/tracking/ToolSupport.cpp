#include "ToolSupport.h"

#include <ctime>

#include "app/InstallLayout.h"

#include <osgART/InputFiles.h>
#include <osgART/PluginManager.h>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <osgDB/FileNameUtils>
#include <osgDB/Registry>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <unistd.h>

namespace Novaro
{

namespace
{

// Where the first frame-number pattern starts, and its length and width; npos when there is none.
std::size_t findFrameNumberPattern(const std::string& pattern, std::size_t& length, int& width)
{
    for (std::size_t at = pattern.find('%'); at != std::string::npos; at = pattern.find('%', at + 1))
    {
        std::size_t end = at + 1;
        int digits = 0;
        width = 0;
        const bool padded = end < pattern.size() && pattern[end] == '0';
        if (padded)
            ++end;
        for (; end < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[end])) && digits < 2;
             ++end, ++digits)
            width = width * 10 + (pattern[end] - '0');
        if (end < pattern.size() && pattern[end] == 'd' && (padded || digits == 0))
        {
            length = end + 1 - at;
            return at;
        }
    }
    return std::string::npos;
}

} // namespace

std::string formatFrameName(const std::string& pattern, int frame)
{
    std::size_t length = 0;
    int width = 0;
    const std::size_t at = findFrameNumberPattern(pattern, length, width);
    if (at == std::string::npos)
        return pattern;
    std::string number = std::to_string(frame);
    if (frame >= 0 && int(number.size()) < width)
        number.insert(0, size_t(width) - number.size(), '0');
    return pattern.substr(0, at) + number + pattern.substr(at + length);
}

bool hasFrameNumberPattern(const std::string& pattern)
{
    std::size_t length = 0;
    int width = 0;
    return findFrameNumberPattern(pattern, length, width) != std::string::npos;
}

bool readImageFile(const std::string& path, cv::Mat& image, std::string& error)
{
    if (!osgART::isReadableRegularFile(path))
    {
        error = path + " is not a readable regular file";
        return false;
    }
    std::string headerProblem;
    if (!osgART::checkImageHeader(path, headerProblem))
    {
        error = "cannot use " + path + ": " + headerProblem;
        return false;
    }
    try
    {
        image = cv::imread(path, cv::IMREAD_COLOR);
    }
    catch (const std::exception& exception)
    {
        error = "cannot decode " + path + ": " + exception.what();
        return false;
    }
    if (image.empty())
    {
        error = "cannot read image " + path;
        return false;
    }
    if (!osgART::isShowableImageSize(image.cols, image.rows))
    {
        error = path + " is " + std::to_string(image.cols) + "x" + std::to_string(image.rows) +
                " pixels, more than " + std::to_string(osgART::kMaximumImageSide) + " on a side";
        image.release();
        return false;
    }
    return true;
}

ToolArguments::ToolArguments(int argc, char** argv, const std::vector<std::string>& flags)
{
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument.size() > 2 && argument.compare(0, 2, "--") == 0)
        {
            const std::string name = argument.substr(2);
            bool isFlag = false;
            for (const std::string& flag : flags)
                isFlag = isFlag || flag == name;
            if (isFlag)
            {
                _values.emplace(name, "true");
                _inOrder.emplace_back(name, "true");
            }
            else if (i + 1 < argc)
            {
                _values.emplace(name, argv[++i]);
                _inOrder.emplace_back(name, argv[i]);
            }
            else if (_error.empty())
            {
                _error = "option " + argument + " needs a value";
            }
        }
        else
        {
            _positional.push_back(argument);
        }
    }
}

std::string ToolArguments::get(const std::string& name, const std::string& fallback) const
{
    auto found = _values.find(name);
    return found == _values.end() ? fallback : found->second;
}

double ToolArguments::getNumber(const std::string& name, double fallback) const
{
    auto found = _values.find(name);
    if (found == _values.end())
        return fallback;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(found->second.c_str(), &end);
    if (errno != 0 || end == found->second.c_str() || *end != '\0')
        return fallback;
    return value;
}

std::vector<std::string> ToolArguments::getAll(const std::string& name) const
{
    std::vector<std::string> result;
    auto range = _values.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        result.push_back(it->second);
    return result;
}

std::vector<double> ToolArguments::getList(const std::string& name, const std::vector<double>& fallback) const
{
    if (!has(name))
        return fallback;
    std::vector<double> result;
    std::stringstream stream(get(name));
    std::string item;
    while (std::getline(stream, item, ','))
    {
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (end != item.c_str())
            result.push_back(value);
    }
    return result.empty() ? fallback : result;
}

void quietOpenCV()
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
}

void addPluginSearchPaths()
{
    osgDB::Registry::instance()->getLibraryFilePathList().push_front("osgplugins");
    Novaro::InstallLayout::ofThisProcess().registerWithSceneGraphLibrary();
}

osgART::GenericTracker* loadTrackerPlugin()
{
    osgART::PluginManager* manager = osgART::PluginManager::instance();
    if (!manager->load("osgart_tracker_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericTracker*>(manager->get("tracker_artoolkit4"));
}

osgART::GenericVideo* loadVideoPlugin()
{
    osgART::PluginManager* manager = osgART::PluginManager::instance();
    if (!manager->load("osgart_video_artoolkit4"))
        return nullptr;
    return dynamic_cast<osgART::GenericVideo*>(manager->get("video_artoolkit4"));
}

void copyFrameToImage(const cv::Mat& frame, osg::Image& image, bool bottomUp)
{
    if (image.s() != frame.cols || image.t() != frame.rows || image.getPixelFormat() != GL_BGR)
        image.allocateImage(frame.cols, frame.rows, 1, GL_BGR, GL_UNSIGNED_BYTE, 1);
    image.setInternalTextureFormat(GL_RGB);
    image.setOrigin(bottomUp ? osg::Image::BOTTOM_LEFT : osg::Image::TOP_LEFT);
    for (int row = 0; row < frame.rows; ++row)
    {
        const int target = bottomUp ? frame.rows - 1 - row : row;
        std::memcpy(image.data(0, target), frame.ptr(row), size_t(frame.cols) * 3);
    }
    image.dirty();
}

osgART::CameraParameters makeDefaultCamera(int width, int height, bool distorted)
{
    const double focal = 0.9 * width;
    const double cx = 0.5 * (width - 1) + 0.01 * width;
    const double cy = 0.5 * (height - 1) - 0.01 * height;
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(width, height, focal, focal, cx, cy);
    if (distorted)
        camera.setBrownDistortion(-0.12, 0.05, 0.001, -0.0005, focal, focal, cx, cy, 1.0);
    return camera;
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

double rotationErrorDegrees(const osg::Matrixd& measured, const osg::Matrixd& truth)
{
    const osg::Quat difference = measured.getRotate() * truth.getRotate().inverse();
    double angle;
    osg::Vec3d axis;
    difference.getRotate(angle, axis);
    angle = std::fabs(angle);
    if (angle > osg::PI)
        angle = 2.0 * osg::PI - angle;
    return osg::RadiansToDegrees(angle);
}

} // namespace Novaro
