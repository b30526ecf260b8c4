#include "osgART/CameraParameters.h"

#include <opencv2/core.hpp>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

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
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
    {
        setError(error, "cannot open camera file " + fileName);
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    const bool looksLikeText = bytes.size() >= 5 && (std::memcmp(bytes.data(), "%YAML", 5) == 0 ||
                                                     std::memcmp(bytes.data(), "<?xml", 5) == 0);
    if (!looksLikeText && (bytes.size() == kBinarySizeRadial4 || bytes.size() == kBinarySizeBrown))
        return loadBinary(bytes, error);
    return loadOpenCV(fileName, error);
}

bool CameraParameters::loadBinary(const std::vector<unsigned char>& bytes, std::string* error)
{
    CameraParameters camera;
    camera._width = readInt32BigEndian(bytes.data());
    camera._height = readInt32BigEndian(bytes.data() + 4);
    const unsigned char* cursor = bytes.data() + 8;
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

    if (camera._width <= 0 || camera._height <= 0 || camera._width > 100000 || camera._height > 100000)
    {
        setError(error, "camera file has an invalid image size");
        return false;
    }
    if (!allFinite(matrix) || !allFinite(values) || !(camera.fx() > 0.0) || !(camera.fy() > 0.0) ||
        camera._projection[2][2] == 0.0)
    {
        setError(error, "camera file has invalid intrinsics");
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
    *this = camera;
    return true;
}

bool CameraParameters::loadOpenCV(const std::string& fileName, std::string* error)
{
    // OpenCV reports malformed files by exceptions; they stop here.
    try
    {
        cv::FileStorage storage(fileName, cv::FileStorage::READ);
        if (!storage.isOpened())
        {
            setError(error, "camera file is neither an ARToolKit nor an OpenCV calibration file");
            return false;
        }
        cv::Mat matrix;
        cv::Mat coefficients;
        int width = 0;
        int height = 0;
        storage["camera_matrix"] >> matrix;
        storage["distortion_coefficients"] >> coefficients;
        storage["image_width"] >> width;
        storage["image_height"] >> height;
        if (matrix.rows != 3 || matrix.cols != 3 || width <= 0 || height <= 0)
        {
            setError(error, "calibration file lacks camera_matrix, image_width or image_height");
            return false;
        }
        matrix.convertTo(matrix, CV_64F);
        CameraParameters camera =
            fromIntrinsics(width, height, matrix.at<double>(0, 0), matrix.at<double>(1, 1),
                           matrix.at<double>(0, 2), matrix.at<double>(1, 2));
        camera._projection[0][1] = matrix.at<double>(0, 1);
        std::vector<double> intrinsics = {camera.fx(), camera.fy(), camera.cx(), camera.cy(), camera.skew()};
        if (!allFinite(intrinsics) || !(camera.fx() > 0.0) || !(camera.fy() > 0.0))
        {
            setError(error, "calibration file has invalid intrinsics");
            return false;
        }
        std::vector<double> k(8, 0.0);
        if (!coefficients.empty())
        {
            coefficients.convertTo(coefficients, CV_64F);
            coefficients = coefficients.reshape(1, 1);
            if (coefficients.cols < 4)
            {
                setError(error, "calibration file has fewer than 4 distortion coefficients");
                return false;
            }
            for (int i = 0; i < coefficients.cols && i < 8; ++i)
                k[size_t(i)] = coefficients.at<double>(0, i);
        }
        if (!allFinite(k))
        {
            setError(error, "calibration file has invalid distortion coefficients");
            return false;
        }
        camera.setBrownDistortion(k[0], k[1], k[2], k[3], camera.fx(), camera.fy(), camera.cx(), camera.cy(),
                                  1.0, k[4], k[5], k[6], k[7]);
        *this = camera;
        return true;
    }
    catch (const cv::Exception& exception)
    {
        setError(error, std::string("calibration file could not be parsed: ") + exception.what());
        return false;
    }
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

osg::Vec2d CameraParameters::idealToObserved(const osg::Vec2d& ideal) const
{
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
        const double x = (ideal.x() - d[6]) * d[8] / d[4];
        const double y = (ideal.y() - d[7]) * d[8] / d[5];
        const double l = x * x + y * y;
        const double radial =
            (1.0 + l * (d[0] + l * (d[1] + l * d[9]))) / (1.0 + l * (d[10] + l * (d[11] + l * d[12])));
        const double ox = x * radial + 2.0 * d[2] * x * y + d[3] * (l + 2.0 * x * x);
        const double oy = y * radial + d[2] * (l + 2.0 * y * y) + 2.0 * d[3] * x * y;
        return osg::Vec2d(ox * d[4] + d[6], oy * d[5] + d[7]);
    }
    return ideal;
}

osg::Vec2d CameraParameters::observedToIdeal(const osg::Vec2d& observed) const
{
    const std::vector<double>& d = _distortion;
    if (_model == RADIAL4)
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
    if (_model == BROWN)
    {
        const double ox = (observed.x() - d[6]) / d[4];
        const double oy = (observed.y() - d[7]) / d[5];
        double x = ox;
        double y = oy;
        for (int i = 0; i < 30; ++i)
        {
            const double l = x * x + y * y;
            const double radial =
                (1.0 + l * (d[0] + l * (d[1] + l * d[9]))) / (1.0 + l * (d[10] + l * (d[11] + l * d[12])));
            if (std::fabs(radial) < 1e-12)
                break;
            const double nx = (ox - 2.0 * d[2] * x * y - d[3] * (l + 2.0 * x * x)) / radial;
            const double ny = (oy - d[2] * (l + 2.0 * y * y) - 2.0 * d[3] * x * y) / radial;
            const double change = std::fabs(nx - x) + std::fabs(ny - y);
            x = nx;
            y = ny;
            if (change < 1e-12)
                break;
        }
        return osg::Vec2d(x * d[4] / d[8] + d[6], y * d[5] / d[8] + d[7]);
    }
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
