#include "HardCaseScene.h"

#include "CameraModel.h"
#include "RandomDraws.h"

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
// A frame exposed for 1/60 s: motion blur of L pixels is a slide of L pixels in that time.
const double kExposureMs = 1000.0 / 60.0;

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

// A dark square frame around random blobs: shaped like a marker, holding no pattern.
void drawDecoy(cv::Mat& canvas, const cv::Point& corner, int side, std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    cv::rectangle(canvas, cv::Rect(corner, cv::Size(side, side)), cv::Scalar(25), cv::FILLED);
    const cv::Rect inside(corner.x + side / 4, corner.y + side / 4, side / 2, side / 2);
    cv::rectangle(canvas, inside, cv::Scalar(235), cv::FILLED);
    for (int blob = 0; blob < 4; ++blob)
        cv::circle(canvas, randomPoint(random, inside), std::max(1, side / 10), cv::Scalar(25), cv::FILLED);
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
    Degradation& offset = add("shadow edge at a random angle and offset, 50% darker");
    offset.shadowDarkening = 0.5;
    offset.shadowOffset = 0.5;
    Degradation& curved = add("curved shadow edge, 50% darker");
    curved.shadowDarkening = 0.5;
    curved.shadowOffset = 0.3;
    curved.shadowRadius = 0.8;
    add("light fall-off 65% across the frame").lightFallOff = 0.65;
    add("motion blur 5 px").motionBlur = 5;
    add("motion blur 10 px").motionBlur = 10;
    Degradation& shaky = add("shaky motion blur 10 px (curved path, uneven speed)");
    shaky.motionBlur = 10;
    shaky.shakyBlur = true;
    // A phone's rolling shutter reads its rows over about 30 ms: a 10-pixel blur is then a slide
    // of 18 pixels from the top row to the bottom one.
    Degradation& rolling = add("motion blur 10 px, rolling shutter 30 ms");
    rolling.motionBlur = 10;
    rolling.readoutMs = 30;
    Degradation& shakyRolling = add("shaky motion blur 10 px, rolling shutter 30 ms");
    shakyRolling.motionBlur = 10;
    shakyRolling.shakyBlur = true;
    shakyRolling.readoutMs = 30;
    Degradation& small = add("small markers 20-40 px");
    small.minWidth = 20;
    small.maxWidth = 40;
    add("occluder on the border (radius 0.1 of the side)").occluderRadius = 0.1;
    Degradation& tilted = add("strong tilt 60-75 deg");
    tilted.maxWidth = 200;
    tilted.minTilt = 60;
    tilted.maxTilt = 75;
    // A phone's sensor in a lit room, a dim one and a dark one.
    for (const int iso : {800, 1600, 3200})
        add("camera noise, ISO " + std::to_string(iso)).iso = iso;
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
            const double down = (unit(random) - 0.5) * 0.8 * _height / focal * depth;
            const double across = (unit(random) - 0.5) * 0.8 * _width / focal * depth;
            const cv::Vec3d t(across, down, depth);
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
    describe(marker, size);
    return marker;
}

void HardCaseRenderer::describe(HardCaseMarker& marker, double size) const
{
    std::vector<cv::Point2d> corners;
    cv::projectPoints(squareCorners(size), marker.rotation, marker.translation, _camera, cv::noArray(),
                      corners);
    marker.side = 1e9;
    for (int k = 0; k < 4; ++k)
    {
        marker.corners[size_t(k)] = corners[size_t(k)];
        marker.side = std::min(marker.side, cv::norm(corners[size_t(k)] - corners[size_t((k + 1) % 4)]));
    }
}

