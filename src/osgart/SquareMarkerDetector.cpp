#include "osgART/SquareMarkerDetector.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace osgART
{

namespace
{

const int kCells = Pattern::kSize;
const double kMinimumSide = 10.0;         // processing pixels
const double kBorderMargin = 2.0;         // quads this close to the frame edge are cut off
const double kMinimumEdgeContrast = 12.0; // grey levels between border and paper along a normal
const double kMinimumDarkRing = 0.8;      // share of border samples that must be dark

// Clamped into 0..maximum; NaN becomes 0, so that no coordinate reaches int() unbounded.
inline double clampCoordinate(double value, double maximum)
{
    return value >= 0.0 ? std::min(value, maximum) : 0.0;
}

inline bool allFinite(const std::array<osg::Vec2d, 4>& points)
{
    for (const osg::Vec2d& point : points)
        if (!std::isfinite(point.x()) || !std::isfinite(point.y()))
            return false;
    return true;
}

inline float sampleBilinear(const cv::Mat& grey, double x, double y)
{
    x = clampCoordinate(x, grey.cols - 1.001);
    y = clampCoordinate(y, grey.rows - 1.001);
    const int ix = int(x);
    const int iy = int(y);
    const float fx = float(x - ix);
    const float fy = float(y - iy);
    const unsigned char* row0 = grey.ptr<unsigned char>(iy) + ix;
    const unsigned char* row1 = row0 + grey.step[0];
    const float top = row0[0] + fx * (float(row0[1]) - float(row0[0]));
    const float bottom = row1[0] + fx * (float(row1[1]) - float(row1[0]));
    return top + fy * (bottom - top);
}

// Maps the unit square (0,0) (1,0) (1,1) (0,1) onto a quadrilateral.
struct SquareHomography
{
    double a, b, c, d, e, f, g, h;

    bool set(const std::array<osg::Vec2d, 4>& p)
    {
        const double dx1 = p[1].x() - p[2].x(), dx2 = p[3].x() - p[2].x();
        const double dx3 = p[0].x() - p[1].x() + p[2].x() - p[3].x();
        const double dy1 = p[1].y() - p[2].y(), dy2 = p[3].y() - p[2].y();
        const double dy3 = p[0].y() - p[1].y() + p[2].y() - p[3].y();
        const double denominator = dx1 * dy2 - dx2 * dy1;
        if (std::fabs(denominator) < 1e-12)
            return false;
        g = (dx3 * dy2 - dx2 * dy3) / denominator;
        h = (dx1 * dy3 - dx3 * dy1) / denominator;
        a = p[1].x() - p[0].x() + g * p[1].x();
        b = p[3].x() - p[0].x() + h * p[3].x();
        c = p[0].x();
        d = p[1].y() - p[0].y() + g * p[1].y();
        e = p[3].y() - p[0].y() + h * p[3].y();
        f = p[0].y();
        return true;
    }

    osg::Vec2d map(double u, double v) const
    {
        const double w = g * u + h * v + 1.0;
        return osg::Vec2d((a * u + b * v + c) / w, (d * u + e * v + f) / w);
    }
};

struct Line
{
    osg::Vec2d point;
    osg::Vec2d direction;
};

bool fitLine(const std::vector<osg::Vec2d>& points, Line& line)
{
    if (points.size() < 2)
        return false;
    osg::Vec2d mean;
    for (const osg::Vec2d& p : points)
        mean += p;
    mean /= double(points.size());
    double sxx = 0, sxy = 0, syy = 0;
    for (const osg::Vec2d& p : points)
    {
        const osg::Vec2d q = p - mean;
        sxx += q.x() * q.x();
        sxy += q.x() * q.y();
        syy += q.y() * q.y();
    }
    // Direction of largest spread: eigenvector of the 2x2 scatter matrix.
    const double angle = 0.5 * std::atan2(2.0 * sxy, sxx - syy);
    line.point = mean;
    line.direction.set(std::cos(angle), std::sin(angle));
    return true;
}

bool intersect(const Line& first, const Line& second, osg::Vec2d& point)
{
    const double cross =
        first.direction.x() * second.direction.y() - first.direction.y() * second.direction.x();
    if (std::fabs(cross) < 1e-6)
        return false;
    const osg::Vec2d delta = second.point - first.point;
    const double t = (delta.x() * second.direction.y() - delta.y() * second.direction.x()) / cross;
    point = first.point + first.direction * t;
    return true;
}

inline osg::Vec2d toVideo(double x, double y, int scale)
{
    const double offset = 0.5 * (scale - 1);
    return osg::Vec2d(x * scale + offset, y * scale + offset);
}

inline osg::Vec2d toProcessing(const osg::Vec2d& video, int scale)
{
    const double offset = 0.5 * (scale - 1);
    return osg::Vec2d((video.x() - offset) / scale, (video.y() - offset) / scale);
}

} // namespace

SquareMarkerDetector::SquareMarkerDetector() : _threshold(100), _minimumConfidence(0.8), _candidateCount(0) {}

int SquareMarkerDetector::addPattern(const Pattern& pattern)
{
    std::array<std::array<float, 256>, 4> normalised;
    for (int orientation = 0; orientation < 4; ++orientation)
    {
        std::array<float, 256>& values = normalised[size_t(orientation)];
        double sum = 0.0;
        for (int row = 0; row < kCells; ++row)
            for (int column = 0; column < kCells; ++column)
            {
                values[size_t(row * kCells + column)] = pattern.grey(orientation, row, column);
                sum += values[size_t(row * kCells + column)];
            }
        const float mean = float(sum / 256.0);
        double squares = 0.0;
        for (float& value : values)
        {
            value -= mean;
            squares += double(value) * value;
        }
        // A flat pattern cannot be told from paper: its vector stays zero and never matches.
        const float norm = squares > 1e-6 ? float(1.0 / std::sqrt(squares)) : 0.0f;
        for (float& value : values)
            value *= norm;
    }
    _patterns.push_back(normalised);
    return int(_patterns.size()) - 1;
}

bool SquareMarkerDetector::refineCorners(const cv::Mat& grey, int scale,
                                         const std::array<cv::Point2f, 4>& approximate,
                                         std::array<osg::Vec2d, 4>& ideal) const
{
    std::array<Line, 4> lines;
    std::array<bool, 4> fitted{};
    std::vector<osg::Vec2d> points;
    std::vector<float> profile;
    for (int side = 0; side < 4; ++side)
    {
        const osg::Vec2d a(approximate[size_t(side)].x, approximate[size_t(side)].y);
        const osg::Vec2d b(approximate[size_t((side + 1) % 4)].x, approximate[size_t((side + 1) % 4)].y);
        osg::Vec2d direction = b - a;
        const double length = direction.length();
        if (length < 1e-6)
            return false;
        direction /= length;
        // Corners run clockwise on screen (y down), so this normal points out of the marker.
        const osg::Vec2d normal(direction.y(), -direction.x());
        const int samples = std::min(16, std::max(3, int(length / 4.0)));
        const int reach = std::max(3, int(std::ceil(0.03 * length)));
        points.clear();
        profile.resize(size_t(2 * reach + 1));
        for (int k = 0; k < samples; ++k)
        {
            const double t = 0.12 + 0.76 * (k + 0.5) / samples;
            const osg::Vec2d centre = a + (b - a) * t;
            float darkest = 255.0f, brightest = 0.0f;
            for (int s = -reach; s <= reach; ++s)
            {
                const osg::Vec2d p = centre + normal * double(s);
                const float value = sampleBilinear(grey, p.x(), p.y());
                profile[size_t(s + reach)] = value;
                darkest = std::min(darkest, value);
                brightest = std::max(brightest, value);
            }
            if (brightest - darkest < kMinimumEdgeContrast)
                continue;
            const float level = 0.5f * (darkest + brightest);
            // The dark-to-bright crossing nearest to the approximate edge.
            double best = 1e9;
            bool found = false;
            for (int s = -reach; s < reach; ++s)
            {
                const float v0 = profile[size_t(s + reach)];
                const float v1 = profile[size_t(s + reach + 1)];
                if (v0 < level && v1 >= level)
                {
                    const double position = s + double(level - v0) / double(v1 - v0);
                    if (std::fabs(position) < std::fabs(best))
                    {
                        best = position;
                        found = true;
                    }
                }
            }
            if (!found)
                continue;
            const osg::Vec2d edge = centre + normal * best;
            points.push_back(_camera.observedToIdeal(toVideo(edge.x(), edge.y(), scale)));
        }
        if (points.size() >= 3)
            fitted[size_t(side)] = fitLine(points, lines[size_t(side)]);
    }
    // A refined corner far from the contour's corner means a side was fitted to something else.
    const double perimeter =
        double(cv::norm(approximate[0] - approximate[1]) + cv::norm(approximate[1] - approximate[2]) +
               cv::norm(approximate[2] - approximate[3]) + cv::norm(approximate[3] - approximate[0]));
    const double tolerance = scale * std::max(4.0, 0.04 * perimeter);
    for (int corner = 0; corner < 4; ++corner)
    {
        const osg::Vec2d rough = _camera.observedToIdeal(
            toVideo(approximate[size_t(corner)].x, approximate[size_t(corner)].y, scale));
        const int previous = (corner + 3) % 4;
        osg::Vec2d refined;
        if (fitted[size_t(previous)] && fitted[size_t(corner)] &&
            intersect(lines[size_t(previous)], lines[size_t(corner)], refined) &&
            (refined - rough).length() < tolerance)
            ideal[size_t(corner)] = refined;
        else
            ideal[size_t(corner)] = rough;
    }
    // A camera model that sends corners to infinity leaves nothing to sample or to pose.
    return allFinite(ideal);
}

bool SquareMarkerDetector::samplePattern(const cv::Mat& grey, int scale,
                                         const std::array<osg::Vec2d, 4>& ideal,
                                         std::array<float, 256>& samples) const
{
    SquareHomography homography;
    if (!homography.set(ideal))
        return false;
    const bool distorted = _camera.distortionModel() != CameraParameters::NONE;
    auto sampleAt = [&](double u, double v)
    {
        osg::Vec2d point = homography.map(u, v);
        if (distorted)
            point = _camera.idealToObserved(point);
        point = toProcessing(point, scale);
        return sampleBilinear(grey, point.x(), point.y());
    };

    // The border ring (between the outer edge and the pattern) must be dark.
    int dark = 0;
    const int ringSamples = 8;
    for (int k = 0; k < ringSamples; ++k)
    {
        const double t = 0.125 + 0.75 * (k + 0.5) / ringSamples;
        const float values[4] = {sampleAt(t, 0.125), sampleAt(0.875, t), sampleAt(t, 0.875),
                                 sampleAt(0.125, t)};
        for (float value : values)
            if (value < _threshold)
                ++dark;
    }
    if (dark < kMinimumDarkRing * 4 * ringSamples)
        return false;

    // Sub-samples per cell grow with the size of a cell on screen, up to 3 x 3.
    const double side = (ideal[0] - ideal[2]).length() / std::sqrt(2.0) / scale;
    const double cellPixels = side * 0.5 / kCells;
    // Clamped as a double: a far-off corner must not overflow the conversion.
    const int perCell = int(std::min(3.0, std::max(1.0, cellPixels / 2.5)));
    const double step = 0.5 / kCells;
    for (int row = 0; row < kCells; ++row)
        for (int column = 0; column < kCells; ++column)
        {
            float sum = 0.0f;
            for (int sy = 0; sy < perCell; ++sy)
                for (int sx = 0; sx < perCell; ++sx)
                    sum += sampleAt(0.25 + step * (column + (sx + 0.5) / perCell),
                                    0.25 + step * (row + (sy + 0.5) / perCell));
            samples[size_t(row * kCells + column)] = sum / float(perCell * perCell);
        }
    return true;
}

void SquareMarkerDetector::detect(const cv::Mat& grey, int scale, std::vector<DetectedSquare>& detections)
{
    detections.clear();
    _candidateCount = 0;
    if (grey.empty() || grey.type() != CV_8UC1 || scale < 1)
        return;

    // Pixels darker than the threshold become 255.
    cv::threshold(grey, _binary, std::max(0, _threshold - 1), 255, cv::THRESH_BINARY_INV);
    _contours.clear();
    _hierarchy.clear();
    cv::findContours(_binary, _contours, _hierarchy, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);

    std::vector<DetectedSquare> best(_patterns.size());
    std::vector<cv::Point> polygon;
    std::array<float, 256> samples;
    const double maxX = grey.cols - 1 - kBorderMargin;
    const double maxY = grey.rows - 1 - kBorderMargin;
    for (size_t i = 0; i < _contours.size(); ++i)
    {
        if (_hierarchy[i][3] >= 0)
            continue; // a hole, not the outline of a dark region
        const std::vector<cv::Point>& contour = _contours[i];
        if (contour.size() < 4)
            continue;
        const cv::Rect bounds = cv::boundingRect(contour);
        if (bounds.width < kMinimumSide || bounds.height < kMinimumSide)
            continue;
        if (bounds.x < kBorderMargin || bounds.y < kBorderMargin || bounds.x + bounds.width - 1 > maxX ||
            bounds.y + bounds.height - 1 > maxY)
            continue;
        const double perimeter = cv::arcLength(contour, true);
        cv::approxPolyDP(contour, polygon, 0.04 * perimeter, true);
        if (polygon.size() != 4 || !cv::isContourConvex(polygon))
            continue;
        const double area = cv::contourArea(polygon, true);
        if (std::fabs(area) < kMinimumSide * kMinimumSide)
            continue;
        // Squares seen in perspective keep a sizeable area for their outline.
        if (std::fabs(area) < 0.02 * perimeter * perimeter)
            continue;
        std::array<cv::Point2f, 4> corners;
        for (int k = 0; k < 4; ++k)
            corners[size_t(k)] = polygon[size_t(k)];
        // Clockwise on screen (positive area with y down).
        if (area < 0)
            std::swap(corners[1], corners[3]);
        ++_candidateCount;

        std::array<osg::Vec2d, 4> ideal;
        if (!refineCorners(grey, scale, corners, ideal))
            continue;
        if (!samplePattern(grey, scale, ideal, samples))
            continue;

        double mean = 0.0;
        for (float value : samples)
            mean += value;
        mean /= 256.0;
        double squares = 0.0;
        for (float& value : samples)
        {
            value = float(value - mean);
            squares += double(value) * value;
        }
        if (squares < 1e-6)
            continue;
        const float norm = float(1.0 / std::sqrt(squares));

        int bestPattern = -1;
        int bestOrientation = 0;
        double bestScore = -1.0;
        for (size_t p = 0; p < _patterns.size(); ++p)
            for (int orientation = 0; orientation < 4; ++orientation)
            {
                const std::array<float, 256>& reference = _patterns[p][size_t(orientation)];
                float dot = 0.0f;
                for (size_t k = 0; k < 256; ++k)
                    dot += samples[k] * reference[k];
                const double score = double(dot * norm);
                if (score > bestScore)
                {
                    bestScore = score;
                    bestPattern = int(p);
                    bestOrientation = orientation;
                }
            }
        if (bestPattern < 0 || bestScore < _minimumConfidence)
            continue;
        DetectedSquare& slot = best[size_t(bestPattern)];
        if (bestScore <= slot.confidence)
            continue;
        // The sample matched the pattern turned counter-clockwise bestOrientation times: the upright
        // pattern's corner j sits at sampled corner j - orientation.
        DetectedSquare found;
        found.pattern = bestPattern;
        found.confidence = std::min(1.0, bestScore);
        for (int j = 0; j < 4; ++j)
        {
            found.ideal[size_t(j)] = ideal[size_t((j - bestOrientation + 4) % 4)];
            found.observed[size_t(j)] = _camera.idealToObserved(found.ideal[size_t(j)]);
        }
        if (allFinite(found.observed))
            slot = found;
    }
    for (const DetectedSquare& detection : best)
        if (detection.pattern >= 0)
            detections.push_back(detection);
}

} // namespace osgART
