// Marker making: a pattern file (.patt) from a marker image, a printable marker image from a
// pattern image or a pattern file, and the trackability rating of a picture for an image target.
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include <osgART/ImageTarget.h>
#include <osgART/Pattern.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <iostream>

using namespace Novaro;

namespace
{

void usage()
{
    std::cerr
        << "usage:\n"
           "  novaro-marker --patt-from MARKER_IMAGE --output FILE.patt\n"
           "      (the image shows the whole marker, black border included; white paper around it is "
           "cropped)\n"
           "  novaro-marker --marker-from PATTERN_IMAGE --output FILE.png [--pixels N] [--margin SHARE]\n"
           "  novaro-marker --marker-from-patt FILE.patt --output FILE.png [--pixels N] [--margin SHARE]\n"
           "      (a printable marker: black border a quarter of the width on each side, the pattern "
           "inside,\n"
           "       N pixels wide without the white margin, margin as a share of the marker width)\n"
           "  novaro-marker --rate PICTURE [--output FILE.png]\n"
           "      (how well a picture tracks as an image target: a rating from 0 to 5 with the reasons;\n"
           "       the output shows the features as circles and shades the parts that have none)"
        << std::endl;
}

// The marker inside an image: the bounding box of its dark pixels (paper around it is dropped).
bool cropToMarker(const cv::Mat& image, cv::Mat& marker)
{
    cv::Mat grey, dark;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    cv::threshold(grey, dark, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
    std::vector<cv::Point> points;
    cv::findNonZero(dark, points);
    if (points.empty())
        return false;
    const cv::Rect box = cv::boundingRect(points);
    if (box.width < 8 || box.height < 8)
        return false;
    marker = image(box);
    return true;
}

// The picture with its features circled and the cells of the coverage grid without any darkened.
cv::Mat drawFeatures(const cv::Mat& picture, const osgART::ImageTargetRating& rating)
{
    cv::Mat drawing = picture.clone();
    const int grid = 8;
    std::vector<bool> covered(size_t(grid * grid), false);
    for (const cv::KeyPoint& keypoint : rating.keypoints)
    {
        const int x = std::min(grid - 1, std::max(0, int(keypoint.pt.x * grid / picture.cols)));
        const int y = std::min(grid - 1, std::max(0, int(keypoint.pt.y * grid / picture.rows)));
        covered[size_t(y * grid + x)] = true;
    }
    for (int y = 0; y < grid; ++y)
        for (int x = 0; x < grid; ++x)
            if (!covered[size_t(y * grid + x)])
            {
                const cv::Rect cell(x * picture.cols / grid, y * picture.rows / grid, picture.cols / grid,
                                    picture.rows / grid);
                drawing(cell) *= 0.4;
            }
    const int thickness = std::max(1, std::max(picture.cols, picture.rows) / 500);
    for (const cv::KeyPoint& keypoint : rating.keypoints)
        cv::circle(drawing, keypoint.pt, std::max(2, int(keypoint.size / 8)), cv::Scalar(0, 255, 0),
                   thickness, cv::LINE_AA);
    return drawing;
}

int rate(const std::string& file, const std::string& output)
{
    cv::Mat picture;
    std::string error;
    if (!readImageFile(file, picture, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    const osgART::ImageTargetRating rating = osgART::rateImageTarget(picture);
    std::cout << file << ": rating " << rating.score << "/5 (" << rating.featureCount << " features, "
              << int(rating.coverage * 100 + 0.5) << "% of the picture covered, "
              << int(rating.repetition * 100 + 0.5) << "% repeated, contrast " << int(rating.contrast + 0.5)
              << ")" << std::endl;
    for (const std::string& reason : rating.reasons)
        std::cout << "  - " << reason << std::endl;
    if (!output.empty() && !cv::imwrite(output, drawFeatures(picture, rating)))
    {
        std::cerr << "cannot write " << output << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    ToolArguments arguments(argc, argv, {"help"});
    const bool toPattern = arguments.has("patt-from");
    const bool fromImage = arguments.has("marker-from");
    const bool fromPattern = arguments.has("marker-from-patt");
    if (arguments.error().empty() && arguments.has("rate") && !toPattern && !fromImage && !fromPattern)
        return rate(arguments.get("rate"), arguments.get("output"));
    if (!arguments.error().empty() || arguments.has("help") || !arguments.has("output") ||
        int(toPattern) + int(fromImage) + int(fromPattern) != 1)
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        usage();
        return arguments.has("help") ? 0 : 1;
    }
    const std::string output = arguments.get("output");
    osgART::Pattern pattern;
    if (toPattern)
    {
        cv::Mat image;
        std::string error;
        if (!readImageFile(arguments.get("patt-from"), image, error))
        {
            std::cerr << error << std::endl;
            return 1;
        }
        cv::Mat marker;
        if (!cropToMarker(image, marker) || !pattern.setFromMarkerImage(marker))
        {
            std::cerr << "cannot find a marker in " << arguments.get("patt-from") << std::endl;
            return 1;
        }
        if (!pattern.save(output))
        {
            std::cerr << "cannot write " << output << std::endl;
            return 1;
        }
        return 0;
    }
    cv::Mat patternImage;
    if (fromImage)
    {
        std::string error;
        if (!readImageFile(arguments.get("marker-from"), patternImage, error) ||
            !pattern.setFromImage(patternImage))
        {
            std::cerr << "cannot read pattern image " << arguments.get("marker-from") << " " << error
                      << std::endl;
            return 1;
        }
    }
    else
    {
        std::string error;
        if (!pattern.load(arguments.get("marker-from-patt"), &error))
        {
            std::cerr << error << std::endl;
            return 1;
        }
    }
    const double pixels = arguments.getNumber("pixels", 1024);
    const double margin = arguments.getNumber("margin", 0.25);
    if (pixels < 32 || pixels > 16384 || margin < 0 || margin > 2)
    {
        std::cerr << "--pixels must lie within 32..16384 and --margin within 0..2" << std::endl;
        return 1;
    }
    // Drawn from the 16 x 16 pattern with sharp cells, or from the image itself for finer detail.
    cv::Mat sheet;
    if (fromImage)
    {
        const int side = int(pixels);
        cv::Mat inner;
        cv::resize(patternImage, inner, cv::Size(side / 2, side / 2), 0, 0, cv::INTER_AREA);
        cv::Mat markerImage(side, side, CV_8UC3, cv::Scalar::all(0));
        inner.copyTo(markerImage(cv::Rect(side / 4, side / 4, side / 2, side / 2)));
        const int paper = int(margin * side);
        cv::copyMakeBorder(markerImage, sheet, paper, paper, paper, paper, cv::BORDER_CONSTANT,
                           cv::Scalar::all(255));
    }
    else
    {
        const int cell = std::max(1, int(pixels) / (2 * osgART::Pattern::kSize));
        sheet = makeMarkerImage(pattern, cell, margin);
        // Printed ink and paper: full black and white rather than the renderer's camera-like shades.
        cv::normalize(sheet, sheet, 0, 255, cv::NORM_MINMAX);
    }
    if (!cv::imwrite(output, sheet))
    {
        std::cerr << "cannot write " << output << std::endl;
        return 1;
    }
    return 0;
}