HardCaseMarker HardCaseRenderer::turned(const HardCaseMarker& marker, const cv::Point2d& shift,
                                        double size) const
{
    // The rotation about the camera's centre that takes the ray through the marker's centre to the
    // ray through its shifted image.
    std::vector<cv::Point2d> centre;
    cv::projectPoints(std::vector<cv::Point3d>{{0.0, 0.0, 0.0}}, marker.rotation, marker.translation, _camera,
                      cv::noArray(), centre);
    const cv::Matx33d inverse = _camera.inv();
    cv::Vec3d from = inverse * cv::Vec3d(centre[0].x, centre[0].y, 1.0);
    cv::Vec3d to = inverse * cv::Vec3d(centre[0].x + shift.x, centre[0].y + shift.y, 1.0);
    from /= cv::norm(from);
    to /= cv::norm(to);
    const cv::Vec3d axis = from.cross(to);
    const double angle = std::atan2(cv::norm(axis), from.dot(to));
    HardCaseMarker moved = marker;
    if (cv::norm(axis) < 1e-12)
        return moved;
    const cv::Matx33d turn = rotationOf(axis / cv::norm(axis) * angle);
    cv::Rodrigues(turn * rotationOf(marker.rotation), moved.rotation);
    moved.translation = turn * marker.translation;
    describe(moved, size);
    return moved;
}

void HardCaseRenderer::drawClutter(cv::Mat& canvas, std::mt19937& random) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    canvas.setTo(cv::Scalar(70 + 120 * unit(random)));
    const int w = canvas.cols, h = canvas.rows;
    auto point = [&]() { return randomPoint(random, cv::Rect(0, 0, w, h)); };
    auto grey = [&]() { return cv::Scalar(255 * unit(random)); };
    for (int k = 0; k < 50; ++k)
    {
        const int extent = int((0.02 + 0.12 * unit(random)) * std::min(w, h));
        switch (random() % 5)
        {
        case 0:
        {
            const cv::Scalar shade = grey();
            cv::rectangle(canvas, cv::Rect(point(), cv::Size(extent, extent / 2 + 1)), shade, cv::FILLED);
            break;
        }
        case 1:
        {
            const cv::Scalar shade = grey();
            cv::circle(canvas, point(), extent / 2, shade, cv::FILLED, cv::LINE_AA);
            break;
        }
        case 2:
        {
            const int thickness = 1 + int(random() % 6);
            const cv::Scalar shade = grey();
            const cv::Point to = point();
            cv::line(canvas, point(), to, shade, thickness, cv::LINE_AA);
            break;
        }
        case 3:
        {
            const int thickness = 2 + int(random() % 4);
            const cv::Scalar shade = grey();
            const double scale = 1.0 + 2 * unit(random);
            const cv::Point at = point();
            cv::putText(canvas, "Novaro " + std::to_string(random() % 100), at, cv::FONT_HERSHEY_SIMPLEX,
                        scale, shade, thickness, cv::LINE_AA);
            break;
        }
        default:
        {
            const cv::Point corner = point();
            drawDecoy(canvas, corner, std::max(16, extent), random);
        }
        }
    }
}

const char* backgroundName(Background background)
{
    switch (background)
    {
    case Background::BUSY:
        return "busy";
    case Background::PHOTO:
        return "photo";
    default:
        return "calm";
    }
}

void HardCaseRenderer::setBackground(Background background, const std::vector<cv::Mat>& photos)
{
    _background = background;
    _photos.clear();
    for (const cv::Mat& photo : photos)
    {
        cv::Mat grey;
        if (photo.channels() == 3)
            cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
        else
            grey = photo;
        _photos.push_back(grey);
    }
}

void HardCaseRenderer::render(const Degradation& degradation, const std::vector<cv::Mat>& textures,
                              double size, double margin, const std::vector<HardCaseMarker>& markers,
                              unsigned seed, cv::Mat& frame, unsigned noiseSeed,
                              std::vector<HardCaseMarker>* seen) const
{
    std::mt19937 random(seed);
    if (_background == Background::CALM || (_background == Background::PHOTO && _photos.empty()))
        renderSupersampled(degradation, textures, size, margin, markers, random, frame);
    else
        renderOverBackground(degradation, textures, size, margin, markers, random, frame);
    if (seen)
        *seen = markers;
    degrade(degradation, markers, size, random, noiseSeed, frame, seen);
}

