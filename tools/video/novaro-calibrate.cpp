// novaro-calibrate: makes a camera file for a camera from views of a printed chessboard.
//
//   novaro-calibrate (--device N | --movie FILE | --images FOLDER) --output NAME
//                    [--board 9x6] [--square 25] [--views 20] [--width W --height H --fps F]
//
// --board counts the inner corners (where four squares meet) across and down; --square is the
// side of one square in millimetres (it sets the unit of the tracker's poses only). From a device
// (--device N is /dev/video(N-1), as -devNum=N) or a movie, a view is taken when the board is
// found away from every view taken before, until --views are taken or the movie ends; from a
// folder every image showing the board counts. Progress lines say how many views were taken and
// how much of the image the board has covered: show the board near the corners and edges too,
// tilted, for a good lens model.
//
// Writes NAME.dat (the tracker's 176-byte binary camera file with its nine distortion values) and
// NAME.yml (OpenCV's calibration file), both read back through the tracker's reader before the
// tool ends. Exit status 0 when both were written.
#include "FileSource.h"
#include "V4L2Camera.h"

#include <osgART/CameraParameters.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{

struct Settings
{
    cv::Size board{9, 6};
    double square = 25.0;
    std::string device;
    std::string movie;
    std::string images;
    std::string output;
    int views = 20;
    osgART::CameraRequest request;
};

// Cells of the image grid that the coverage counts.
const cv::Size kCoverageGrid(8, 6);
// A live or movie view is new when its corners moved this share of the image width on average.
const double kNewViewDistance = 0.05;
// Views below which the lens model is not worth writing.
const size_t kMinimumViews = 5;

bool parseArguments(int argc, char** argv, Settings& settings)
{
    for (int i = 1; i + 1 < argc; i += 2)
    {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--board")
        {
            if (std::sscanf(value.c_str(), "%dx%d", &settings.board.width, &settings.board.height) != 2)
                return false;
        }
        else if (name == "--square")
            settings.square = std::atof(value.c_str());
        else if (name == "--device")
            settings.device = value;
        else if (name == "--movie")
            settings.movie = value;
        else if (name == "--images")
            settings.images = value;
        else if (name == "--output")
            settings.output = value;
        else if (name == "--views")
            settings.views = std::atoi(value.c_str());
        else if (name == "--width")
            settings.request.width = std::atoi(value.c_str());
        else if (name == "--height")
            settings.request.height = std::atoi(value.c_str());
        else if (name == "--fps")
            settings.request.fps = std::atof(value.c_str());
        else
            return false;
    }
    const int sources = !settings.device.empty() + !settings.movie.empty() + !settings.images.empty();
    return argc % 2 == 1 && sources == 1 && !settings.output.empty() && settings.board.width >= 2 &&
           settings.board.height >= 2 && settings.board.width != settings.board.height &&
           settings.square > 0.0 && settings.views >= int(kMinimumViews);
}

// The views taken so far: the board's corners in each, and which cells of the image they covered.
class ViewCollector
{
public:
    ViewCollector(const cv::Size& board, bool keepOnlyNewViews)
        : _board(board), _keepOnlyNewViews(keepOnlyNewViews)
    {
    }

    // Looks for the board; true when the view was taken.
    bool offer(const cv::Mat& frame)
    {
        if (_imageSize.area() == 0)
            _imageSize = frame.size();
        if (frame.size() != _imageSize)
            return false;
        cv::Mat grey;
        cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
        std::vector<cv::Point2f> corners;
        const int flags = cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE |
                          (_keepOnlyNewViews ? cv::CALIB_CB_FAST_CHECK : 0);
        if (!cv::findChessboardCorners(grey, _board, corners, flags))
            return false;
        if (_keepOnlyNewViews && !isNewView(corners))
            return false;
        cv::cornerSubPix(grey, corners, cv::Size(5, 5), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.001));
        _views.push_back(corners);
        for (const cv::Point2f& corner : corners)
            _covered.insert(cellOf(corner));
        return true;
    }

    size_t count() const { return _views.size(); }
    const std::vector<std::vector<cv::Point2f>>& views() const { return _views; }
    const cv::Size& imageSize() const { return _imageSize; }
    int coveragePercent() const { return int(100 * _covered.size() / kCoverageGrid.area()); }

