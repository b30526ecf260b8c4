#include "osgART/CameraParameters.h"
#include "CalibrationText.h"
#include "osgART/InputFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>

namespace osgART
{

namespace
{

const size_t kBinarySizeRadial4 = 136;
const size_t kBinarySizeBrown = 176;

int32_t readInt32BigEndian(const unsigned char* bytes)
{
    const uint32_t value = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                           (uint32_t(bytes[2]) << 8) | uint32_t(bytes[3]);
    int32_t result;
    std::memcpy(&result, &value, sizeof(result));
    return result;
}

double readDoubleBigEndian(const unsigned char* bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | bytes[i];
    double result;
    std::memcpy(&result, &value, sizeof(result));
    return result;
}

void writeInt32BigEndian(std::ostream& out, int32_t value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.put(static_cast<char>((bits >> shift) & 0xff));
}

void writeDoubleBigEndian(std::ostream& out, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    for (int shift = 56; shift >= 0; shift -= 8)
        out.put(static_cast<char>((bits >> shift) & 0xff));
}

void setError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

bool allFinite(const std::vector<double>& values)
{
    for (double value : values)
        if (!std::isfinite(value))
            return false;
    return true;
}

// Plausible cameras, from fisheye (focal length a tenth of the image) to long telephoto (fifty
// image widths), with pixels at most four times as wide as high or the reverse.
const double kMinimumFocalShare = 0.1;
const double kMaximumFocalShare = 50.0;
const double kMaximumPixelAspect = 4.0;
// Principal point and distortion centre may lie this share of the image size outside the image.
const double kCentreMargin = 0.25;
// Ideal points of the image's border may lie this many image sizes from the distortion centre (a
// 170-degree lens reaches about 11 focal lengths).
const double kMaximumIdealReach = 20.0;
// Points checked on each ray from the distortion centre to the border, and the error allowed when
// undistorting and distorting them again, pixels.
const int kDistortionSteps = 16;
const double kMaximumRoundTripError = 0.5;

// The Brown model on normalised coordinates (already scaled by s / f): the distorted point.
osg::Vec2d brownNormalised(const std::vector<double>& d, const osg::Vec2d& p)
{
    const double x = p.x();
    const double y = p.y();
    const double l = x * x + y * y;
    const double radial =
        (1.0 + l * (d[0] + l * (d[1] + l * d[9]))) / (1.0 + l * (d[10] + l * (d[11] + l * d[12])));
    return osg::Vec2d(x * radial + 2.0 * d[2] * x * y + d[3] * (l + 2.0 * x * x),
                      y * radial + d[2] * (l + 2.0 * y * y) + 2.0 * d[3] * x * y);
}

// Its derivatives at p: the columns d/dx and d/dy of the distorted point.
void brownNormalisedDerivatives(const std::vector<double>& d, const osg::Vec2d& p, osg::Vec2d& alongX,
                                osg::Vec2d& alongY)
{
    const double x = p.x();
    const double y = p.y();
    const double l = x * x + y * y;
    const double numerator = 1.0 + l * (d[0] + l * (d[1] + l * d[9]));
    const double denominator = 1.0 + l * (d[10] + l * (d[11] + l * d[12]));
    const double radial = numerator / denominator;
    // d(radial)/dl by the quotient rule.
    const double slope = ((d[0] + l * (2.0 * d[1] + 3.0 * l * d[9])) * denominator -
                          numerator * (d[10] + l * (2.0 * d[11] + 3.0 * l * d[12]))) /
                         (denominator * denominator);
    const double cross = 2.0 * x * y * slope + 2.0 * d[2] * x + 2.0 * d[3] * y;
    alongX.set(radial + 2.0 * x * x * slope + 2.0 * d[2] * y + 6.0 * d[3] * x, cross);
    alongY.set(cross, radial + 2.0 * y * y * slope + 6.0 * d[2] * y + 2.0 * d[3] * x);
}

bool insideMargin(double x, double y, int width, int height)
{
    return x >= -kCentreMargin * width && x <= (1.0 + kCentreMargin) * width &&
           y >= -kCentreMargin * height && y <= (1.0 + kCentreMargin) * height;
}

} // namespace

CameraParameters::CameraParameters() : _width(0), _height(0), _projection{}, _model(NONE) {}

CameraParameters CameraParameters::fromIntrinsics(int width, int height, double fx, double fy, double cx,
                                                  double cy)
{
    CameraParameters camera;
    camera._width = width;
    camera._height = height;
    camera._projection[0][0] = fx;
    camera._projection[0][2] = cx;
    camera._projection[1][1] = fy;
    camera._projection[1][2] = cy;
    camera._projection[2][2] = 1.0;
    return camera;
}

void CameraParameters::setRadial4Distortion(double centreX, double centreY, double factor, double scale)
{
    _model = RADIAL4;
    _distortion = {centreX, centreY, factor, scale};
}

void CameraParameters::setBrownDistortion(double k1, double k2, double p1, double p2, double fx, double fy,
                                          double x0, double y0, double s, double k3, double k4, double k5,
                                          double k6)
{
    _model = BROWN;
    _distortion = {k1, k2, p1, p2, fx, fy, x0, y0, s, k3, k4, k5, k6};
}

bool CameraParameters::load(const std::string& fileName, std::string* error)
{
    std::string bytes;
    std::string reason;
    if (!readBoundedFile(fileName, kMaximumCalibrationBytes, bytes, reason))
    {
        setError(error, "cannot read camera file: " + reason);
        return false;
    }
    const bool looksLikeText = bytes.compare(0, 5, "%YAML") == 0 || bytes.compare(0, 5, "<?xml") == 0;
    if (!looksLikeText && (bytes.size() == kBinarySizeRadial4 || bytes.size() == kBinarySizeBrown))
        return loadBinary(bytes, error);
    return loadOpenCV(bytes, error);
}

bool CameraParameters::loadBinary(const std::string& bytes, std::string* error)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    CameraParameters camera;
    camera._width = readInt32BigEndian(data);
    camera._height = readInt32BigEndian(data + 4);
    const unsigned char* cursor = data + 8;
    std::vector<double> matrix;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column, cursor += 8)
        {
            camera._projection[row][column] = readDoubleBigEndian(cursor);
            matrix.push_back(camera._projection[row][column]);
        }
    const size_t count = bytes.size() == kBinarySizeRadial4 ? 4 : 9;
    std::vector<double> values;
    for (size_t i = 0; i < count; ++i, cursor += 8)
        values.push_back(readDoubleBigEndian(cursor));

    if (!allFinite(matrix) || !allFinite(values))
    {
        setError(error, "camera file holds values that are not finite numbers");
        return false;
    }
    if (count == 4)
    {
        if (values[3] == 0.0)
        {
            setError(error, "camera file has a zero distortion scale");
            return false;
        }
        camera.setRadial4Distortion(values[0], values[1], values[2], values[3]);
    }
    else
    {
        if (values[4] == 0.0 || values[5] == 0.0 || values[8] == 0.0)
        {
            setError(error, "camera file has invalid distortion factors");
            return false;
        }
        camera.setBrownDistortion(values[0], values[1], values[2], values[3], values[4], values[5], values[6],
                                  values[7], values[8]);
    }
    const std::string implausible = camera.implausibility();
    if (!implausible.empty())
    {
        setError(error, implausible);
        return false;
    }
    *this = camera;
    return true;
}

