#pragma once

// Printable sheets at physical size: markers (black square, pattern cells as vector rectangles,
// white paper around, cut marks, name and size under each) and chessboards for camera calibration,
// both as A4 PDF pages. Shared by novaro-marker and novaro-scene.

#include <osgART/Pattern.h>

#include <opencv2/core.hpp>

#include <string>
#include <utility>
#include <vector>

namespace Novaro
{

/// One square of a board (a multi marker), where it lies on the board.
struct SheetSquare
{
    osgART::Pattern pattern;
    double size = 80.0; ///< width of its black square, millimetres
    double x = 0.0;     ///< its centre in the board's frame, millimetres (y up the page)
    double y = 0.0;
    int quarterTurns = 0; ///< counter-clockwise from the board's axes, 0..3
    std::string name;     ///< for the places printed beside the sheet
};

/// One marker to print: a square marker, or a board when it has squares (its own pattern and size
/// are then unused).
struct SheetMarker
{
    SheetMarker() = default;
    SheetMarker(std::string name, osgART::Pattern pattern, double size)
        : name(std::move(name)), pattern(std::move(pattern)), size(size)
    {
    }

    std::string name;
    osgART::Pattern pattern;
    double size = 80.0; ///< width of the black square, millimetres (the markers file's size)
    std::vector<SheetSquare> squares;
};

/// Where a marker's black square (a board's squares together) lies on the sheet, millimetres from
/// the page's top-left corner.
struct SheetPlacement
{
    size_t page = 0;
    double x = 0.0;
    double y = 0.0;
    double size = 0.0;   ///< width
    double height = 0.0; ///< the width, but for a board
};

/// Distance kept from every page edge, millimetres: most printers cannot print closer than 5.
const double kSheetPageMargin = 10.0;
/// White paper kept around a marker's black square, as a share of its width, and at least
/// kSheetMinimumQuietZone millimetres: the tracker finds the square by its contrast with the
/// paper, and the label sits in the lower strip.
const double kSheetQuietZoneShare = 0.125;
const double kSheetMinimumQuietZone = 8.0;
/// Cut marks: lines of this length (mm) starting this far (mm) outside each corner of a marker's
/// paper, along its edges; cells are kept far enough apart that the marks of neighbours never meet.
const double kSheetCutMarkLength = 5.0;
const double kSheetCutMarkGap = 1.5;
/// Font size of the labels, points.
const double kSheetLabelSize = 9.0;

/// The paper around a marker of the given width (mm) on each side.
double quietZone(double size);

/// Where the board's square k lies on the sheet, given where the board went.
SheetPlacement squarePlacement(const SheetMarker& board, const SheetPlacement& place, size_t k);

/// Places the markers in reading order on as many A4 portrait pages as they need. False (with the
/// reason) when a marker is not positive or does not fit on a page.
bool layoutMarkerSheet(const std::vector<SheetMarker>& markers, std::vector<SheetPlacement>& placements,
                       std::string& error);

/// Writes the markers to a PDF file at physical size; placements (when given) receives where each
/// went.
bool writeMarkerSheet(const std::string& path, const std::vector<SheetMarker>& markers, std::string& error,
                      std::vector<SheetPlacement>* placements = nullptr);

/// Chessboard sizes: squares across and down, side of a square in millimetres. The defaults are
/// the board novaro-calibrate expects without options (--board 9x6: 9 x 6 inner corners).
struct Chessboard
{
    int columns = 10;
    int rows = 7;
    double square = 25.0;
};

/// Writes a chessboard (top-left square black) centred on one A4 page, landscape when it is wider
/// than high, with a line saying its size and the matching novaro-calibrate options. False (with
/// the reason) when it has fewer than 3 squares a side or does not fit.
bool writeChessboardSheet(const std::string& path, const Chessboard& board, std::string& error);

/// The marker inside an image: the bounding box of its dark pixels (paper around it is dropped).
bool cropToMarker(const cv::Mat& image, cv::Mat& marker);

} // namespace Novaro