void HardCaseRenderer::renderSupersampled(const Degradation& degradation,
                                          const std::vector<cv::Mat>& textures, double size, double margin,
                                          const std::vector<HardCaseMarker>& markers, std::mt19937& random,
                                          cv::Mat& frame) const
{
    cv::Mat canvas(_height * kSupersampling, _width * kSupersampling, CV_8UC1);
    drawClutter(canvas, random);
    for (const HardCaseMarker& marker : markers)
        drawSheet(degradation, textures[size_t(marker.id)], size, margin, marker, cv::Point2d(), random,
                  canvas);
    cv::resize(canvas, frame, cv::Size(_width, _height), 0, 0, cv::INTER_AREA);
}

void HardCaseRenderer::renderOverBackground(const Degradation& degradation,
                                            const std::vector<cv::Mat>& textures, double size, double margin,
                                            const std::vector<HardCaseMarker>& markers, std::mt19937& random,
                                            cv::Mat& frame) const
{
    frame.create(_height, _width, CV_8UC1);
    if (_background == Background::BUSY)
        drawBusyTexture(frame, random);
    else
        drawPhotos(frame, random);
    pasteSheets(degradation, textures, size, margin, markers, random, frame);
}

void HardCaseRenderer::pasteSheets(const Degradation& degradation, const std::vector<cv::Mat>& textures,
                                   double size, double margin, const std::vector<HardCaseMarker>& markers,
                                   std::mt19937& random, cv::Mat& frame) const
{
    const cv::Rect whole(0, 0, frame.cols, frame.rows);
    cv::Mat canvas, reduced;
    for (const HardCaseMarker& marker : markers)
    {
        std::vector<cv::Point2d> sheet;
        cv::projectPoints(squareCorners(size * (1 + 2 * margin)), marker.rotation, marker.translation,
                          _camera, cv::noArray(), sheet);
        const cv::Rect2d box = cv::boundingRect(std::vector<cv::Point2f>(sheet.begin(), sheet.end()));
        const cv::Rect patch = cv::Rect(int(std::floor(box.x)) - 2, int(std::floor(box.y)) - 2,
                                        int(std::ceil(box.width)) + 5, int(std::ceil(box.height)) + 5) &
                               whole;
        // The patch supersampled by repeating its pixels, so that where no sheet covers it, it comes
        // back unchanged.
        cv::resize(frame(patch), canvas, patch.size() * kSupersampling, 0, 0, cv::INTER_NEAREST);
        drawSheet(degradation, textures[size_t(marker.id)], size, margin, marker, patch.tl(), random, canvas);
        cv::resize(canvas, reduced, patch.size(), 0, 0, cv::INTER_AREA);
        reduced.copyTo(frame(patch));
    }
}