bool CameraParameters::loadOpenCV(const std::string& bytes, std::string* error)
{
    // A UTF-8 byte-order mark says nothing the readers need, and hid the XML declaration.
    const std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    // Both depths bound the text, whichever reader it goes to: a text taken for one format by this
    // test and for the other by a parser must not slip through the other's count.
    if (std::max(xmlNestingDepth(text), yamlNestingDepth(text)) > kMaximumCalibrationNesting)
    {
        setError(error, "calibration file nests deeper than " + std::to_string(kMaximumCalibrationNesting) +
                            " levels");
        return false;
    }
    Calibration calibration;
    std::string reason;
    if (!readCalibrationText(text, calibration, reason))
    {
        setError(error, reason);
        return false;
    }
    const std::vector<double>& m = calibration.matrix;
    CameraParameters camera = fromIntrinsics(calibration.width, calibration.height, m[0], m[4], m[2], m[5]);
    camera._projection[0][1] = m[1];
    if (!allFinite(m))
    {
        setError(error, "calibration file has intrinsics that are not finite numbers");
        return false;
    }
    std::vector<double> k(8, 0.0);
    if (!calibration.coefficients.empty())
    {
        if (calibration.coefficients.size() < 4)
        {
            setError(error, "calibration file has fewer than 4 distortion coefficients");
            return false;
        }
        for (size_t i = 0; i < calibration.coefficients.size() && i < 8; ++i)
            k[i] = calibration.coefficients[i];
    }
    if (!allFinite(k))
    {
        setError(error, "calibration file has distortion coefficients that are not finite numbers");
        return false;
    }
    camera.setBrownDistortion(k[0], k[1], k[2], k[3], camera.fx(), camera.fy(), camera.cx(), camera.cy(), 1.0,
                              k[4], k[5], k[6], k[7]);
    const std::string implausible = camera.implausibility();
    if (!implausible.empty())
    {
        setError(error, implausible);
        return false;
    }
    *this = camera;
    return true;
}

