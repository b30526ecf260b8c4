// Printed sheets as a printer sees them: the PDF rendered back to pixels by poppler's pdftoppm at a
// known resolution, then measured. (The end-to-end scene test films a rendered sheet and tracks it.)
#include "MarkerSheet.h"
#include "PlayerProcess.h"
#include "SyntheticScene.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <filesystem>

using namespace Novaro;

namespace
{

const double kDotsPerInch = 100.0;

double toPixels(double millimetres)
{
    return millimetres * kDotsPerInch / 25.4;
}

// The pages of a PDF as images, in page order. A file that poppler has to repair (a wrong
// cross-reference table, a bad stream length) is a failure: it prints why on its error output.
std::vector<cv::Mat> renderPages(const NovaroTest::TemporaryFolder& folder, const std::string& pdf)
{
    const NovaroTest::PlayerRun render = NovaroTest::runExecutable(
        "pdftoppm", folder.path(),
        {"-r", std::to_string(int(kDotsPerInch)), "-png", pdf, folder.file("page")});
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(render.output, "");
    // Numbered from 1, without leading zeros below ten pages.
    std::vector<cv::Mat> pages;
    for (int page = 1; std::filesystem::exists(folder.file("page-" + std::to_string(page) + ".png")); ++page)
        pages.push_back(cv::imread(folder.file("page-" + std::to_string(page) + ".png"), cv::IMREAD_COLOR));
    return pages;
}

// Width of the dark run that crosses the point along a row (horizontal) or a column, in pixels,
// with sub-pixel ends from the grey levels of the edge pixels.
double darkRun(const cv::Mat& grey, cv::Point at, bool horizontal)
{
    const cv::Point step = horizontal ? cv::Point(1, 0) : cv::Point(0, 1);
    auto darkness = [&](cv::Point p) { return 1.0 - grey.at<unsigned char>(p) / 255.0; };
    double length = darkness(at);
    for (int direction : {-1, 1})
        for (cv::Point p = at + direction * step; p.x >= 0 && p.y >= 0 && p.x < grey.cols && p.y < grey.rows;
             p += direction * step)
        {
            const double d = darkness(p);
            length += d;
            if (d < 0.5)
                break;
        }
    return length;
}

std::vector<SheetMarker> sheetMarkers(const std::vector<double>& sizes)
{
    const std::vector<osgART::Pattern> patterns = makeDistinctPatterns(sizes.size(), 7);
    std::vector<SheetMarker> markers;
    for (size_t i = 0; i < sizes.size(); ++i)
        markers.push_back({"marker_" + std::to_string(i + 1), patterns[i], sizes[i]});
    return markers;
}

// Pattern cells whose printed grey (sampled at each cell's centre) is not on the side of mid-grey
// that the pattern's orientation gives.
int wrongCells(const cv::Mat& grey, const SheetPlacement& place, const osgART::Pattern& pattern,
               int orientation)
{
    const int n = osgART::Pattern::kSize;
    const double cell = place.size / 2.0 / n;
    int wrong = 0;
    for (int row = 0; row < n; ++row)
        for (int column = 0; column < n; ++column)
        {
            const cv::Point at(int(toPixels(place.x + place.size / 4.0 + (column + 0.5) * cell)),
                               int(toPixels(place.y + place.size / 4.0 + (row + 0.5) * cell)));
            wrong += (grey.at<unsigned char>(at) < 128) != (pattern.grey(orientation, row, column) < 128.0f);
        }
    return wrong;
}

} // namespace

// Four markers of mixed sizes fill more than one A4 page: every black square comes out at its
// stated width within 1 % and every label names its marker and size, in its own letters (a name
// in UTF-8 as written; one in Latin-1, which is not UTF-8, loses only its odd byte).
TEST(MarkerSheets, PrintedMarkersKeepTheirSizeOnEveryPage)
{
    NovaroTest::TemporaryFolder folder;
    std::vector<SheetMarker> markers = sheetMarkers({80.0, 50.0, 120.0, 100.0});
    markers[0].name = "\xc3\xa9t\xc3\xa9";
    markers[2].name = "caf\xe9";
    std::vector<SheetPlacement> placements;
    std::string error;
    ASSERT_TRUE(writeMarkerSheet(folder.file("sheet.pdf"), markers, error, &placements)) << error;
    const std::vector<cv::Mat> pages = renderPages(folder, folder.file("sheet.pdf"));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(placements.back().page, 1u);

    // pdftotext gives the label's run of spaces as one.
    const NovaroTest::PlayerRun text =
        NovaroTest::runExecutable("pdftotext", folder.path(), {"sheet.pdf", "-"});
    ASSERT_EQ(text.status, 0);
    for (const SheetMarker& marker : markers)
    {
        const std::string name = marker.name == "caf\xe9" ? "caf\xef\xbf\xbd" : marker.name;
        EXPECT_NE(text.output.find(name + " " + std::to_string(int(marker.size)) + " mm"), std::string::npos)
            << text.output;
    }

    for (size_t i = 0; i < markers.size(); ++i)
    {
        SCOPED_TRACE(markers[i].name);
        cv::Mat grey;
        cv::cvtColor(pages[placements[i].page], grey, cv::COLOR_BGR2GRAY);
        EXPECT_EQ(grey.cols, int(std::lround(toPixels(210.0))));
        // Through the black border, an eighth of the width inside the square.
        const double inset = placements[i].size / 8.0;
        const cv::Point row(int(toPixels(placements[i].x + placements[i].size / 2.0)),
                            int(toPixels(placements[i].y + inset)));
        const cv::Point column(int(toPixels(placements[i].x + inset)),
                               int(toPixels(placements[i].y + placements[i].size / 2.0)));
        const double expected = toPixels(markers[i].size);
        EXPECT_NEAR(darkRun(grey, row, true), expected, 0.01 * expected);
        EXPECT_NEAR(darkRun(grey, column, false), expected, 0.01 * expected);
    }
}

