#include "HardCaseScene.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace Novaro
{

namespace
{

const double kPi = 3.14159265358979323846;
const int kSupersampling = 4;
const double kNoiseSigma = 2.0; // grey levels
const double kBlurSigma = 0.6;  // pixels, the lens

cv::Matx33d rotationOf(const cv::Vec3d& axisAngle)
{
    cv::Matx33d rotation;
    cv::Rodrigues(axisAngle, rotation);
    return rotation;
}

// Corners of a square of the given size centred on the marker origin, in the order of HardCaseMarker.
std::vector<cv::Point3d> squareCorners(double size)
{
    const double h = 0.5 * size;
    return {{-h, h, 0.0}, {h, h, 0.0}, {h, -h, 0.0}, {-h, -h, 0.0}};
}

} // namespace

std::vector<Degradation> hardCases()
{
    std::vector<Degradation> cases;
    auto add = [&](const std::string& name) -> Degradation&
    {
        cases.emplace_back();
        cases.back().name = name;
        return cases.back();
    };
    add("clean");
    add("near-frontal (tilt under 5 deg)").maxTilt = 5;
    Degradation& bright = add("over-exposed (contrast x0.5 around 195)");
    bright.contrast = 0.5;
    bright.contrastCentre = 195;
    Degradation& dim = add("dim (contrast x0.6 around 60)");
    dim.contrast = 0.6;
    dim.contrastCentre = 60;
    add("hard shadow edge, 50% darker").shadowDarkening = 0.5;
    add("light fall-off 65% across the frame").lightFallOff = 0.65;
    add("motion blur 5 px").motionBlur = 5;
    add("motion blur 10 px").motionBlur = 10;
    Degradation& small = add("small markers 20-40 px");
    small.minWidth = 20;
    small.maxWidth = 40;
    add("occluder on the border (radius 0.1 of the side)").occluderRadius = 0.1;
    Degradation& tilted = add("strong tilt 60-75 deg");
    tilted.maxWidth = 200;
    tilted.minTilt = 60;
    tilted.maxTilt = 75;
    add("marker-free frames").markerFree = true;
    return cases;
}

HardCaseRenderer::HardCaseRenderer(int width, int height, double focal)
    : _width(width), _height(height),
      _camera(focal, 0.0, 0.5 * (width - 1), 0.0, focal, 0.5 * (height - 1), 0.0, 0.0, 1.0)
{
}

osg::Matrixd HardCaseRenderer::openGLPose(const HardCaseMarker& marker)
{
    const cv::Matx33d r = rotationOf(marker.rotation);
    osg::Matrixd pose;
    for (int row = 0; row < 3; ++row)
    {
        for (int column = 0; column < 3; ++column)
            pose(column, row) = r(row, column);
        pose(3, row) = marker.translation[row];
        pose(row, 3) = 0.0;
    }
    pose(3, 3) = 1.0;
    return pose * osg::Matrixd::scale(1.0, -1.0, -1.0);
}

std::vector<HardCaseMarker> HardCaseRenderer::place(const Degradation& degradation, size_t count, int ids,
                                                    double size, double margin, std::mt19937& random) const
{
    std::vector<HardCaseMarker> placed;
    if (degradation.markerFree)
        return placed;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<int> order(size_t(std::max(0, ids)));
    for (int k = 0; k < ids; ++k)
        order[size_t(k)] = k;
    std::shuffle(order.begin(), order.end(), random);
    std::vector<cv::Rect2d> taken;
    const double focal = _camera(0, 0);
    for (size_t index = 0; index < count && index < order.size(); ++index)
        for (int attempt = 0; attempt < 300; ++attempt)
        {
            const double width =
                degradation.minWidth + (degradation.maxWidth - degradation.minWidth) * unit(random);
            const double tilt =
                (degradation.minTilt + (degradation.maxTilt - degradation.minTilt) * unit(random)) * kPi /
                180;
            const double tiltAxis = 2 * kPi * unit(random);
            const double spin = 2 * kPi * unit(random);
            const double depth = focal * size * std::max(0.25, std::cos(tilt)) / width;
            const cv::Vec3d t((unit(random) - 0.5) * 0.8 * _width / focal * depth,
                              (unit(random) - 0.5) * 0.8 * _height / focal * depth, depth);
            HardCaseMarker marker = at(order[index], t, tilt, tiltAxis, spin, size);
            std::vector<cv::Point2d> sheet;
            cv::projectPoints(squareCorners(size * (1 + 2 * margin)), marker.rotation, t, _camera,
                              cv::noArray(), sheet);
            if (marker.side < degradation.minWidth * 0.9 || marker.side > degradation.maxWidth * 1.2)
                continue;
            const cv::Rect2d box = cv::boundingRect(std::vector<cv::Point2f>(sheet.begin(), sheet.end()));
            if (box.x < 4 || box.y < 4 || box.x + box.width > _width - 5 || box.y + box.height > _height - 5)
                continue;
            bool overlaps = false;
            for (const cv::Rect2d& other : taken)
                overlaps = overlaps || (box & other).area() > 0;
            if (overlaps)
                continue;
            taken.push_back(box);
            placed.push_back(marker);
            break;
        }
    return placed;
}

HardCaseMarker HardCaseRenderer::at(int id, const cv::Vec3d& translation, double tilt, double tiltAxis,
                                    double spin, double size) const
{
    // Facing the camera along the line of sight, then tilted and spun.
    const cv::Vec3d z = -translation / cv::norm(translation);
    cv::Vec3d x = cv::Vec3d(1, 0, 0) - z * z[0];
    x /= cv::norm(x);
    const cv::Vec3d y = z.cross(x);
    const cv::Matx33d facing(x[0], y[0], z[0], x[1], y[1], z[1], x[2], y[2], z[2]);
    const cv::Matx33d rotation = facing *
                                 rotationOf(cv::Vec3d(std::cos(tiltAxis), std::sin(tiltAxis), 0) * tilt) *
                                 rotationOf(cv::Vec3d(0, 0, spin));
    HardCaseMarker marker;
    marker.id = id;
    cv::Rodrigues(rotation, marker.rotation);
    marker.translation = translation;
    std::vector<cv::Point2d> corners;
    cv::projectPoints(squareCorners(size), marker.rotation, translation, _camera, cv::noArray(), corners);
    marker.side = 1e9;
    for (int k = 0; k < 4; ++k)
    {
        marker.corners[size_t(k)] = corners[size_t(k)];
        marker.side = std::min(marker.side, cv::norm(corners[size_t(k)] - corners[size_t((k + 1) % 4)]));
    }
    return marker;
}

void HardCaseRenderer::drawClutter(cv::Mat& canvas, std::mt19937& random) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    canvas.setTo(cv::Scalar(70 + 120 * unit(random)));
    const int w = canvas.cols, h = canvas.rows;
    auto point = [&]() { return cv::Point(int(unit(random) * w), int(unit(random) * h)); };
    auto grey = [&]() { return cv::Scalar(255 * unit(random)); };
    for (int k = 0; k < 50; ++k)
    {
        const int extent = int((0.02 + 0.12 * unit(random)) * std::min(w, h));
        switch (random() % 5)
        {
        case 0:
            cv::rectangle(canvas, cv::Rect(point(), cv::Size(extent, extent / 2 + 1)), grey(), cv::FILLED);
            break;
        case 1:
            cv::circle(canvas, point(), extent / 2, grey(), cv::FILLED, cv::LINE_AA);
            break;
        case 2:
            cv::line(canvas, point(), point(), grey(), 1 + int(random() % 6), cv::LINE_AA);
            break;
        case 3:
            cv::putText(canvas, "Novaro " + std::to_string(random() % 100), point(), cv::FONT_HERSHEY_SIMPLEX,
                        1.0 + 2 * unit(random), grey(), 2 + int(random() % 4), cv::LINE_AA);
            break;
        default:
        {
            // A dark square frame around random blobs: shaped like a marker, holding no pattern.
            const cv::Point corner = point();
            const int side = std::max(16, extent);
            cv::rectangle(canvas, cv::Rect(corner, cv::Size(side, side)), cv::Scalar(25), cv::FILLED);
            const cv::Rect inside(corner.x + side / 4, corner.y + side / 4, side / 2, side / 2);
            cv::rectangle(canvas, inside, cv::Scalar(235), cv::FILLED);
            for (int blob = 0; blob < 4; ++blob)
                cv::circle(canvas,
                           cv::Point(inside.x + int(unit(random) * inside.width),
                                     inside.y + int(unit(random) * inside.height)),
                           std::max(1, side / 10), cv::Scalar(25), cv::FILLED);
        }
        }
    }
}