// One sheet warped onto a supersampled canvas whose pixel (0, 0) covers frame pixel origin, with
// the occluder of the case over its border.
void HardCaseRenderer::drawSheet(const Degradation& degradation, const cv::Mat& texture, double size,
                                 double margin, const HardCaseMarker& marker, const cv::Point2d& origin,
                                 std::mt19937& random, cv::Mat& canvas) const
{
    std::vector<cv::Point2d> sheet;
    cv::projectPoints(squareCorners(size * (1 + 2 * margin)), marker.rotation, marker.translation, _camera,
                      cv::noArray(), sheet);
    // Texture pixel edges onto the projected sheet corners, in supersampled pixel centres.
    const cv::Point2f from[4] = {{-0.5f, -0.5f},
                                 {texture.cols - 0.5f, -0.5f},
                                 {texture.cols - 0.5f, texture.rows - 0.5f},
                                 {-0.5f, texture.rows - 0.5f}};
    cv::Point2f to[4];
    for (int k = 0; k < 4; ++k)
        to[k] = cv::Point2f(float((sheet[size_t(k)].x - origin.x + 0.5) * kSupersampling - 0.5),
                            float((sheet[size_t(k)].y - origin.y + 0.5) * kSupersampling - 0.5));
    cv::warpPerspective(texture, canvas, cv::getPerspectiveTransform(from, to), canvas.size(),
                        cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    if (degradation.occluderRadius > 0)
    {
        // A fingertip on a random point of the outer edge.
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const int side = int(random() % 4);
        const double t = 0.15 + 0.7 * unit(random);
        const cv::Point2d at =
            marker.corners[size_t(side)] * (1 - t) + marker.corners[size_t((side + 1) % 4)] * t - origin;
        cv::circle(canvas, cv::Point(int((at.x + 0.5) * kSupersampling), int((at.y + 0.5) * kSupersampling)),
                   int(degradation.occluderRadius * marker.side * kSupersampling),
                   cv::Scalar(90 + 100 * unit(random)), cv::FILLED, cv::LINE_AA);
    }
}

// A desk, a shelf, a patterned floor as a camera sees them: grey noise over several scales, streaks,
// hundreds of small shapes and some text, every few pixels an edge; and the calm scene's decoys.
void HardCaseRenderer::drawBusyTexture(cv::Mat& frame, std::mt19937& random) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    cv::Mat texture(frame.size(), CV_32F, cv::Scalar(70 + 110 * unit(random)));
    cv::RNG rng{uint64(random())};
    cv::Mat coarse, fine;
    for (const std::pair<int, double>& octave : {std::make_pair(96, 50.0), std::make_pair(32, 40.0),
                                                 std::make_pair(10, 35.0), std::make_pair(3, 25.0)})
    {
        coarse.create(frame.rows / octave.first + 2, frame.cols / octave.first + 2, CV_32F);
        rng.fill(coarse, cv::RNG::UNIFORM, -octave.second, octave.second);
        cv::resize(coarse, fine, cv::Size(coarse.cols * octave.first, coarse.rows * octave.first), 0, 0,
                   cv::INTER_CUBIC);
        texture += fine(cv::Rect(0, 0, frame.cols, frame.rows));
    }
    texture.convertTo(frame, CV_8U);
    const int w = frame.cols, h = frame.rows;
    auto point = [&]() { return randomPoint(random, cv::Rect(0, 0, w, h)); };
    auto grey = [&]() { return cv::Scalar(255 * unit(random)); };
    // About one small shape per 600 pixels, whatever the frame size.
    const int shapes = w * h / 600;
    for (int k = 0; k < shapes; ++k)
    {
        const double smallness = unit(random);
        const int extent = 2 + int(smallness * unit(random) * 0.06 * std::min(w, h));
        const cv::Point at = point();
        switch (random() % 4)
        {
        case 0:
        {
            const cv::Scalar shade = grey();
            cv::rectangle(frame, cv::Rect(at, cv::Size(extent, 1 + int(extent * unit(random)))), shade,
                          cv::FILLED);
            break;
        }
        case 1:
        {
            const int thickness = random() % 2 ? cv::FILLED : 1;
            cv::circle(frame, at, extent / 2 + 1, grey(), thickness, cv::LINE_AA);
            break;
        }
        case 2:
        {
            const int thickness = 1 + int(random() % 3);
            const cv::Scalar shade = grey();
            const int down = int((unit(random) - 0.5) * 6 * extent);
            const int across = int((unit(random) - 0.5) * 6 * extent);
            cv::line(frame, at, at + cv::Point(across, down), shade, thickness, cv::LINE_AA);
            break;
        }
        default:
        {
            const cv::Scalar shade = grey();
            const double scale = 0.6 + 1.2 * unit(random);
            cv::putText(frame, std::to_string(random() % 10000), at, cv::FONT_HERSHEY_PLAIN, scale, shade, 1,
                        cv::LINE_AA);
        }
        }
    }
    // Marker-like decoys, as on the calm background.
    for (int k = 0; k < 6 + w * h / 100000; ++k)
    {
        const cv::Point corner = point();
        drawDecoy(frame, corner, std::max(12, int((0.03 + 0.1 * unit(random)) * std::min(w, h))), random);
    }
}

