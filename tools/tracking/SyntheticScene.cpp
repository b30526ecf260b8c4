#include "SyntheticScene.h"

#include "RandomDraws.h"

#include <osgART/PoseEstimator.h>
#include <osgART/UndistortionGrid.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace Novaro
{

namespace
{

const double kPi = 3.14159265358979323846;
const unsigned char kInk = 25;
const unsigned char kPaper = 235;

cv::Vec3b paperShade(unsigned char value)
{
    const unsigned char shade = static_cast<unsigned char>(kInk + (kPaper - kInk) * value / 255);
    return cv::Vec3b(shade, shade, shade);
}

// Computer-vision camera pose (x right, y down, z forward) of an OpenGL pose.
osg::Matrixd toVisionFrame(const osg::Matrixd& pose)
{
    return pose * osg::Matrixd::scale(1.0, -1.0, -1.0);
}

} // namespace

cv::Mat makeMarkerImage(const osgART::Pattern& pattern, int cellPixels, double margin)
{
    cellPixels = std::max(1, cellPixels);
    const int inner = osgART::Pattern::kSize * cellPixels;
    const int markerSide = inner * 2;
    const int paper = int(std::lround(margin * markerSide));
    cv::Mat sheet(markerSide + 2 * paper, markerSide + 2 * paper, CV_8UC3, cv::Scalar::all(kPaper));
    sheet(cv::Rect(paper, paper, markerSide, markerSide)).setTo(cv::Scalar::all(kInk));
    const osgART::Pattern::Block& block = pattern.block(0);
    for (int row = 0; row < osgART::Pattern::kSize; ++row)
        for (int column = 0; column < osgART::Pattern::kSize; ++column)
        {
            const cv::Vec3b colour(block[0][size_t(row)][size_t(column)],
                                   block[1][size_t(row)][size_t(column)],
                                   block[2][size_t(row)][size_t(column)]);
            cv::Vec3b shaded;
            for (int c = 0; c < 3; ++c)
                shaded[c] = paperShade(colour[c])[0];
            sheet(cv::Rect(paper + inner / 2 + column * cellPixels, paper + inner / 2 + row * cellPixels,
                           cellPixels, cellPixels))
                .setTo(cv::Scalar(shaded[0], shaded[1], shaded[2]));
        }
    return sheet;
}

std::vector<osgART::Pattern> makeDistinctPatterns(size_t count, unsigned seed, int blocks)
{
    blocks = std::max(1, std::min(16, blocks));
    std::mt19937 random(seed);
    std::vector<osgART::Pattern> patterns;
    std::vector<cv::Mat> accepted; // grey vectors of every orientation, normalised
    auto normalised = [](const cv::Mat& image)
    {
        cv::Mat values;
        image.convertTo(values, CV_32F);
        values -= cv::mean(values)[0];
        const double norm = cv::norm(values);
        return norm > 0 ? cv::Mat(values / norm) : values;
    };
    int attempts = 0;
    while (patterns.size() < count && attempts < 100000)
    {
        ++attempts;
        // blocks x blocks squares of pattern cells, about half of them dark.
        cv::Mat cells(blocks, blocks, CV_8UC1);
        for (int r = 0; r < blocks; ++r)
            for (int c = 0; c < blocks; ++c)
                cells.at<unsigned char>(r, c) = (random() % 2) ? 255 : 0;
        cv::Mat image;
        cv::resize(cells, image, cv::Size(16, 16), 0, 0, cv::INTER_NEAREST);
        const cv::Mat upright = normalised(image);
        if (cv::norm(upright) == 0)
            continue;
        bool distinct = true;
        cv::Mat turned = image.clone();
        for (int k = 1; k < 4 && distinct; ++k)
        {
            cv::rotate(turned, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
            if (upright.dot(normalised(turned)) > 0.5)
                distinct = false;
        }
        for (const cv::Mat& other : accepted)
            if (distinct && upright.dot(other) > 0.5)
                distinct = false;
        if (!distinct)
            continue;
        osgART::Pattern pattern;
        pattern.setFromImage(image);
        patterns.push_back(pattern);
        turned = image.clone();
        for (int k = 0; k < 4; ++k)
        {
            accepted.push_back(normalised(turned));
            cv::rotate(turned, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
        }
    }
    return patterns;
}

SyntheticCamera::SyntheticCamera(const osgART::CameraParameters& camera, const ImagingSettings& settings)
    : _camera(camera), _settings(settings)
{
    _settings.supersampling = std::max(1, _settings.supersampling);
    _supersampled =
        camera.scaled(camera.width() * _settings.supersampling, camera.height() * _settings.supersampling);
}

void SyntheticCamera::ensureIdealMap()
{
    if (!_idealMap.empty() || _supersampled.distortionModel() == osgART::CameraParameters::NONE)
        return;
    // The detector's grid: the map is smooth, and at the supersampled scale the grid's nodes lie
    // closer in video pixels than the detector's own, so the drawn lens stays within thousandths of
    // a pixel of the exact one, for a sixteenth of the Newton solves.
    osgART::UndistortionGrid grid;
    grid.setCamera(_supersampled);
    _idealMap.create(_supersampled.height(), _supersampled.width(), CV_32FC2);
    for (int y = 0; y < _idealMap.rows; ++y)
    {
        cv::Vec2f* row = _idealMap.ptr<cv::Vec2f>(y);
        for (int x = 0; x < _idealMap.cols; ++x)
        {
            const osg::Vec2d ideal = grid.observedToIdeal(osg::Vec2d(x, y));
            row[x] = cv::Vec2f(float(ideal.x()), float(ideal.y()));
        }
    }
}

osg::Vec2d SyntheticCamera::projectObserved(const osg::Matrixd& pose, const osg::Vec3d& point) const
{
    const osgART::PoseEstimator estimator(_camera);
    return _camera.idealToObserved(estimator.project(toVisionFrame(pose), point));
}

void SyntheticCamera::describe(PlacedMarker& placed, double size) const
{
    const std::array<osg::Vec3d, 4> corners = osgART::PoseEstimator::squareCorners(size, osg::Vec2d());
    placed.shortestSide = 1e9;
    for (int k = 0; k < 4; ++k)
        placed.corners[size_t(k)] = projectObserved(placed.pose, corners[size_t(k)]);
    for (int k = 0; k < 4; ++k)
        placed.shortestSide = std::min(
            placed.shortestSide, (placed.corners[size_t(k)] - placed.corners[size_t((k + 1) % 4)]).length());
    // Tilt: angle between the marker normal and the line of sight to its centre.
    const osg::Vec3d normal = osg::Matrixd::transform3x3(osg::Vec3d(0, 0, 1), placed.pose);
    osg::Vec3d toCamera = -placed.pose.getTrans();
    toCamera.normalize();
    osg::Vec3d unitNormal = normal;
    unitNormal.normalize();
    placed.tiltDegrees = std::acos(std::min(1.0, std::max(-1.0, unitNormal * toCamera))) * 180.0 / kPi;
}

std::vector<PlacedMarker> SyntheticCamera::placeMarkers(const std::vector<PrintedMarker>& markers,
                                                        size_t count, double minWidth, double maxWidth,
                                                        double maxTiltDegrees, std::mt19937& random) const
{
    std::vector<PlacedMarker> placed;
    std::vector<cv::Rect2d> taken;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double fx = _camera.fx();
    for (size_t index = 0; index < count && !markers.empty(); ++index)
    {
        const int markerIndex = int(index % markers.size());
        const PrintedMarker& marker = markers[size_t(markerIndex)];
        for (int attempt = 0; attempt < 400; ++attempt)
        {
            const double width = minWidth + (maxWidth - minWidth) * unit(random);
            const double tilt = maxTiltDegrees * std::sqrt(unit(random)) * kPi / 180.0;
            const double tiltAxis = 2.0 * kPi * unit(random);
            const double spin = 2.0 * kPi * unit(random);
            // The shortest side shrinks roughly with the cosine of the tilt.
            const double depth = fx * marker.size * std::max(0.2, std::cos(tilt)) / width;
            const double u = _camera.width() * (0.1 + 0.8 * unit(random));
            const double v = _camera.height() * (0.1 + 0.8 * unit(random));
            const osg::Vec2d ideal = _camera.observedToIdeal(osg::Vec2d(u, v));
            const double x = (ideal.x() - _camera.cx()) / fx * depth;
            const double y = (ideal.y() - _camera.cy()) / _camera.fy() * depth;
            PlacedMarker candidate;
            candidate.marker = markerIndex;
            // Tilt is measured against the line of sight: first face the camera, then tilt away.
            const osg::Vec3d position(x, -y, -depth);
            osg::Vec3d toCamera = -position;
            toCamera.normalize();
            candidate.pose =
                osg::Matrixd::rotate(spin, osg::Vec3d(0, 0, 1)) *
                osg::Matrixd::rotate(tilt, osg::Vec3d(std::cos(tiltAxis), std::sin(tiltAxis), 0.0)) *
                osg::Matrixd::rotate(osg::Vec3d(0, 0, 1), toCamera) * osg::Matrixd::translate(position);
            describe(candidate, marker.size);
            if (candidate.shortestSide < minWidth || candidate.shortestSide > maxWidth * 1.2)
                continue;
            // The whole sheet in view and clear of the others.
            const double sheet = marker.size * (1.0 + 2.0 * marker.margin);
            const std::array<osg::Vec3d, 4> sheetCorners =
                osgART::PoseEstimator::squareCorners(sheet, osg::Vec2d());
            double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
            for (const osg::Vec3d& corner : sheetCorners)
            {
                const osg::Vec2d p = projectObserved(candidate.pose, corner);
                left = std::min(left, p.x());
                right = std::max(right, p.x());
                top = std::min(top, p.y());
                bottom = std::max(bottom, p.y());
            }
            if (left < 3 || top < 3 || right > _camera.width() - 4 || bottom > _camera.height() - 4)
                continue;
            const cv::Rect2d box(left, top, right - left, bottom - top);
            bool overlaps = false;
            for (const cv::Rect2d& other : taken)
                if ((box & other).area() > 0)
                    overlaps = true;
            if (overlaps)
                continue;
            taken.push_back(box);
            placed.push_back(candidate);
            break;
        }
    }
    return placed;
}

void SyntheticCamera::drawBackground(cv::Mat& canvas, std::mt19937& random) const
{
    std::uniform_int_distribution<int> grey(0, 255);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    canvas.setTo(cv::Scalar::all(90 + grey(random) % 100));
    if (!_settings.clutter)
        return;
    const int width = canvas.cols;
    const int height = canvas.rows;
    const int scale = _settings.supersampling;
    auto point = [&]() { return randomPoint(random, cv::Rect(0, 0, width, height)); };
    auto colour = [&]()
    {
        const int base = grey(random);
        const int red = std::max(0, base - grey(random) % 40);
        return cv::Scalar(std::min(255, base + grey(random) % 40), base, red);
    };
    const int shapes = 60;
    for (int k = 0; k < shapes; ++k)
    {
        const int kind = int(random() % 6);
        const int extent = int((0.02 + 0.15 * unit(random)) * std::min(width, height));
        switch (kind)
        {
        case 0:
        {
            const cv::Scalar shade = colour();
            const int tall = int(extent * (0.3 + unit(random)));
            cv::rectangle(canvas, cv::Rect(point(), cv::Size(extent, tall)), shade, cv::FILLED);
            break;
        }
        case 1:
        {
            const cv::Scalar shade = colour();
            cv::circle(canvas, point(), extent / 2, shade, cv::FILLED, cv::LINE_AA);
            break;
        }
        case 2:
        {
            const int thickness = 1 + int(random() % 4) * scale;
            const cv::Scalar shade = colour();
            const cv::Point to = point();
            cv::line(canvas, point(), to, shade, thickness, cv::LINE_AA);
            break;
        }
        case 3:
        {
            std::vector<cv::Point> polygon;
            const cv::Point centre = point();
            const int corners = 3 + int(random() % 5);
            for (int c = 0; c < corners; ++c)
            {
                const double angle = 2.0 * kPi * (c + unit(random) * 0.8) / corners;
                polygon.emplace_back(centre.x + int(extent * std::cos(angle)),
                                     centre.y + int(extent * std::sin(angle)));
            }
            cv::fillPoly(canvas, std::vector<std::vector<cv::Point>>{polygon}, colour(), cv::LINE_AA);
            break;
        }
        case 4:
        {
            const int thickness = scale * (1 + int(random() % 3));
            const cv::Scalar shade = colour();
            const double size = 0.5 * scale * (0.5 + 2 * unit(random));
            const cv::Point at = point();
            cv::putText(canvas, "Novaro 3D " + std::to_string(random() % 1000), at, cv::FONT_HERSHEY_SIMPLEX,
                        size, shade, thickness, cv::LINE_AA);
            break;
        }
        default:
        {
            // A dark square frame with random content: looks like a marker, is none.
            const cv::Point corner = point();
            const int side = std::max(8, extent);
            const cv::Rect frame(corner, cv::Size(side, side));
            cv::rectangle(canvas, frame, cv::Scalar::all(kInk), cv::FILLED);
            const cv::Rect inside(corner.x + side / 4, corner.y + side / 4, side / 2, side / 2);
            cv::rectangle(canvas, inside, cv::Scalar::all(kPaper), cv::FILLED);
            for (int blob = 0; blob < 4; ++blob)
                cv::circle(canvas, randomPoint(random, inside), std::max(1, side / 10), cv::Scalar::all(kInk),
                           cv::FILLED);
            break;
        }
        }
    }
}

void SyntheticCamera::drawSheet(cv::Mat& canvas, const PrintedMarker& marker, const osg::Matrixd& pose) const
{
    const osg::Matrixd vision = toVisionFrame(pose);
    // Homography from the marker plane (x, y) to ideal supersampled pixels: K [r1 r2 t].
    const double(&p)[3][4] = _supersampled.projection();
    const double scale = p[2][2] != 0.0 ? p[2][2] : 1.0;
    const cv::Matx33d k(p[0][0] / scale, p[0][1] / scale, p[0][2] / scale, 0, p[1][1] / scale,
                        p[1][2] / scale, 0, 0, 1);
    cv::Matx33d columns;
    for (int row = 0; row < 3; ++row)
    {
        columns(row, 0) = vision(0, row);
        columns(row, 1) = vision(1, row);
        columns(row, 2) = vision(3, row);
    }
    const cv::Matx33d planeToImage = k * columns;
    const cv::Matx33d imageToPlane = planeToImage.inv();

    const double half = 0.5 * marker.size * (1.0 + 2.0 * marker.margin);
    const std::array<osg::Vec3d, 4> sheetCorners =
        osgART::PoseEstimator::squareCorners(2.0 * half, osg::Vec2d());
    const osgART::PoseEstimator estimator(_supersampled);
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (const osg::Vec3d& corner : sheetCorners)
    {
        const osg::Vec2d q = _supersampled.idealToObserved(estimator.project(vision, corner));
        left = std::min(left, q.x());
        right = std::max(right, q.x());
        top = std::min(top, q.y());
        bottom = std::max(bottom, q.y());
    }
    // Distortion bends the sheet's edges outwards a little.
    const double pad = 0.05 * std::max(right - left, bottom - top) + 2;
    const int x0 = std::max(0, int(left - pad)), x1 = std::min(canvas.cols - 1, int(right + pad));
    const int y0 = std::max(0, int(top - pad)), y1 = std::min(canvas.rows - 1, int(bottom + pad));
    const cv::Mat& texture = marker.texture;
    const double texelsPerUnit = texture.cols / (2.0 * half);
    for (int y = y0; y <= y1; ++y)
    {
        cv::Vec3b* row = canvas.ptr<cv::Vec3b>(y);
        const cv::Vec2f* idealRow = _idealMap.empty() ? nullptr : _idealMap.ptr<cv::Vec2f>(y);
        for (int x = x0; x <= x1; ++x)
        {
            const double u = idealRow ? idealRow[x][0] : x;
            const double v = idealRow ? idealRow[x][1] : y;
            const cv::Vec3d plane = imageToPlane * cv::Vec3d(u, v, 1.0);
            if (plane[2] == 0.0)
                continue;
            const double px = plane[0] / plane[2];
            const double py = plane[1] / plane[2];
            if (px < -half || px > half || py < -half || py > half)
                continue;
            // Texture row 0 is the top of the sheet (largest y).
            const double tx = (px + half) * texelsPerUnit - 0.5;
            const double ty = (half - py) * texelsPerUnit - 0.5;
            const int ix = std::min(texture.cols - 2, std::max(0, int(std::floor(tx))));
            const int iy = std::min(texture.rows - 2, std::max(0, int(std::floor(ty))));
            const double fx = std::min(1.0, std::max(0.0, tx - ix));
            const double fy = std::min(1.0, std::max(0.0, ty - iy));
            const cv::Vec3b& a = texture.at<cv::Vec3b>(iy, ix);
            const cv::Vec3b& b = texture.at<cv::Vec3b>(iy, ix + 1);
            const cv::Vec3b& c = texture.at<cv::Vec3b>(iy + 1, ix);
            const cv::Vec3b& d = texture.at<cv::Vec3b>(iy + 1, ix + 1);
            for (int channel = 0; channel < 3; ++channel)
                row[x][channel] =
                    cv::saturate_cast<unsigned char>((a[channel] * (1 - fx) + b[channel] * fx) * (1 - fy) +
                                                     (c[channel] * (1 - fx) + d[channel] * fx) * fy);
        }
    }
}

void SyntheticCamera::render(const std::vector<PrintedMarker>& markers,
                             const std::vector<PlacedMarker>& placed, std::mt19937& random, cv::Mat& frame)
{
    ensureIdealMap();
    cv::Mat canvas(_supersampled.height(), _supersampled.width(), CV_8UC3);
    drawBackground(canvas, random);
    for (const PlacedMarker& marker : placed)
        if (marker.marker >= 0 && size_t(marker.marker) < markers.size())
            drawSheet(canvas, markers[size_t(marker.marker)], marker.pose);
    cv::resize(canvas, frame, cv::Size(_camera.width(), _camera.height()), 0, 0, cv::INTER_AREA);

    cv::Mat image;
    frame.convertTo(image, CV_32FC3);
    if (_settings.blurSigma > 0.0)
        cv::GaussianBlur(image, image, cv::Size(), _settings.blurSigma);
    if (_settings.lightVariation > 0.0)
    {
        // A smooth light fall-off in a random direction plus a vignette.
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double angle = 2.0 * kPi * unit(random);
        const double dx = std::cos(angle), dy = std::sin(angle);
        cv::Mat light(image.size(), CV_32FC1);
        for (int y = 0; y < light.rows; ++y)
        {
            float* row = light.ptr<float>(y);
            for (int x = 0; x < light.cols; ++x)
            {
                const double nx = double(x) / light.cols - 0.5, ny = double(y) / light.rows - 0.5;
                const double ramp = 0.5 + (nx * dx + ny * dy);     // 0..1 across the frame
                const double vignette = (nx * nx + ny * ny) * 2.0; // 0..1 at the corners
                row[x] = float(1.0 - _settings.lightVariation * std::min(1.0, 0.7 * ramp + 0.3 * vignette));
            }
        }
        cv::Mat light3;
        cv::cvtColor(light, light3, cv::COLOR_GRAY2BGR);
        cv::multiply(image, light3, image);
    }
    if (_settings.noiseSigma > 0.0)
    {
        cv::Mat noise(image.size(), CV_32FC3);
        cv::RNG rng(static_cast<uint64>(random()));
        rng.fill(noise, cv::RNG::NORMAL, 0.0, _settings.noiseSigma);
        image += noise;
    }
    image.convertTo(frame, CV_8UC3);
}

std::string matrixToJson(const osg::Matrixd& matrix)
{
    std::ostringstream out;
    out << std::setprecision(9) << "[";
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            out << (row || column ? "," : "") << matrix(row, column);
    out << "]";
    return out.str();
}

} // namespace Novaro
