#include "PhotoCorpus.h"

#include "SyntheticScene.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <osgART/CameraParameters.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

namespace Novaro
{

namespace
{

const double kMarkerSize = 80.0; // millimetres; only the proportions matter
const double kMargin = 0.25;     // paper around the marker, in marker sides
const double kPaper = 235.0, kInk = 25.0;
// Seed of the printed patterns: the same eight as the benchmark's pattern set of eight.
const unsigned kPatternSeed = 1;
// Corner error, pixels, within which a detection is the marker it claims to be.
const double kFoundWithin = 3.0;

// The photograph covering the frame, cropped to its proportions around its centre.
cv::Mat coverFrame(const cv::Mat& photo, int width, int height)
{
    const double scale = std::max(double(width) / photo.cols, double(height) / photo.rows);
    cv::Mat scaled;
    cv::resize(photo, scaled, cv::Size(), scale, scale, scale < 1.0 ? cv::INTER_AREA : cv::INTER_CUBIC);
    const cv::Rect crop((scaled.cols - width) / 2, (scaled.rows - height) / 2, width, height);
    return scaled(crop).clone();
}

// Paper takes the light of the scene around it: each sheet pixel's reflectance times the
// photograph's brightness there (its large-scale light, relative to its brightest parts), in
// linear light.
void lightSheets(const cv::Mat& photo, const std::vector<std::vector<cv::Point2d>>& sheets, cv::Mat& frame)
{
    // The large-scale light, worked out on a picture an eighth of the size: the blur is wide.
    cv::Mat small, light;
    cv::resize(photo, small, photo.size() / 8, 0, 0, cv::INTER_AREA);
    small.convertTo(small, CV_32F, 1.0 / 255.0);
    cv::pow(small, 2.2, small);
    const double sigma = small.cols / 24.0;
    cv::GaussianBlur(small, small, cv::Size(), sigma, sigma);
    std::vector<float> values(small.begin<float>(), small.end<float>());
    std::nth_element(values.begin(), values.begin() + long(values.size() * 95 / 100), values.end());
    const float bright = std::max(values[values.size() * 95 / 100], 1e-3f);
    cv::resize(small, light, photo.size(), 0, 0, cv::INTER_LINEAR);
    cv::Mat mask = cv::Mat::zeros(frame.size(), CV_8U);
    for (const std::vector<cv::Point2d>& sheet : sheets)
    {
        std::vector<cv::Point> polygon;
        for (const cv::Point2d& corner : sheet)
            polygon.emplace_back(int(std::lround(corner.x)), int(std::lround(corner.y)));
        cv::fillConvexPoly(mask, polygon, cv::Scalar(255));
    }
    for (int y = 0; y < frame.rows; ++y)
    {
        unsigned char* pixel = frame.ptr<unsigned char>(y);
        const unsigned char* inside = mask.ptr<unsigned char>(y);
        const float* shade = light.ptr<float>(y);
        for (int x = 0; x < frame.cols; ++x)
            if (inside[x])
            {
                const double reflectance = std::pow(pixel[x] / 255.0, 2.2);
                const double lit = reflectance * std::clamp(shade[x] / bright, 0.15f, 1.0f);
                pixel[x] = cv::saturate_cast<unsigned char>(std::pow(lit, 1.0 / 2.2) * 255.0);
            }
    }
}

std::vector<cv::Point2d> sheetOutline(const HardCaseMarker& marker, const cv::Matx33d& camera)
{
    const double half = kMarkerSize * (0.5 + kMargin);
    const std::vector<cv::Point3d> corners = {
        {-half, half, 0}, {half, half, 0}, {half, -half, 0}, {-half, -half, 0}};
    std::vector<cv::Point2d> projected;
    cv::projectPoints(corners, marker.rotation, marker.translation, camera, cv::noArray(), projected);
    return projected;
}

double worstCornerError(const osgART::DetectedSquare& detection, const HardCaseMarker& marker)
{
    double worst = 0.0;
    for (size_t k = 0; k < 4; ++k)
        worst = std::max(worst, std::hypot(detection.observed[k].x() - marker.corners[k].x,
                                           detection.observed[k].y() - marker.corners[k].y));
    return worst;
}

} // namespace

const char* const PhotoCorpus::kDefaultFolder = "/usr/share/doc/opencv-doc/examples/data";

std::vector<PhotoNoise> photoNoiseLevels()
{
    return {{"iso100", 100, 0.0},
            {"iso400", 400, 0.0},
            {"iso1600", 1600, 0.0},
            {"iso3200", 3200, 0.0},
            {"gauss12", 0, 12.0}};
}

std::vector<PhotoLayout> photoLayouts()
{
    PhotoLayout page;
    page.name = "640x480";
    PhotoLayout small;
    small.name = "1280x960";
    small.width = 1280;
    small.height = 960;
    small.markers = 6;
    small.minWidth = 40.0;
    small.maxWidth = 70.0;
    return {page, small};
}

const std::vector<std::string>& PhotoCorpus::photoNames()
{
    // A real camera's calibration shots (grey, its own noise and lens), rooms, desks, a street,
    // fruit, faces and aerial views.
    static const std::vector<std::string> names = {
        "left01.jpg",  "left05.jpg", "left09.jpg", "left13.jpg",   "right03.jpg", "right07.jpg",
        "right12.jpg", "home.jpg",   "stuff.jpg",  "building.jpg", "fruits.jpg",  "box_in_scene.png",
        "messi5.jpg",  "aero3.jpg",  "baboon.jpg", "leuvenA.jpg"};
    return names;
}

bool PhotoCorpus::load(const std::string& folder, std::string& error)
{
    _photos.clear();
    for (const std::string& name : photoNames())
    {
        cv::Mat photo = cv::imread(folder + "/" + name, cv::IMREAD_GRAYSCALE);
        if (photo.empty())
        {
            error = "cannot read the photograph " + folder + "/" + name +
                    " (install Debian's opencv-doc: scripts/install-deps.sh does)";
            return false;
        }
        _photos.push_back(photo);
    }
    _patterns = makeDistinctPatterns(8, kPatternSeed);
    _sheets.clear();
    for (const osgART::Pattern& pattern : _patterns)
    {
        cv::Mat sheet;
        cv::cvtColor(makeMarkerImage(pattern, 16, kMargin), sheet, cv::COLOR_BGR2GRAY);
        sheet.convertTo(sheet, CV_8U, (kPaper - kInk) / 255.0, kInk);
        _sheets.push_back(sheet);
    }
    return true;
}

PhotoFrame PhotoCorpus::frame(size_t photo, const PhotoLayout& layout, const PhotoNoise& noise,
                              unsigned seed) const
{
    // The layout draws from its own stream, so that every noise level shows the same markers.
    std::mt19937 random(seed * 7919u + unsigned(photo) * 104729u + unsigned(layout.width));
    HardCaseRenderer renderer(layout.width, layout.height, 0.9 * layout.width);
    Degradation placement;
    placement.name = "photo";
    placement.minWidth = layout.minWidth;
    placement.maxWidth = layout.maxWidth;
    placement.maxTilt = layout.maxTilt;

    PhotoFrame made;
    made.name = photoNames()[photo] + "/" + layout.name + "/" + noise.name + "/" + std::to_string(seed);
    made.camera = renderer.cameraMatrix();
    const cv::Mat background = coverFrame(_photos[photo], layout.width, layout.height);
    made.markers =
        renderer.place(placement, layout.markers, int(_sheets.size()), kMarkerSize, kMargin, random);
    cv::Mat frame = background.clone();
    renderer.pasteSheets(placement, _sheets, kMarkerSize, kMargin, made.markers, random, frame);
    std::vector<std::vector<cv::Point2d>> outlines;
    for (const HardCaseMarker& marker : made.markers)
        outlines.push_back(sheetOutline(marker, made.camera));
    lightSheets(background, outlines, frame);

    std::mt19937 noiseRandom(seed * 31u + unsigned(photo) * 131u + unsigned(noise.iso) + 17u);
    if (noise.iso > 0)
    {
        CameraModel camera;
        camera.iso = noise.iso;
        made.grey = camera.capture(frame, noiseRandom);
    }
    else
    {
        cv::Mat added(frame.size(), CV_32F);
        cv::RNG rng(noiseRandom());
        rng.fill(added, cv::RNG::NORMAL, 0.0, noise.gaussianSigma);
        cv::Mat noisy;
        frame.convertTo(noisy, CV_32F);
        noisy += added;
        noisy.convertTo(made.grey, CV_8U);
    }
    return made;
}

void setUpDetector(const PhotoCorpus& corpus, const PhotoFrame& frame, osgART::SquareMarkerDetector& detector)
{
    detector.setCamera(osgART::CameraParameters::fromIntrinsics(frame.grey.cols, frame.grey.rows,
                                                                frame.camera(0, 0), frame.camera(1, 1),
                                                                frame.camera(0, 2), frame.camera(1, 2)));
    for (const osgART::Pattern& pattern : corpus.patterns())
        detector.addPattern(pattern);
}

std::map<std::string, std::vector<int>> readRequiredMarkers(const std::string& path)
{
    std::map<std::string, std::vector<int>> required;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
    {
        const size_t colon = line.find(':');
        if (line.empty() || line[0] == '#' || colon == std::string::npos)
            continue;
        std::istringstream ids(line.substr(colon + 1));
        std::vector<int>& wanted = required[line.substr(0, colon)];
        for (int id; ids >> id;)
            wanted.push_back(id);
    }
    return required;
}

std::vector<int> foundMarkers(const PhotoFrame& frame, const std::vector<osgART::DetectedSquare>& detections)
{
    std::vector<int> found;
    for (const HardCaseMarker& marker : frame.markers)
        for (const osgART::DetectedSquare& detection : detections)
            if (detection.pattern == marker.id && worstCornerError(detection, marker) <= kFoundWithin)
            {
                found.push_back(marker.id);
                break;
            }
    std::sort(found.begin(), found.end());
    return found;
}

int falseDetections(const PhotoFrame& frame, const std::vector<osgART::DetectedSquare>& detections)
{
    int wrong = 0;
    for (const osgART::DetectedSquare& detection : detections)
    {
        bool isMarker = false;
        for (const HardCaseMarker& marker : frame.markers)
            isMarker = isMarker || (detection.pattern == marker.id &&
                                    worstCornerError(detection, marker) <= kFoundWithin);
        wrong += isMarker ? 0 : 1;
    }
    return wrong;
}

} // namespace Novaro
