// The tracking tools as a user runs them: file names built from user text, and hostile inputs; and
// novaro-calibrate on chessboard views rendered through a camera whose intrinsics and lens
// distortion are known, the camera files it writes reading back as that camera (the tracker reads
// them through the same loader); and printed sheets as a printer sees them: the PDF rendered back to
// pixels by poppler's pdftoppm at a known resolution, then measured. (The end-to-end scene test films
// a rendered sheet and tracks it.)
#include "MarkerSheet.h"
#include "PlayerProcess.h"
#include "SyntheticScene.h"
#include "TestSupport.h"

#include <osgART/CameraParameters.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <fstream>

using namespace Novaro;

namespace
{

// Runs a tool of the run directory from the folder as a user does: its exit status (-1 after a crash)
// and, in output, what it printed.
int runTool(const NovaroTest::TemporaryFolder& folder, const std::string& tool,
            const std::vector<std::string>& arguments, std::string& output)
{
    const NovaroTest::PlayerRun run =
        NovaroTest::runExecutable(std::string(NOVARO_RUN_DIR) + "/" + tool, folder.path(), arguments);
    output = run.output;
    return run.status;
}

// A webcam-like lens with visible barrel distortion and a principal point off the centre.
osgART::CameraParameters knownCamera()
{
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(640, 480, 610.0, 606.0, 327.5, 234.0);
    camera.setBrownDistortion(-0.21, 0.08, 0.0007, -0.0004, 610.0, 606.0, 327.5, 234.0, 1.0);
    return camera;
}

// A sheet of 10 x 7 squares (9 x 6 inner corners) of 60 texels, on white paper making it square.
PrintedMarker chessboardSheet()
{
    cv::Mat texture(720, 720, CV_8UC3, cv::Scalar::all(255));
    for (int row = 0; row < 7; ++row)
        for (int column = 0; column < 10; ++column)
            if ((row + column) % 2 == 0)
                texture(cv::Rect(60 + column * 60, 150 + row * 60, 60, 60)).setTo(cv::Scalar::all(0));
    PrintedMarker sheet;
    sheet.texture = texture;
    sheet.size = 240.0; // the whole sheet: a square is 20 units
    sheet.margin = 0.0;
    return sheet;
}

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

TEST(TrackingTools, FrameNamesSubstituteOnlyTheFrameNumber)
{
    const struct
    {
        const char* pattern;
        int frame;
        const char* expected;
    } cases[] = {
        {"debug%04d.png", 7, "debug0007.png"},
        {"f%d.png", 12, "f12.png"},
        {"f%02d.png", 123, "f123.png"},
        {"a%s%n%x%03d.png", 5, "a%s%n%x005.png"},
        {"100%.png", 3, "100%.png"},
        {"%d_%d.png", 1, "1_%d.png"},
        {"%4d.png", 2, "%4d.png"},
        {"%0999d.png", 2, "%0999d.png"},
        {"plain.png", 9, "plain.png"},
        {"end%", 1, "end%"},
    };
    for (const auto& entry : cases)
    {
        EXPECT_EQ(Novaro::formatFrameName(entry.pattern, entry.frame), entry.expected) << entry.pattern;
        // A pattern holds a frame number exactly when something was substituted.
        EXPECT_EQ(Novaro::hasFrameNumberPattern(entry.pattern), std::string(entry.pattern) != entry.expected)
            << entry.pattern;
    }
}

TEST(TrackingTools, TrackRunsOnHostileFileNamesAndImagesAndMarkerWritesSheetsAsPdfOnly)
{
    NovaroTest::TemporaryFolder folder;
    const std::string camera = folder.file("camera.dat");
    ASSERT_TRUE(Novaro::makeDefaultCamera(64, 48, false).saveBinary(camera));
    ASSERT_TRUE(cv::imwrite(folder.file("frame.png"), cv::Mat(48, 64, CV_8UC3, cv::Scalar::all(200))));
    std::string output;
    // Format directives in the debug image name are file name text, not printf instructions.
    EXPECT_EQ(runTool(folder, "novaro-track",
                      {"--camera", camera, "--input", folder.file("frame.png"), "--frames", "1",
                       "--debug-image", folder.file("dbg%s%n%s%03d.png")},
                      output),
              0)
        << output;
    EXPECT_TRUE(std::filesystem::exists(folder.file("dbg%s%n%s000.png"))) << output;

    // A header claiming 60000 x 60000 pixels is refused with a message, not an abort.
    std::ofstream(folder.file("huge.png"), std::ios::binary) << NovaroTest::pngHeader(60000, 60000);
    EXPECT_EQ(
        runTool(folder, "novaro-track", {"--camera", camera, "--input", folder.file("huge.png")}, output), 1)
        << output;
    EXPECT_NE(output.find("60000x60000"), std::string::npos) << output;

    // The sheets come out as PDF files only; a board or a marker that does not fit is refused.
    const std::string pattern = folder.file("one.patt");
    ASSERT_TRUE(Novaro::makeDistinctPatterns(1, 3)[0].save(pattern));
    const struct
    {
        std::vector<std::string> arguments;
        const char* sheet; // written when the tool succeeds, never when it fails
        int status;
        const char* said;
    } cases[] = {
        {{"--chessboard"}, "board.pdf", 0, ""},
        {{"--chessboard"}, "board.png", 1, ""},
        {{"--chessboard", "--square", "40"}, "big.pdf", 1, "does not fit on an A4 page"},
        {{"--marker-from-patt", pattern, "--marker-from-patt", pattern, "--size", "60"}, "sheet.pdf", 0, ""},
        {{"--marker-from-patt", pattern, "--size", "300"},
         "huge.pdf",
         1,
         "one: a size of 300 mm does not fit on an A4 page"},
    };
    for (const auto& each : cases)
    {
        SCOPED_TRACE(each.sheet);
        std::vector<std::string> arguments = each.arguments;
        arguments.insert(arguments.end(), {"--output", folder.file(each.sheet)});
        EXPECT_EQ(runTool(folder, "novaro-marker", arguments, output), each.status) << output;
        EXPECT_NE(output.find(each.said), std::string::npos) << output;
        EXPECT_EQ(std::filesystem::is_regular_file(folder.file(each.sheet)), each.status == 0);
    }
    EXPECT_EQ(NovaroTest::readFile(folder.file("board.pdf")).substr(0, 5), "%PDF-");
}

TEST(Calibration, RecoversAKnownCameraInBothFiles)
{
    NovaroTest::TemporaryFolder folder;
    const osgART::CameraParameters truth = knownCamera();
    ImagingSettings imaging;
    imaging.clutter = false;
    imaging.noiseSigma = 1.0;
    SyntheticCamera synthetic(truth, imaging);
    const std::vector<PrintedMarker> sheets = {chessboardSheet()};
    std::mt19937 random(3);
    for (int view = 0; view < 14; ++view)
    {
        const std::vector<PlacedMarker> placed = synthetic.placeMarkers(sheets, 1, 300, 460, 50, random);
        ASSERT_EQ(placed.size(), 1u);
        cv::Mat frame;
        synthetic.render(sheets, placed, random, frame);
        ASSERT_TRUE(cv::imwrite(folder.file("view" + std::to_string(100 + view) + ".png"), frame));
    }
    const std::string output = folder.file("webcam");
    std::string said;
    ASSERT_EQ(runTool(folder, "novaro-calibrate",
                      {"--images", folder.path(), "--board", "9x6", "--square", "20", "--output", output},
                      said),
              0)
        << said;

    // Both files, as the tracker reads them, hold the camera the views were made with.
    EXPECT_EQ(std::filesystem::file_size(output + ".dat"), 176u);
    for (const char* extension : {".dat", ".yml"})
    {
        osgART::CameraParameters calibrated;
        std::string error;
        ASSERT_TRUE(calibrated.load(output + extension, &error)) << extension << ": " << error;
        EXPECT_NEAR(calibrated.fx(), truth.fx(), 0.005 * truth.fx()) << extension;
        EXPECT_NEAR(calibrated.fy(), truth.fy(), 0.005 * truth.fy()) << extension;
        EXPECT_NEAR(calibrated.cx(), truth.cx(), 2.0) << extension;
        EXPECT_NEAR(calibrated.cy(), truth.cy(), 2.0) << extension;
        // The lens: a point near the corner lands where the true lens puts it.
        const osg::Vec2d corner(20.0, 15.0);
        EXPECT_LT((calibrated.observedToIdeal(corner) - truth.observedToIdeal(corner)).length(), 2.0)
            << extension;
    }
}

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
