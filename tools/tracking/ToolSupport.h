#pragma once

#include <osgART/CameraParameters.h>
#include <osgART/GenericTracker.h>
#include <osgART/GenericVideo.h>

#include <opencv2/core.hpp>

#include <osg/Image>
#include <osg/Matrixd>

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

/// Command-line options of the form "--name value" and "--flag"; names may repeat.
class ToolArguments
{
public:
    /// flags: the option names that take no value.
    ToolArguments(int argc, char** argv, const std::vector<std::string>& flags);

    bool has(const std::string& name) const { return _values.count(name) > 0; }
    std::string get(const std::string& name, const std::string& fallback = std::string()) const;
    double getNumber(const std::string& name, double fallback) const;
    std::vector<std::string> getAll(const std::string& name) const;
    /// Comma-separated numbers, e.g. "1,4,16".
    std::vector<double> getList(const std::string& name, const std::vector<double>& fallback) const;
    const std::vector<std::string>& positional() const { return _positional; }
    /// Every option with its value, in the order given.
    const std::vector<std::pair<std::string, std::string>>& inOrder() const { return _inOrder; }
    /// Text of the first malformed option, empty when all are fine.
    const std::string& error() const { return _error; }

private:
    std::multimap<std::string, std::string> _values;
    std::vector<std::pair<std::string, std::string>> _inOrder;
    std::vector<std::string> _positional;
    std::string _error;
};

/// OpenCV's own console warnings (for instance at the end of an image sequence) off; errors stay.
void quietOpenCV();

/// Puts the run directory's osgplugins/ (beside the executable) and ./osgplugins first in the
/// library search path, so the tracking plugins are found from any working directory.
void addPluginSearchPaths();

osgART::GenericTracker* loadTrackerPlugin();
osgART::GenericVideo* loadVideoPlugin();

/// Copies a BGR frame into an image as the video plugin delivers it (rows bottom-up when bottomUp)
/// and marks the image modified.
void copyFrameToImage(const cv::Mat& frame, osg::Image& image, bool bottomUp);

/// The file name of one frame: the first "%d" or "%0Nd" (N up to 99) of the pattern becomes the
/// frame number; every other '%' stays as written. User text never reaches a printf format.
std::string formatFrameName(const std::string& pattern, int frame);
/// Whether the pattern holds a frame number ("%d" or "%0Nd").
bool hasFrameNumberPattern(const std::string& pattern);

/// Reads an image file as BGR, refusing (with the reason in error) a file that is not a regular
/// file or whose header claims more than osgART::kMaximumImageSide pixels on a side, before
/// decoding; decoding errors end here as well.
bool readImageFile(const std::string& path, cv::Mat& image, std::string& error);

/// A webcam-like camera: about 58 degrees across, slight barrel distortion when distorted.
osgART::CameraParameters makeDefaultCamera(int width, int height, bool distorted);

/// Seconds of CPU time this thread has used.
double threadCpuSeconds();

/// The angle of the rotation that turns the truth's orientation into the measured one, in degrees
/// (0 to 180); translations are ignored.
double rotationErrorDegrees(const osg::Matrixd& measured, const osg::Matrixd& truth);

} // namespace Novaro