void HardCaseRenderer::render(const Degradation& degradation, const std::vector<cv::Mat>& textures,
                              double size, double margin, const std::vector<HardCaseMarker>& markers,
                              unsigned seed, cv::Mat& frame, unsigned noiseSeed) const
{
    std::mt19937 random(seed);
    cv::Mat canvas(_height * kSupersampling, _width * kSupersampling, CV_8UC1);
    drawClutter(canvas, random);
    for (const HardCaseMarker& marker : markers)
    {
        const cv::Mat& texture = textures[size_t(marker.id)];
        std::vector<cv::Point2d> sheet;
        cv::projectPoints(squareCorners(size * (1 + 2 * margin)), marker.rotation, marker.translation,
                          _camera, cv::noArray(), sheet);
        // Texture pixel edges onto the projected sheet corners, in supersampled pixel centres.
        const cv::Point2f from[4] = {{-0.5f, -0.5f},
                                     {texture.cols - 0.5f, -0.5f},
                                     {texture.cols - 0.5f, texture.rows - 0.5f},
                                     {-0.5f, texture.rows - 0.5f}};
        cv::Point2f to[4];
        for (int k = 0; k < 4; ++k)
            to[k] = cv::Point2f(float((sheet[size_t(k)].x + 0.5) * kSupersampling - 0.5),
                                float((sheet[size_t(k)].y + 0.5) * kSupersampling - 0.5));
        cv::warpPerspective(texture, canvas, cv::getPerspectiveTransform(from, to), canvas.size(),
                            cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        if (degradation.occluderRadius > 0)
        {
            // A fingertip on a random point of the outer edge.
            std::uniform_real_distribution<double> unit(0.0, 1.0);
            const int side = int(random() % 4);
            const double t = 0.15 + 0.7 * unit(random);
            const cv::Point2d at =
                marker.corners[size_t(side)] * (1 - t) + marker.corners[size_t((side + 1) % 4)] * t;
            cv::circle(canvas,
                       cv::Point(int((at.x + 0.5) * kSupersampling), int((at.y + 0.5) * kSupersampling)),
                       int(degradation.occluderRadius * marker.side * kSupersampling),
                       cv::Scalar(90 + 100 * unit(random)), cv::FILLED, cv::LINE_AA);
        }
    }
    cv::resize(canvas, frame, cv::Size(_width, _height), 0, 0, cv::INTER_AREA);
    degrade(degradation, markers, random, noiseSeed, frame);
}

void HardCaseRenderer::degrade(const Degradation& degradation, const std::vector<HardCaseMarker>& markers,
                               std::mt19937& random, unsigned noiseSeed, cv::Mat& frame) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    cv::Mat image;
    frame.convertTo(image, CV_32F);
    if (degradation.motionBlur > 0)
    {
        const int length = int(std::ceil(degradation.motionBlur)) | 1;
        cv::Mat streak = cv::Mat::zeros(length * 4 + 1, length * 4 + 1, CV_8UC1);
        const double angle = 2 * kPi * unit(random);
        const cv::Point2d centre(streak.cols / 2.0, streak.rows / 2.0);
        const cv::Point2d half(0.5 * degradation.motionBlur * std::cos(angle),
                               0.5 * degradation.motionBlur * std::sin(angle));
        // Drawn at 16 times the resolution for a smooth streak.
        cv::line(streak, cv::Point((centre - half) * 16), cv::Point((centre + half) * 16), cv::Scalar(255), 1,
                 cv::LINE_AA, 4);
        cv::Mat kernel;
        streak.convertTo(kernel, CV_32F, 1.0 / cv::sum(streak)[0]);
        cv::filter2D(image, image, -1, kernel);
    }
    cv::GaussianBlur(image, image, cv::Size(), kBlurSigma);
    if (degradation.lightFallOff > 0 || degradation.shadowDarkening > 0)
    {
        const double angle = 2 * kPi * unit(random);
        const double dx = std::cos(angle), dy = std::sin(angle);
        // The shadow's edge runs through a marker's centre when there is one.
        cv::Point2d through(_width * unit(random), _height * unit(random));
        if (!markers.empty())
        {
            const HardCaseMarker& m = markers[random() % markers.size()];
            through = (m.corners[0] + m.corners[2]) * 0.5;
        }
        for (int y = 0; y < image.rows; ++y)
        {
            float* row = image.ptr<float>(y);
            for (int x = 0; x < image.cols; ++x)
            {
                double light = 1.0;
                if (degradation.lightFallOff > 0)
                {
                    const double nx = double(x) / image.cols - 0.5, ny = double(y) / image.rows - 0.5;
                    const double ramp = std::min(1.0, std::max(0.0, 0.5 + nx * dx + ny * dy));
                    light *= 1.0 - degradation.lightFallOff * ramp;
                }
                if (degradation.shadowDarkening > 0)
                {
                    // A hard edge, one pixel of penumbra.
                    const double distance = (x - through.x) * dx + (y - through.y) * dy;
                    const double shade = std::min(1.0, std::max(0.0, distance + 0.5));
                    light *= 1.0 - degradation.shadowDarkening * shade;
                }
                row[x] = float(row[x] * light);
            }
        }
    }
    if (degradation.contrast != 1.0)
        image = (image - degradation.contrastCentre) * degradation.contrast + degradation.contrastCentre;
    cv::Mat noise(image.size(), CV_32F);
    cv::RNG rng(uint64(random()) + noiseSeed);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
    image += noise;
    image.convertTo(frame, CV_8U);
}

} // namespace Novaro