private:
    bool isNewView(const std::vector<cv::Point2f>& corners) const
    {
        for (const std::vector<cv::Point2f>& view : _views)
        {
            double distance = 0.0;
            for (size_t k = 0; k < corners.size(); ++k)
                distance += cv::norm(corners[k] - view[k]);
            if (distance / corners.size() < kNewViewDistance * _imageSize.width)
                return false;
        }
        return true;
    }
    int cellOf(const cv::Point2f& point) const
    {
        const int x = std::min(kCoverageGrid.width - 1,
                               std::max(0, int(point.x * kCoverageGrid.width / _imageSize.width)));
        const int y = std::min(kCoverageGrid.height - 1,
                               std::max(0, int(point.y * kCoverageGrid.height / _imageSize.height)));
        return y * kCoverageGrid.width + x;
    }

    cv::Size _board;
    bool _keepOnlyNewViews;
    cv::Size _imageSize;
    std::vector<std::vector<cv::Point2f>> _views;
    std::set<int> _covered;
};

void reportView(const ViewCollector& views, int frame)
{
    std::printf("view %zu taken (frame %d): the board has covered %d%% of the image\n", views.count(), frame,
                views.coveragePercent());
    std::fflush(stdout);
}

bool collectFromFolder(const Settings& settings, ViewCollector& views)
{
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(settings.images, error))
    {
        const std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".png" || extension == ".jpg" || extension == ".jpeg" ||
                                        extension == ".bmp" || extension == ".PNG" || extension == ".JPG"))
            files.push_back(entry.path().string());
    }
    if (error)
    {
        std::fprintf(stderr, "cannot read the folder %s: %s\n", settings.images.c_str(),
                     error.message().c_str());
        return false;
    }
    std::sort(files.begin(), files.end());
    for (size_t k = 0; k < files.size(); ++k)
    {
        const cv::Mat image = cv::imread(files[k], cv::IMREAD_COLOR);
        if (!image.empty() && views.offer(image))
            reportView(views, int(k));
        else
            std::printf("no %dx%d chessboard found in %s\n", settings.board.width, settings.board.height,
                        files[k].c_str());
    }
    return true;
}

bool collectFromSource(const Settings& settings, osgART::FrameSource& source, ViewCollector& views)
{
    std::string error;
    if (!source.open(error))
    {
        std::fprintf(stderr, "%s: %s\n", source.describe().c_str(), error.c_str());
        return false;
    }
    if (source.isLive())
        std::printf("%s: hold the %dx%d chessboard in view, near the corners and edges too, tilted\n",
                    source.describe().c_str(), settings.board.width, settings.board.height);
    else
        std::printf("%s: looking for the %dx%d chessboard\n", source.describe().c_str(), settings.board.width,
                    settings.board.height);
    cv::Mat frame;
    auto lastNews = std::chrono::steady_clock::now();
    for (int number = 0; views.count() < size_t(settings.views);)
    {
        const osgART::FrameSource::Read read = source.read(frame, error);
        if (read == osgART::FrameSource::Read::Ended)
            return true;
        if (read == osgART::FrameSource::Read::Failed)
        {
            std::fprintf(stderr, "%s: %s\n", source.describe().c_str(), error.c_str());
            return views.count() > 0;
        }
        if (read != osgART::FrameSource::Read::Frame)
            continue;
        ++number;
        if (views.offer(frame))
        {
            reportView(views, number);
            lastNews = std::chrono::steady_clock::now();
        }
        else if (source.isLive() && std::chrono::steady_clock::now() - lastNews > std::chrono::seconds(3))
        {
            std::printf("looking for the board... (%zu of %d views)\n", views.count(), settings.views);
            std::fflush(stdout);
            lastNews = std::chrono::steady_clock::now();
        }
    }
    return true;
}

struct Calibration
{
    cv::Mat matrix;
    cv::Mat distortion; // k1 k2 p1 p2 (k3 held at 0: the binary camera file has no room for it)
    double rms = 0.0;
};