// Photographs in a grid of cells about 700 x 600 pixels, so that a 640 x 480 photograph is not
// enlarged more than one and a half times: each cell a random photograph, mirrored or not, scaled
// to cover the cell and cropped at a random place.
void HardCaseRenderer::drawPhotos(cv::Mat& frame, std::mt19937& random) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int columns = std::max(1, int(std::lround(frame.cols / 700.0)));
    const int rows = std::max(1, int(std::lround(frame.rows / 600.0)));
    cv::Mat scaled;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column)
        {
            const cv::Rect cell(column * frame.cols / columns, row * frame.rows / rows,
                                (column + 1) * frame.cols / columns - column * frame.cols / columns,
                                (row + 1) * frame.rows / rows - row * frame.rows / rows);
            const cv::Mat& photo = _photos[random() % _photos.size()];
            const double scale = std::max(double(cell.width) / photo.cols, double(cell.height) / photo.rows) *
                                 (1.0 + 0.2 * unit(random));
            cv::resize(photo, scaled, cv::Size(), scale, scale,
                       scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
            if (random() % 2)
                cv::flip(scaled, scaled, 1);
            const int x = int(unit(random) * std::max(0, scaled.cols - cell.width));
            const int y = int(unit(random) * std::max(0, scaled.rows - cell.height));
            scaled(cv::Rect(x, y, cell.width, cell.height)).copyTo(frame(cell));
        }
}

cv::Mat motionBlurKernel(double length, double angle, bool shaky, std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const cv::Point2d along(std::cos(angle), std::sin(angle)), across(-along.y, along.x);
    // A shaky path: the hand drifts across the motion (two slow waves) and the speed along it varies,
    // so the exposure lingers at some points of the path more than at others.
    const double drift1 = shaky ? 0.25 * length * (unit(random) - 0.5) : 0.0;
    const double drift2 = shaky ? 0.12 * length * (unit(random) - 0.5) : 0.0;
    const double phase = 2 * kPi * unit(random), speedPhase = 2 * kPi * unit(random);
    const double speedVariation = shaky ? 0.6 : 0.0;
    const int steps = std::max(32, int(16 * length));
    std::vector<cv::Point2d> path;
    cv::Point2d mean;
    for (int k = 0; k < steps; ++k)
    {
        const double t = (k + 0.5) / steps; // time during the exposure, 0..1
        // Distance along the path at time t; its rate goes up and down by speedVariation.
        const double s =
            t + speedVariation * (std::cos(speedPhase) - std::cos(2 * kPi * t + speedPhase)) / (2 * kPi);
        const double sideways = drift1 * std::sin(kPi * t + phase) + drift2 * std::sin(3 * kPi * t + phase);
        path.push_back(along * (s - 0.5) * length + across * sideways);
        mean += path.back();
    }
    mean *= 1.0 / steps;
    double reach = 1.0;
    for (cv::Point2d& point : path)
    {
        point -= mean;
        reach = std::max(reach, std::max(std::fabs(point.x), std::fabs(point.y)));
    }
    // Each instant adds its share bilinearly around the centre pixel: the kernel's centre of mass is
    // the path's mean, put exactly on the centre pixel (filter2D's anchor).
    const int half = int(std::ceil(reach)) + 1;
    cv::Mat kernel = cv::Mat::zeros(2 * half + 1, 2 * half + 1, CV_32F);
    for (const cv::Point2d& point : path)
    {
        const double x = half + point.x, y = half + point.y;
        const int ix = int(std::floor(x)), iy = int(std::floor(y));
        const float fx = float(x - ix), fy = float(y - iy);
        kernel.at<float>(iy, ix) += (1 - fx) * (1 - fy);
        kernel.at<float>(iy, ix + 1) += fx * (1 - fy);
        kernel.at<float>(iy + 1, ix) += (1 - fx) * fy;
        kernel.at<float>(iy + 1, ix + 1) += fx * fy;
    }
    return kernel / float(steps);
}

