#include "ImageTargetScene.h"

#include "RandomDraws.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

namespace Novaro
{

namespace
{

cv::Scalar randomColour(std::mt19937& random)
{
    std::uniform_int_distribution<int> level(0, 255);
    const int red = level(random), green = level(random);
    return cv::Scalar(level(random), green, red);
}

void drawShape(cv::Mat& picture, std::mt19937& random, double largest)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const cv::Point centre = randomPoint(random, cv::Rect(0, 0, picture.cols, picture.rows));
    // Sizes spread evenly on a log scale, so every pyramid level finds detail.
    const double extent = largest * std::pow(0.03, unit(random));
    const cv::Scalar colour = randomColour(random);
    switch (std::uniform_int_distribution<int>(0, 3)(random))
    {
    case 0:
        cv::rectangle(picture, centre, centre + cv::Point(int(extent), int(extent * (0.3 + unit(random)))),
                      colour, cv::FILLED);
        break;
    case 1:
        cv::circle(picture, centre, std::max(2, int(extent / 2)), colour, cv::FILLED, cv::LINE_AA);
        break;
    case 2:
    {
        std::vector<cv::Point> corners;
        for (int k = 0; k < 3 + int(unit(random) * 3); ++k)
        {
            const int down = int((unit(random) - 0.5) * extent);
            corners.emplace_back(centre.x + int((unit(random) - 0.5) * extent), centre.y + down);
        }
        cv::fillPoly(picture, std::vector<std::vector<cv::Point>>{corners}, colour, cv::LINE_AA);
        break;
    }
    default:
    {
        std::string word;
        for (int k = 0; k < 3 + int(unit(random) * 5); ++k)
            word.push_back(char('A' + int(unit(random) * 26)));
        cv::putText(picture, word, centre, cv::FONT_HERSHEY_DUPLEX, std::max(0.4, extent / 40.0), colour,
                    std::max(1, int(extent / 40.0)), cv::LINE_AA);
        break;
    }
    }
}

} // namespace

cv::Mat makePosterPicture(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    cv::Mat coarse(4, 4, CV_8UC3);
    for (int y = 0; y < coarse.rows; ++y)
        for (int x = 0; x < coarse.cols; ++x)
        {
            const cv::Scalar colour = randomColour(random);
            coarse.at<cv::Vec3b>(y, x) = cv::Vec3b(uchar(colour[0]), uchar(colour[1]), uchar(colour[2]));
        }
    cv::Mat picture;
    cv::resize(coarse, picture, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    const double largest = 0.35 * std::min(width, height);
    const int shapes = std::max(60, width * height / 1500);
    for (int k = 0; k < shapes; ++k)
        drawShape(picture, random, largest);
    return picture;
}

cv::Mat makeRepetitivePicture(int side, int cells, unsigned seed)
{
    const int tileSide = std::max(8, side / std::max(1, cells));
    const cv::Mat tile = makePosterPicture(tileSide, tileSide, seed);
    cv::Mat picture;
    cv::repeat(tile, cells, cells, picture);
    return picture;
}

} // namespace Novaro