std::string CameraParameters::implausibility() const
{
    std::ostringstream reason;
    if (_width < kMinimumImageSide || _height < kMinimumImageSide || _width > kMaximumImageSide ||
        _height > kMaximumImageSide)
    {
        reason << "image size " << _width << "x" << _height << " is outside " << kMinimumImageSide << ".."
               << kMaximumImageSide << " pixels";
        return reason.str();
    }
    const double(&p)[3][4] = _projection;
    for (const auto& row : p)
        for (double value : row)
            if (!std::isfinite(value))
                return "projection matrix holds values that are not finite numbers";
    if (p[2][0] != 0.0 || p[2][1] != 0.0 || !(p[2][2] > 0.0))
        return "projection matrix's last row is not 0 0 s with s > 0";
    const double side = std::max(_width, _height);
    const double focalX = p[0][0] / p[2][2];
    const double focalY = p[1][1] / p[2][2];
    if (!(focalX >= kMinimumFocalShare * side && focalX <= kMaximumFocalShare * side &&
          focalY >= kMinimumFocalShare * side && focalY <= kMaximumFocalShare * side) ||
        focalX > kMaximumPixelAspect * focalY || focalY > kMaximumPixelAspect * focalX)
    {
        reason << "focal lengths " << focalX << " and " << focalY << " pixels do not suit a " << _width << "x"
               << _height << " image";
        return reason.str();
    }
    if (!insideMargin(p[0][2] / p[2][2], p[1][2] / p[2][2], _width, _height))
    {
        reason << "principal point (" << p[0][2] / p[2][2] << ", " << p[1][2] / p[2][2]
               << ") lies outside the " << _width << "x" << _height << " image";
        return reason.str();
    }
    return distortionImplausibility();
}

std::string CameraParameters::distortionImplausibility() const
{
    const std::vector<double>& d = _distortion;
    if (_model == NONE)
        return std::string();
    if (!allFinite(d))
        return "distortion holds values that are not finite numbers";
    const osg::Vec2d centre = _model == RADIAL4 ? osg::Vec2d(d[0], d[1]) : osg::Vec2d(d[6], d[7]);
    if (!insideMargin(centre.x(), centre.y(), _width, _height))
        return "distortion centre lies outside the image";
    if (_model == BROWN && !(d[4] >= kMinimumFocalShare * std::max(_width, _height) &&
                             d[5] >= kMinimumFocalShare * std::max(_width, _height) && d[8] > 0.0))
        return "distortion focal lengths or scale do not suit the image";
    // The detector maps observed border points to ideal ones and samples back: both directions must
    // stay finite and order points along every ray from the centre to the image border.
    const double right = _width - 1.0;
    const double bottom = _height - 1.0;
    const double far = kMaximumIdealReach * std::max(_width, _height);
    const osg::Vec2d border[8] = {{0, 0},          {right / 2, 0},      {right, 0},  {right, bottom / 2},
                                  {right, bottom}, {right / 2, bottom}, {0, bottom}, {0, bottom / 2}};
    for (const osg::Vec2d& end : border)
    {
        double previousRadius = 0.0;
        for (int step = 1; step <= kDistortionSteps; ++step)
        {
            const osg::Vec2d observed = centre + (end - centre) * (double(step) / kDistortionSteps);
            if ((observed - centre).length() < 1.0)
                continue;
            const osg::Vec2d ideal = observedToIdeal(observed);
            const double radius = (ideal - centre).length();
            const osg::Vec2d back = idealToObserved(ideal);
            std::ostringstream at;
            at << " at image point (" << observed.x() << ", " << observed.y() << ")";
            if (!std::isfinite(radius) || radius > far)
                return "distortion sends points out of reach" + at.str();
            if (!(radius > previousRadius))
                return "distortion folds the image" + at.str();
            if (!((back - observed).length() <= kMaximumRoundTripError))
                return "distortion cannot be undone" + at.str();
            previousRadius = radius;
        }
    }
    return std::string();
}

