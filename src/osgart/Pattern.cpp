#include "osgART/Pattern.h"
#include "osgART/InputFiles.h"

#include <opencv2/imgproc.hpp>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace osgART
{

Pattern::Pattern()
{
    for (Block& block : _blocks)
        for (auto& plane : block)
            for (auto& row : plane)
                row.fill(255);
}

bool Pattern::load(const std::string& fileName, std::string* error)
{
    // 3072 values of up to three digits: some 12 kB; leading zeros and blanks may take more.
    const std::size_t maximumBytes = 256 * 1024;
    std::string content;
    std::string reason;
    if (!readBoundedFile(fileName, maximumBytes, content, reason))
    {
        if (error)
            *error = "cannot read pattern file " + fileName + ": " + reason;
        return false;
    }
    std::istringstream in(content);
    std::array<Block, kOrientations> blocks;
    std::string token;
    for (Block& block : blocks)
        for (auto& plane : block)
            for (auto& row : plane)
                for (unsigned char& value : row)
                {
                    if (!(in >> token))
                    {
                        if (error)
                            *error = "pattern file " + fileName + " ends early";
                        return false;
                    }
                    char* end = nullptr;
                    errno = 0;
                    const long number = std::strtol(token.c_str(), &end, 10);
                    if (errno != 0 || end == token.c_str() || *end != '\0' || number < 0 || number > 255)
                    {
                        if (error)
                            *error = "pattern file " + fileName + " holds an invalid value: " + token;
                        return false;
                    }
                    value = static_cast<unsigned char>(number);
                }
    if (in >> token)
    {
        if (error)
            *error = "pattern file " + fileName + " holds more than four 16x16 blocks";
        return false;
    }
    _blocks = blocks;
    return true;
}

bool Pattern::save(const std::string& fileName) const
{
    std::ofstream out(fileName, std::ios::trunc);
    if (!out)
        return false;
    for (const Block& block : _blocks)
    {
        for (const auto& plane : block)
            for (const auto& row : plane)
            {
                for (int column = 0; column < kSize; ++column)
                    out << (column ? " " : "") << std::setw(3) << int(row[size_t(column)]);
                out << '\n';
            }
        out << '\n';
    }
    return bool(out);
}

bool Pattern::setFromImage(const cv::Mat& pattern)
{
    if (pattern.empty() || pattern.depth() != CV_8U)
        return false;
    cv::Mat colour;
    if (pattern.channels() == 1)
        cv::cvtColor(pattern, colour, cv::COLOR_GRAY2BGR);
    else if (pattern.channels() == 4)
        cv::cvtColor(pattern, colour, cv::COLOR_BGRA2BGR);
    else if (pattern.channels() == 3)
        colour = pattern;
    else
        return false;
    cv::Mat small;
    cv::resize(colour, small, cv::Size(kSize, kSize), 0, 0, cv::INTER_AREA);
    for (int orientation = 0; orientation < kOrientations; ++orientation)
    {
        Block& block = _blocks[size_t(orientation)];
        for (int row = 0; row < kSize; ++row)
            for (int column = 0; column < kSize; ++column)
            {
                const cv::Vec3b& pixel = small.at<cv::Vec3b>(row, column);
                for (int plane = 0; plane < 3; ++plane)
                    block[size_t(plane)][size_t(row)][size_t(column)] = pixel[plane];
            }
        cv::rotate(small, small, cv::ROTATE_90_COUNTERCLOCKWISE);
    }
    return true;
}

bool Pattern::setFromMarkerImage(const cv::Mat& marker)
{
    if (marker.empty() || marker.cols < 8 || marker.rows < 8)
        return false;
    const cv::Rect inner(marker.cols / 4, marker.rows / 4, marker.cols - 2 * (marker.cols / 4),
                         marker.rows - 2 * (marker.rows / 4));
    return setFromImage(marker(inner));
}

float Pattern::grey(int orientation, int row, int column) const
{
    const Block& block = _blocks[size_t(orientation)];
    return (float(block[0][size_t(row)][size_t(column)]) + float(block[1][size_t(row)][size_t(column)]) +
            float(block[2][size_t(row)][size_t(column)])) /
           3.0f;
}

void Pattern::uprightImage(cv::Mat& image) const
{
    image.create(kSize, kSize, CV_8UC3);
    for (int row = 0; row < kSize; ++row)
        for (int column = 0; column < kSize; ++column)
            for (int plane = 0; plane < 3; ++plane)
                image.at<cv::Vec3b>(row, column)[plane] =
                    _blocks[0][size_t(plane)][size_t(row)][size_t(column)];
}

} // namespace osgART
