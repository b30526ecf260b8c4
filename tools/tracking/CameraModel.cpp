#include "CameraModel.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Novaro
{

namespace
{

// The linear light of each photosite of an RGGB mosaic: the colour filter of its place keeps one
// channel of the BGR picture.
cv::Mat mosaic(const cv::Mat& linearBgr)
{
    cv::Mat sites(linearBgr.size(), CV_32F);
    for (int y = 0; y < linearBgr.rows; ++y)
    {
        const cv::Vec3f* in = linearBgr.ptr<cv::Vec3f>(y);
        float* out = sites.ptr<float>(y);
        for (int x = 0; x < linearBgr.cols; ++x)
        {
            // Row even: R G R G...; row odd: G B G B... (BGR channel indices 2, 1, 0).
            const int channel = (y % 2 == 0) ? (x % 2 == 0 ? 2 : 1) : (x % 2 == 0 ? 1 : 0);
            out[x] = in[x][channel];
        }
    }
    return sites;
}

// Each photosite's electrons drawn around what its light gives, plus read noise, back to a
// 16-bit linear value of full scale 65535. Poisson by its normal approximation: a photosite here
// collects tens of electrons and more.
cv::Mat expose(const cv::Mat& sites, double fullWell, std::mt19937& random)
{
    cv::Mat electrons = cv::max(sites, 0.0f) * fullWell;
    cv::Mat shot, read(sites.size(), CV_32F), spread(sites.size(), CV_32F);
    // One draw a statement (see RandomDraws.h).
    const uint64 high = random();
    cv::RNG rng(high << 32 | random());
    rng.fill(spread, cv::RNG::NORMAL, 0.0, 1.0);
    rng.fill(read, cv::RNG::NORMAL, 0.0, CameraModel::kReadNoiseElectrons);
    cv::sqrt(electrons, shot);
    const cv::Mat collected = electrons + shot.mul(spread) + read;
    cv::Mat raw;
    collected.convertTo(raw, CV_16U, 65535.0 / fullWell);
    return raw;
}

} // namespace

cv::Mat CameraModel::capture(const cv::Mat& picture, std::mt19937& random) const
{
    cv::Mat bgr;
    if (picture.channels() == 1)
        cv::cvtColor(picture, bgr, cv::COLOR_GRAY2BGR);
    else
        bgr = picture;
    cv::Mat linear;
    bgr.convertTo(linear, CV_32F, 1.0 / 255.0);
    cv::pow(linear, kGamma, linear);

    const double fullWell = kFullWellAtBaseIso * 100.0 / std::max(iso, 1);
    const cv::Mat raw = expose(mosaic(linear), fullWell, random);
    cv::Mat demosaiced;
    // OpenCV names Bayer patterns by the second row's first two sites: RGGB is its "BG".
    cv::demosaicing(raw, demosaiced, cv::COLOR_BayerBG2BGR_EA);

    cv::Mat display;
    demosaiced.convertTo(display, CV_32F, 1.0 / 65535.0);
    cv::max(display, 0.0, display);
    cv::pow(display, 1.0 / kGamma, display);
    cv::Mat taken;
    display.convertTo(taken, CV_8U, 255.0);
    if (jpegQuality > 0)
    {
        std::vector<unsigned char> bytes;
        cv::imencode(".jpg", taken, bytes, {cv::IMWRITE_JPEG_QUALITY, jpegQuality});
        taken = cv::imdecode(bytes, cv::IMREAD_COLOR);
    }
    if (picture.channels() == 1)
        cv::cvtColor(taken, taken, cv::COLOR_BGR2GRAY);
    return taken;
}

double CameraModel::rowTime(double y, int rows) const
{
    return ((y + 0.5) / std::max(rows, 1) - 0.5) * readoutMs;
}

cv::Mat CameraModel::skew(const cv::Mat& picture, const cv::Point2d& motion) const
{
    if (readoutMs <= 0.0 || (motion.x == 0.0 && motion.y == 0.0))
        return picture.clone();
    // Row y shows, at its time t, what lay at (x, y) - motion * t in the picture of the frame's time.
    cv::Mat mapX(picture.size(), CV_32F), mapY(picture.size(), CV_32F);
    for (int y = 0; y < picture.rows; ++y)
    {
        const double t = rowTime(y, picture.rows);
        float* xs = mapX.ptr<float>(y);
        float* ys = mapY.ptr<float>(y);
        for (int x = 0; x < picture.cols; ++x)
        {
            xs[x] = float(x - motion.x * t);
            ys[x] = float(y - motion.y * t);
        }
    }
    cv::Mat skewed;
    cv::remap(picture, skewed, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_REFLECT);
    return skewed;
}

cv::Mat CameraModel::readBands(const std::function<cv::Mat(double)>& sceneAt, int rows, int bands) const
{
    if (readoutMs <= 0.0 || bands < 2)
        return sceneAt(0.0);
    bands = std::min(bands, rows);
    cv::Mat frame;
    for (int band = 0; band < bands; ++band)
    {
        const int top = band * rows / bands, bottom = (band + 1) * rows / bands;
        const cv::Mat scene = sceneAt(rowTime(0.5 * (top + bottom - 1), rows));
        if (frame.empty())
            frame.create(scene.size(), scene.type());
        scene.rowRange(top, bottom).copyTo(frame.rowRange(top, bottom));
    }
    return frame;
}

} // namespace Novaro