void HardCaseRenderer::degrade(const Degradation& degradation, const std::vector<HardCaseMarker>& markers,
                               double size, std::mt19937& random, unsigned noiseSeed, cv::Mat& frame,
                               std::vector<HardCaseMarker>* seen) const
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    cv::Mat image;
    frame.convertTo(image, CV_32F);
    if (degradation.motionBlur > 0)
    {
        const double angle = 2 * kPi * unit(random);
        if (degradation.readoutMs > 0)
        {
            // The sharp picture skewed first: the blur smears each row along the same slide.
            CameraModel shutter;
            shutter.readoutMs = degradation.readoutMs;
            const cv::Point2d motion =
                cv::Point2d(std::cos(angle), std::sin(angle)) * (degradation.motionBlur / kExposureMs);
            image = shutter.skew(image, motion);
            if (seen)
                for (HardCaseMarker& marker : *seen)
                {
                    // The row that shows the marker's centre solves y = c + motion.y * rowTime(y),
                    // rowTime being linear in y.
                    std::vector<cv::Point2d> centre;
                    cv::projectPoints(std::vector<cv::Point3d>{{0.0, 0.0, 0.0}}, marker.rotation,
                                      marker.translation, _camera, cv::noArray(), centre);
                    const double slope = shutter.rowTime(1.0, _height) - shutter.rowTime(0.0, _height);
                    const double start = shutter.rowTime(0.0, _height);
                    const double row = (centre[0].y + motion.y * start) / (1.0 - motion.y * slope);
                    marker = turned(marker, motion * shutter.rowTime(row, _height), size);
                }
        }
        cv::filter2D(image, image, -1,
                     motionBlurKernel(degradation.motionBlur, angle, degradation.shakyBlur, random));
    }
    cv::GaussianBlur(image, image, cv::Size(), kBlurSigma);
    if (degradation.lightFallOff > 0 || degradation.shadowDarkening > 0)
    {
        const double angle = 2 * kPi * unit(random);
        const double dx = std::cos(angle), dy = std::sin(angle);
        // The shadow's edge runs through a marker's centre when there is one, or passes near it.
        const double down = _height * unit(random);
        cv::Point2d through(_width * unit(random), down);
        double side = 0.1 * _width;
        if (!markers.empty())
        {
            const HardCaseMarker& m = markers[random() % markers.size()];
            through = (m.corners[0] + m.corners[2]) * 0.5;
            side = m.side;
        }
        if (degradation.shadowOffset > 0)
            through += cv::Point2d(dx, dy) * ((2 * unit(random) - 1) * degradation.shadowOffset * side);
        // A curved edge: a circle through that point, its centre on the lit side.
        const double radius =
            degradation.shadowRadius > 0 ? degradation.shadowRadius * side * (1 + unit(random)) : 0.0;
        const cv::Point2d centre = through - cv::Point2d(dx, dy) * radius;
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
                    const double distance = radius > 0 ? std::hypot(x - centre.x, y - centre.y) - radius
                                                       : (x - through.x) * dx + (y - through.y) * dy;
                    const double shade = std::min(1.0, std::max(0.0, distance + 0.5));
                    light *= 1.0 - degradation.shadowDarkening * shade;
                }
                row[x] = float(row[x] * light);
            }
        }
    }
    if (degradation.contrast != 1.0)
        image = (image - degradation.contrastCentre) * degradation.contrast + degradation.contrastCentre;
    const uint64 noiseDraw = uint64(random()) + noiseSeed;
    if (degradation.iso < 0)
    {
        image.convertTo(frame, CV_8U);
        return;
    }
    if (degradation.iso > 0)
    {
        image.convertTo(frame, CV_8U);
        CameraModel camera;
        camera.iso = degradation.iso;
        std::mt19937 sensor{unsigned(noiseDraw)};
        frame = camera.capture(frame, sensor);
        return;
    }
    cv::Mat noise(image.size(), CV_32F);
    cv::RNG rng(noiseDraw);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
    image += noise;
    image.convertTo(frame, CV_8U);
}

} // namespace Novaro
