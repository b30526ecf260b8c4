// Marker making: a pattern file (.patt) from a marker image, a printable marker image from a
// pattern image or a pattern file, an A4 PDF sheet of markers at their printed size, a chessboard
// sheet for novaro-calibrate, and the trackability rating of a picture for an image target.
#include "MarkerSheet.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include <osgART/ImageTarget.h>
#include <osgART/Pattern.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <osgDB/FileNameUtils>

#include <algorithm>
#include <cstdio>
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
           "  novaro-marker (--marker-from PATTERN_IMAGE | --marker-from-patt FILE.patt)... --output "
           "FILE.pdf\n"
           "                [--size MM]\n"
           "      (an A4 sheet of the markers, each SIZE millimetres wide (default 80), with cut marks and\n"
           "       its name and size; options may repeat)\n"
           "  novaro-marker --chessboard --output FILE.pdf [--board 9x6] [--square 25]\n"
           "      (a chessboard for novaro-calibrate: --board counts inner corners, --square is in mm)"
           "\n"
           "  novaro-marker --rate PICTURE [--output FILE.png]\n"
           "      (how well a picture tracks as an image target: a rating from 0 to 5 with the reasons;\n"
           "       the output shows the features as circles and shades the parts that have none)"
        << std::endl;
}

bool isPdf(const std::string& path)
{
    return osgDB::getLowerCaseFileExtension(path) == "pdf";
}

bool patternFromImageFile(const std::string& path, osgART::Pattern& pattern, cv::Mat& image)
{
    std::string error;
    if (!readImageFile(path, image, error) || !pattern.setFromImage(image))
    {
        std::cerr << "cannot read pattern image " << path << " " << error << std::endl;
        return false;
    }
    return true;
}

int writePatternFile(const std::string& markerImage, const std::string& output)
{
    cv::Mat image;
    std::string error;
    if (!readImageFile(markerImage, image, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    cv::Mat marker;
    osgART::Pattern pattern;
    if (!cropToMarker(image, marker) || !pattern.setFromMarkerImage(marker))
    {
        std::cerr << "cannot find a marker in " << markerImage << std::endl;
        return 1;
    }
    if (!pattern.save(output))
    {
        std::cerr << "cannot write " << output << std::endl;
        return 1;
    }
    return 0;
}

int writeChessboard(const ToolArguments& arguments, const std::string& output)
{
    Chessboard board;
    int corners[2] = {board.columns - 1, board.rows - 1};
    if (arguments.has("board") &&
        std::sscanf(arguments.get("board").c_str(), "%dx%d", &corners[0], &corners[1]) != 2)
    {
        std::cerr << "--board takes the inner corners across and down, as 9x6" << std::endl;
        return 1;
    }
    board.columns = corners[0] + 1;
    board.rows = corners[1] + 1;
    board.square = arguments.getNumber("square", board.square);
    std::string error;
    if (!writeChessboardSheet(output, board, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    return 0;
}

// Every --marker-from and --marker-from-patt, named after its file, on one sheet in the order given.
int writeSheet(const ToolArguments& arguments, const std::string& output)
{
    const double size = arguments.getNumber("size", 80.0);
    std::vector<SheetMarker> markers;
    for (const auto& [option, path] : arguments.inOrder())
    {
        if (option != "marker-from" && option != "marker-from-patt")
            continue;
        SheetMarker marker{osgDB::getStrippedName(path), osgART::Pattern(), size};
        cv::Mat image;
        std::string error;
        if (option == "marker-from" && !patternFromImageFile(path, marker.pattern, image))
            return 1;
        if (option == "marker-from-patt" && !marker.pattern.load(path, &error))
        {
            std::cerr << error << std::endl;
            return 1;
        }
        markers.push_back(marker);
    }
    std::string error;
    if (!writeMarkerSheet(output, markers, error))
    {
        std::cerr << error << std::endl;
        return 1;
    }
    return 0;
}

int writeMarkerImage(const ToolArguments& arguments, const std::string& output)
{
    const bool fromImage = arguments.has("marker-from");
    osgART::Pattern pattern;
    cv::Mat patternImage;
    if (fromImage)
    {
        if (!patternFromImageFile(arguments.get("marker-from"), pattern, patternImage))
            return 1;
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
    ToolArguments arguments(argc, argv, {"help", "chessboard"});
    if (arguments.error().empty() && arguments.has("rate") && !arguments.has("patt-from") &&
        !arguments.has("marker-from") && !arguments.has("marker-from-patt") && !arguments.has("chessboard"))
        return rate(arguments.get("rate"), arguments.get("output"));
    const std::string output = arguments.get("output");
    const int sources = int(arguments.has("patt-from")) + int(arguments.has("marker-from")) +
                        int(arguments.has("marker-from-patt")) + int(arguments.has("chessboard"));
    const size_t markerSources =
        arguments.getAll("marker-from").size() + arguments.getAll("marker-from-patt").size();
    // Several markers, or markers from both kinds of source, go onto a PDF sheet only.
    const bool sheet = isPdf(output) && markerSources > 0;
    const bool valid = !output.empty() &&
                       (sheet ? !arguments.has("patt-from") && !arguments.has("chessboard")
                              : sources == 1 && markerSources <= 1) &&
                       (isPdf(output) || !arguments.has("chessboard"));
    if (!arguments.error().empty() || arguments.has("help") || !valid)
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        usage();
        return arguments.has("help") ? 0 : 1;
    }
    if (arguments.has("patt-from"))
        return writePatternFile(arguments.get("patt-from"), output);
    if (arguments.has("chessboard"))
        return writeChessboard(arguments, output);
    if (sheet)
        return writeSheet(arguments, output);
    return writeMarkerImage(arguments, output);
}