bool calibrate(const Settings& settings, const ViewCollector& views, Calibration& result)
{
    std::vector<cv::Point3f> board;
    for (int y = 0; y < settings.board.height; ++y)
        for (int x = 0; x < settings.board.width; ++x)
            board.emplace_back(float(x * settings.square), float(y * settings.square), 0.0f);
    const std::vector<std::vector<cv::Point3f>> objectPoints(views.count(), board);
    std::vector<cv::Mat> rotations, translations;
    result.rms = cv::calibrateCamera(objectPoints, views.views(), views.imageSize(), result.matrix,
                                     result.distortion, rotations, translations, cv::CALIB_FIX_K3);
    result.distortion = result.distortion.reshape(1, 1).colRange(0, 4).clone();
    return cv::checkRange(result.matrix) && cv::checkRange(result.distortion);
}

bool writeCameraFiles(const std::string& output, const cv::Size& size, const Calibration& calibration)
{
    const double fx = calibration.matrix.at<double>(0, 0), fy = calibration.matrix.at<double>(1, 1);
    const double cx = calibration.matrix.at<double>(0, 2), cy = calibration.matrix.at<double>(1, 2);
    const cv::Mat_<double> d = calibration.distortion;
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(size.width, size.height, fx, fy, cx, cy);
    camera.setBrownDistortion(d(0), d(1), d(2), d(3), fx, fy, cx, cy, 1.0);
    if (!camera.saveBinary(output + ".dat"))
        return false;
    cv::FileStorage storage(output + ".yml", cv::FileStorage::WRITE);
    if (!storage.isOpened())
        return false;
    storage << "image_width" << size.width << "image_height" << size.height;
    storage << "camera_matrix" << calibration.matrix << "distortion_coefficients" << calibration.distortion;
    storage << "avg_reprojection_error" << calibration.rms;
    storage.release();
    // What the tracker will make of them.
    for (const char* extension : {".dat", ".yml"})
    {
        osgART::CameraParameters check;
        std::string error;
        if (!check.load(output + extension, &error))
        {
            std::fprintf(stderr, "%s%s does not read back: %s\n", output.c_str(), extension, error.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (!parseArguments(argc, argv, settings))
    {
        std::fprintf(stderr,
                     "usage: novaro-calibrate (--device N | --movie FILE | --images FOLDER) --output NAME\n"
                     "                        [--board 9x6] [--square 25] [--views 20] [--width W --height H "
                     "--fps F]\n(the board's inner corners across x down, not square; at least %zu views)\n",
                     kMinimumViews);
        return 2;
    }
    for (const char* extension : {".dat", ".yml", ".yaml"})
        if (settings.output.size() > std::strlen(extension) &&
            settings.output.compare(settings.output.size() - std::strlen(extension), std::string::npos,
                                    extension) == 0)
            settings.output.erase(settings.output.size() - std::strlen(extension));

    ViewCollector views(settings.board, settings.images.empty());
    std::unique_ptr<osgART::FrameSource> source;
    if (!settings.movie.empty())
        source = std::make_unique<osgART::FileSource>(settings.movie);
    else if (!settings.device.empty())
        source = std::make_unique<osgART::V4L2Camera>(
            "/dev/video" + std::to_string(std::atoi(settings.device.c_str()) - 1), settings.request);
    const bool collected =
        source ? collectFromSource(settings, *source, views) : collectFromFolder(settings, views);
    if (!collected)
        return 1;
    if (views.count() < kMinimumViews)
    {
        std::fprintf(stderr, "only %zu views of the board were found; at least %zu are needed\n",
                     views.count(), kMinimumViews);
        return 1;
    }
    Calibration calibration;
    if (!calibrate(settings, views, calibration))
    {
        std::fprintf(stderr, "the calibration did not converge; take views that differ more\n");
        return 1;
    }
    const cv::Mat_<double> k = calibration.matrix, d = calibration.distortion;
    std::printf("%zu views, %d%% of the image covered: reprojection error %.3f px (RMS)\n", views.count(),
                views.coveragePercent(), calibration.rms);
    std::printf("fx %.2f fy %.2f cx %.2f cy %.2f; k1 %.5f k2 %.5f p1 %.5f p2 %.5f\n", k(0, 0), k(1, 1),
                k(0, 2), k(1, 2), d(0), d(1), d(2), d(3));
    if (!writeCameraFiles(settings.output, views.imageSize(), calibration))
    {
        std::fprintf(stderr, "cannot write %s.dat and %s.yml\n", settings.output.c_str(),
                     settings.output.c_str());
        return 1;
    }
    std::printf("wrote %s.dat and %s.yml\n", settings.output.c_str(), settings.output.c_str());
    return 0;
}
