#pragma once

#include "CameraModel.h"
#include "HardCaseScene.h"

#include <osgART/Pattern.h>
#include <osgART/SquareMarkerDetector.h>

#include <opencv2/core.hpp>

#include <map>
#include <string>
#include <vector>

namespace Novaro
{

/// How a corpus frame's camera noise is made: through the CameraModel at an ISO, or (iso 0) as
/// independent Gaussian noise of a standard deviation added to every pixel of the photograph (the
/// way noise was first added to phone photographs of printed markers, where markers were lost).
struct PhotoNoise
{
    std::string name;
    int iso = 0;
    double gaussianSigma = 0.0;
};

/// ISO 100, 400, 1600 and 3200 through the camera model, and Gaussian noise of 12 grey levels.
std::vector<PhotoNoise> photoNoiseLevels();

/// A frame of the corpus: a real photograph with printed markers laid in, and where they are.
struct PhotoFrame
{
    std::string name; ///< "photo/layout/noise/seed"
    cv::Mat grey;
    std::vector<HardCaseMarker> markers;
    cv::Matx33d camera;
};

/// A size of frame and how many markers of what size lie on it.
struct PhotoLayout
{
    std::string name;
    int width = 640, height = 480;
    size_t markers = 3;
    double minWidth = 50.0, maxWidth = 140.0; ///< marker side on screen, pixels
    double maxTilt = 50.0;                    ///< degrees
};

/// 640x480 with three markers of 50-140 pixels (a phone photograph of a page), and 1280x960 with
/// six small ones of 40-70 pixels (a page of 40 mm markers seen from a metre).
std::vector<PhotoLayout> photoLayouts();

/// Real photographs nobody here took (OpenCV's example data, shipped by Debian's opencv-doc: among
/// them a real camera's calibration shots, with their own noise and lens) with printed markers laid
/// in by perspective warp, lit by the photograph's own light (the paper takes the brightness of the
/// scene around it), then taken again through a camera at a noise level. Everything is drawn from
/// a seed: the same photograph, layout, noise and seed give the same frame.
class PhotoCorpus
{
public:
    /// Where Debian's opencv-doc puts OpenCV's example data.
    static const char* const kDefaultFolder;
    /// The photographs used, by file name.
    static const std::vector<std::string>& photoNames();

    /// Reads every photograph; false, with the missing one named, when one cannot be read.
    bool load(const std::string& folder, std::string& error);
    size_t photoCount() const { return _photos.size(); }

    /// The eight patterns printed on the markers (ids 0..7).
    const std::vector<osgART::Pattern>& patterns() const { return _patterns; }

    PhotoFrame frame(size_t photo, const PhotoLayout& layout, const PhotoNoise& noise, unsigned seed) const;

private:
    std::vector<cv::Mat> _photos; ///< grey
    std::vector<osgART::Pattern> _patterns;
    std::vector<cv::Mat> _sheets; ///< each pattern printed as a marker with paper around, grey
};

/// A square-marker detector set up for the frame's camera with the corpus's patterns, as the
/// tracker sets one up.
void setUpDetector(const PhotoCorpus& corpus, const PhotoFrame& frame,
                   osgART::SquareMarkerDetector& detector);

/// The record of which markers each frame must give: lines "frame name: id id ...", "#" comments.
std::map<std::string, std::vector<int>> readRequiredMarkers(const std::string& path);

/// The markers of the frame (their ids) that the detections found: the right pattern with every
/// corner within 3 pixels of the truth.
std::vector<int> foundMarkers(const PhotoFrame& frame, const std::vector<osgART::DetectedSquare>& detections);

/// Detections that are no marker of the frame (a wrong id, or where no marker lies).
int falseDetections(const PhotoFrame& frame, const std::vector<osgART::DetectedSquare>& detections);

} // namespace Novaro