bool CameraParameters::saveBinary(const std::string& fileName) const
{
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    writeInt32BigEndian(out, _width);
    writeInt32BigEndian(out, _height);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            writeDoubleBigEndian(out, _projection[row][column]);
    if (_model == BROWN)
    {
        for (size_t i = 0; i < 9; ++i)
            writeDoubleBigEndian(out, _distortion[i]);
    }
    else if (_model == RADIAL4)
    {
        for (size_t i = 0; i < 4; ++i)
            writeDoubleBigEndian(out, _distortion[i]);
    }
    else
    {
        // No distortion: centre anywhere, factor 0, scale 1.
        for (double value : {cx(), cy(), 0.0, 1.0})
            writeDoubleBigEndian(out, value);
    }
    return bool(out);
}

CameraParameters CameraParameters::scaled(int width, int height) const
{
    if (width <= 0 || height <= 0 || _width <= 0 || _height <= 0 || (width == _width && height == _height))
        return *this;
    const double sx = double(width) / double(_width);
    const double sy = double(height) / double(_height);
    // Pixel centres sit at integer coordinates: u' = (u + 0.5) * sx - 0.5.
    auto scaleX = [sx](double u) { return (u + 0.5) * sx - 0.5; };
    auto scaleY = [sy](double v) { return (v + 0.5) * sy - 0.5; };
    CameraParameters result(*this);
    result._width = width;
    result._height = height;
    for (int column = 0; column < 4; ++column)
    {
        result._projection[0][column] =
            sx * _projection[0][column] + 0.5 * (sx - 1.0) * _projection[2][column];
        result._projection[1][column] =
            sy * _projection[1][column] + 0.5 * (sy - 1.0) * _projection[2][column];
    }
    std::vector<double>& d = result._distortion;
    if (_model == RADIAL4)
    {
        d[0] = scaleX(d[0]);
        d[1] = scaleY(d[1]);
        d[2] = d[2] / (sx * sy);
    }
    else if (_model == BROWN)
    {
        d[4] *= sx;
        d[5] *= sy;
        d[6] = scaleX(d[6]);
        d[7] = scaleY(d[7]);
    }
    return result;
}

bool CameraParameters::distorts() const
{
    const std::vector<double>& d = _distortion;
    if (_model == RADIAL4)
        return !(d[2] == 0.0 && d[3] == 1.0);
    if (_model == BROWN)
    {
        // k1, k2, p1, p2 and k3 to k6 all zero, and the scale one.
        for (size_t i : {0, 1, 2, 3, 9, 10, 11, 12})
            if (d[i] != 0.0)
                return true;
        return d[8] != 1.0;
    }
    return false;
}

osg::Vec2d CameraParameters::idealToObserved(const osg::Vec2d& ideal) const
{
    if (!distorts())
        return ideal;
    const std::vector<double>& d = _distortion;
    if (_model == RADIAL4)
    {
        const double x = d[3] * (ideal.x() - d[0]);
        const double y = d[3] * (ideal.y() - d[1]);
        const double factor = 1.0 - d[2] * 1e-8 * (x * x + y * y);
        return osg::Vec2d(d[0] + factor * x, d[1] + factor * y);
    }
    if (_model == BROWN)
    {
        const osg::Vec2d o = brownNormalised(
            d, osg::Vec2d((ideal.x() - d[6]) * d[8] / d[4], (ideal.y() - d[7]) * d[8] / d[5]));
        return osg::Vec2d(o.x() * d[4] + d[6], o.y() * d[5] + d[7]);
    }
    return ideal;
}