// A board prints each square where it lies on the board (the board's y up the page) at its own
// width, its pattern turned with it, inside one paper for the whole board.
TEST(MarkerSheets, BoardsPrintTheirSquaresWhereTheyLie)
{
    NovaroTest::TemporaryFolder folder;
    const std::vector<osgART::Pattern> patterns = makeDistinctPatterns(3, 7);
    SheetMarker board;
    board.name = "board";
    board.squares = {{patterns[0], 40.0, -40.0, 20.0, 0, "a"},
                     {patterns[1], 40.0, 40.0, 20.0, 1, "b"},
                     {patterns[2], 30.0, 0.0, -35.0, 2, "c"}};
    std::vector<SheetPlacement> placements;
    std::string error;
    ASSERT_TRUE(writeMarkerSheet(folder.file("board.pdf"), {board}, error, &placements)) << error;
    EXPECT_DOUBLE_EQ(placements[0].size, 120.0);
    EXPECT_DOUBLE_EQ(placements[0].height, 90.0);
    const std::vector<cv::Mat> pages = renderPages(folder, folder.file("board.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    cv::Mat grey;
    cv::cvtColor(pages[0], grey, cv::COLOR_BGR2GRAY);
    const SheetPlacement first = squarePlacement(board, placements[0], 0);
    for (size_t k = 0; k < board.squares.size(); ++k)
    {
        SCOPED_TRACE(k);
        const SheetSquare& square = board.squares[k];
        const SheetPlacement place = squarePlacement(board, placements[0], k);
        EXPECT_NEAR(place.x - first.x + (place.size - first.size) / 2.0, square.x - board.squares[0].x, 1e-9);
        EXPECT_NEAR(place.y - first.y + (place.size - first.size) / 2.0, board.squares[0].y - square.y, 1e-9);
        const cv::Point across(int(toPixels(place.x + place.size / 2.0)),
                               int(toPixels(place.y + place.size / 8.0)));
        EXPECT_NEAR(darkRun(grey, across, true), toPixels(square.size), 0.01 * toPixels(square.size));
        EXPECT_EQ(wrongCells(grey, place, square.pattern, square.quarterTurns), 0);
    }
    // The turned squares would be read wrongly unturned.
    EXPECT_GT(wrongCells(grey, squarePlacement(board, placements[0], 1), patterns[1], 0), 20);
    EXPECT_GT(wrongCells(grey, squarePlacement(board, placements[0], 2), patterns[2], 0), 20);
}

// The default chessboard is the one novaro-calibrate looks for without options: 9 x 6 inner
// corners, 25 mm apart within 1 %.
TEST(MarkerSheets, ChessboardHasItsStatedSquaresAndAnEmptySheetIsRefused)
{
    NovaroTest::TemporaryFolder folder;
    std::string error;
    ASSERT_TRUE(writeChessboardSheet(folder.file("board.pdf"), Chessboard(), error)) << error;
    const std::vector<cv::Mat> pages = renderPages(folder, folder.file("board.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_GT(pages[0].cols, pages[0].rows); // landscape: ten squares across
    cv::Mat grey;
    cv::cvtColor(pages[0], grey, cv::COLOR_BGR2GRAY);
    std::vector<cv::Point2f> corners;
    ASSERT_TRUE(cv::findChessboardCorners(grey, cv::Size(9, 6), corners));
    double spacing = 0.0;
    int count = 0;
    for (int row = 0; row < 6; ++row)
        for (int column = 0; column + 1 < 9; ++column, ++count)
            spacing += cv::norm(corners[size_t(row * 9 + column + 1)] - corners[size_t(row * 9 + column)]);
    EXPECT_NEAR(spacing / count, toPixels(25.0), 0.01 * toPixels(25.0));

    // A marker of no size, a board with a square of no size and a sheet of no marker are refused, and nothing
    // is written. (A marker or a board too large for the page: the tools tests, through novaro-marker.)
    EXPECT_FALSE(writeMarkerSheet(folder.file("zero.pdf"), sheetMarkers({0.0}), error));
    EXPECT_FALSE(writeMarkerSheet(folder.file("none.pdf"), {}, error));
    SheetMarker board;
    board.name = "flat";
    board.squares = {{osgART::Pattern(), 40.0, 0.0, 0.0, 0, "a"},
                     {osgART::Pattern(), 0.0, 60.0, 0.0, 0, "b"}};
    EXPECT_FALSE(writeMarkerSheet(folder.file("flat.pdf"), {board}, error));
    EXPECT_FALSE(std::filesystem::exists(folder.file("zero.pdf")));
}