namespace
{

// The ideal point of an observed one under the four-parameter radial model (d: centre x, y, the
// cubic coefficient in units of 1e-8 and the scale).
osg::Vec2d radial4ObservedToIdeal(const std::vector<double>& d, const osg::Vec2d& observed)
{
    // Along the ray from the centre: observed radius r = q - a q^3 with q the scaled ideal radius.
    const double dx = observed.x() - d[0];
    const double dy = observed.y() - d[1];
    const double r = std::sqrt(dx * dx + dy * dy);
    if (r < 1e-12)
        return observed;
    const double a = d[2] * 1e-8;
    double q = r;
    for (int i = 0; i < 20; ++i)
    {
        const double slope = 1.0 - 3.0 * a * q * q;
        if (std::fabs(slope) < 1e-12)
            break;
        const double step = (q - a * q * q * q - r) / slope;
        q -= step;
        if (std::fabs(step) < 1e-10)
            break;
    }
    const double ratio = q / d[3] / r;
    return osg::Vec2d(d[0] + dx * ratio, d[1] + dy * ratio);
}

// The ideal point of an observed one under the Brown model (d as brownNormalised() reads it, with
// focal lengths, principal point and scale in d[4] to d[8]).
osg::Vec2d brownObservedToIdeal(const std::vector<double>& d, const osg::Vec2d& observed)
{
    // Newton's method on the normalised distortion, with the step halved while it does not bring
    // the point closer: plain fixed-point iteration diverges for wide-angle lenses near the corners.
    const osg::Vec2d target((observed.x() - d[6]) / d[4], (observed.y() - d[7]) / d[5]);
    auto residual = [&](const osg::Vec2d& p) { return brownNormalised(d, p) - target; };
    osg::Vec2d point = target;
    osg::Vec2d error = residual(point);
    for (int i = 0; i < 50 && error.length() > 1e-14; ++i)
    {
        osg::Vec2d dx, dy;
        brownNormalisedDerivatives(d, point, dx, dy);
        const double determinant = dx.x() * dy.y() - dy.x() * dx.y();
        if (!(std::fabs(determinant) > 1e-300))
            break;
        osg::Vec2d step((error.x() * dy.y() - dy.x() * error.y()) / determinant,
                        (dx.x() * error.y() - error.x() * dx.y()) / determinant);
        bool improved = false;
        for (int halving = 0; halving < 30 && !improved; ++halving, step *= 0.5)
        {
            const osg::Vec2d candidate = point - step;
            const osg::Vec2d candidateError = residual(candidate);
            if (candidateError.length() < error.length())
            {
                point = candidate;
                error = candidateError;
                improved = true;
            }
        }
        if (!improved)
            break;
    }
    const double x = point.x();
    const double y = point.y();
    return osg::Vec2d(x * d[4] / d[8] + d[6], y * d[5] / d[8] + d[7]);
}

} // namespace

osg::Vec2d CameraParameters::observedToIdeal(const osg::Vec2d& observed) const
{
    if (!distorts())
        return observed;
    if (_model == RADIAL4)
        return radial4ObservedToIdeal(_distortion, observed);
    if (_model == BROWN)
        return brownObservedToIdeal(_distortion, observed);
    return observed;
}

osg::Matrixd CameraParameters::openGLProjection(double nearPlane, double farPlane) const
{
    const double w = _width > 0 ? double(_width) : 1.0;
    const double h = _height > 0 ? double(_height) : 1.0;
    const double scale = _projection[2][2] != 0.0 ? _projection[2][2] : 1.0;
    const double focalX = fx() / scale;
    const double focalY = fy() / scale;
    const double skewValue = skew() / scale;
    const double centreX = cx() / scale;
    const double centreY = cy() / scale;
    // Column-vector form; OpenGL camera looks down -z with y up, image rows run downwards.
    const double p[4][4] = {{2.0 * focalX / w, -2.0 * skewValue / w, 1.0 - 2.0 * (centreX + 0.5) / w, 0.0},
                            {0.0, 2.0 * focalY / h, 2.0 * (centreY + 0.5) / h - 1.0, 0.0},
                            {0.0, 0.0, -(farPlane + nearPlane) / (farPlane - nearPlane),
                             -2.0 * farPlane * nearPlane / (farPlane - nearPlane)},
                            {0.0, 0.0, -1.0, 0.0}};
    osg::Matrixd result;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            result(column, row) = p[row][column];
    return result;
}

} // namespace osgART
