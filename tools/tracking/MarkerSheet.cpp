#include "MarkerSheet.h"

#include "PdfWriter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

namespace Novaro
{

namespace
{

// Room between neighbouring markers' paper: both cut marks and a millimetre to spare.
const double kCellGap = 2.0 * (kSheetCutMarkGap + kSheetCutMarkLength) + 1.0;
// Cut marks and outlines are hairlines, but wide enough to survive any printer.
const double kCutMarkWidth = 0.2;

struct Rectangle
{
    int column, row, width, height;
};

// Cells of equal colour joined into few rectangles (runs along rows, then equal runs stacked), so
// that no rasteriser shows seams between neighbouring cells of one colour.
std::map<std::tuple<int, int, int>, std::vector<Rectangle>> patternRectangles(const osgART::Pattern& pattern,
                                                                              int orientation)
{
    const int n = osgART::Pattern::kSize;
    const osgART::Pattern::Block& block = pattern.block(orientation);
    std::map<std::tuple<int, int, int>, std::vector<Rectangle>> byColour;
    for (int row = 0; row < n; ++row)
    {
        for (int column = 0; column < n;)
        {
            const auto colourAt = [&](int c)
            {
                return std::make_tuple(int(block[2][size_t(row)][size_t(c)]),
                                       int(block[1][size_t(row)][size_t(c)]),
                                       int(block[0][size_t(row)][size_t(c)]));
            };
            const auto colour = colourAt(column);
            int end = column + 1;
            while (end < n && colourAt(end) == colour)
                ++end;
            std::vector<Rectangle>& list = byColour[colour];
            auto above = std::find_if(list.begin(), list.end(),
                                      [&](const Rectangle& r) {
                                          return r.column == column && r.width == end - column &&
                                                 r.row + r.height == row;
                                      });
            if (above != list.end())
                ++above->height;
            else
                list.push_back({column, row, end - column, 1});
            column = end;
        }
    }
    return byColour;
}

void drawCutMarks(PdfDocument& pdf, double left, double top, double right, double bottom)
{
    pdf.setGrey(0.0);
    const double g = kSheetCutMarkGap, l = kSheetCutMarkLength;
    for (double x : {left, right})
    {
        pdf.drawLine(x, top - g, x, top - g - l, kCutMarkWidth);
        pdf.drawLine(x, bottom + g, x, bottom + g + l, kCutMarkWidth);
    }
    for (double y : {top, bottom})
    {
        pdf.drawLine(left - g, y, left - g - l, y, kCutMarkWidth);
        pdf.drawLine(right + g, y, right + g + l, y, kCutMarkWidth);
    }
}

std::string millimetres(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g mm", value);
    return text;
}

// The black square with the pattern's cells over it, in one of the pattern's four orientations.
void drawSquare(PdfDocument& pdf, const osgART::Pattern& pattern, int orientation,
                const SheetPlacement& place)
{
    const double s = place.size;
    pdf.setGrey(0.0);
    pdf.fillRectangle(place.x, place.y, s, s);
    const double cell = s / 2.0 / osgART::Pattern::kSize;
    const double origin[2] = {place.x + s / 4.0, place.y + s / 4.0};
    for (const auto& [colour, rectangles] : patternRectangles(pattern, orientation))
    {
        if (colour == std::make_tuple(0, 0, 0))
            continue; // the black square shows through
        pdf.setColour(std::get<0>(colour) / 255.0, std::get<1>(colour) / 255.0, std::get<2>(colour) / 255.0);
        for (const Rectangle& r : rectangles)
            pdf.fillRectangle(origin[0] + r.column * cell, origin[1] + r.row * cell, r.width * cell,
                              r.height * cell);
    }
}

// Width and height of the marker's black area: a board's spans its squares.
struct Extent
{
    double width, height, left, top; ///< left and top: the board frame's x and y at the area's corner
};

Extent extentOf(const SheetMarker& marker)
{
    if (marker.squares.empty())
        return {marker.size, marker.size, 0.0, 0.0};
    double left = marker.squares[0].x, right = left, bottom = marker.squares[0].y, top = bottom;
    for (const SheetSquare& square : marker.squares)
    {
        left = std::min(left, square.x - square.size / 2.0);
        right = std::max(right, square.x + square.size / 2.0);
        bottom = std::min(bottom, square.y - square.size / 2.0);
        top = std::max(top, square.y + square.size / 2.0);
    }
    return {right - left, top - bottom, left, top};
}

// The paper kept around a board is that of its largest square.
double quietZoneOf(const SheetMarker& marker)
{
    double largest = marker.size;
    if (!marker.squares.empty())
    {
        largest = 0.0;
        for (const SheetSquare& square : marker.squares)
            largest = std::max(largest, square.size);
    }
    return quietZone(largest);
}

std::string labelOf(const SheetMarker& marker, const SheetPlacement& place)
{
    if (marker.squares.empty())
        return marker.name + "  " + millimetres(place.size);
    return marker.name + "  " + millimetres(place.size) + " x " + millimetres(place.height);
}

std::string doesNotFit(const SheetMarker& marker, const Extent& extent)
{
    const double usable = std::min(PdfDocument::kA4Width, PdfDocument::kA4Height) - 2.0 * kSheetPageMargin;
    char text[200];
    if (marker.squares.empty())
        std::snprintf(text, sizeof text,
                      "marker %s: a size of %g mm does not fit on an A4 page (at most %g mm)",
                      marker.name.c_str(), marker.size, usable / (1.0 + 2.0 * kSheetQuietZoneShare));
    else
        std::snprintf(text, sizeof text,
                      "board %s: %g x %g mm of squares with their paper around do not fit on an A4 page, or "
                      "a square's size is not positive",
                      marker.name.c_str(), extent.width, extent.height);
    return text;
}

// The marker's square or the board's squares, the cut marks around the paper and the label in the
// paper's lower strip.
void drawMarker(PdfDocument& pdf, const SheetMarker& marker, const SheetPlacement& place)
{
    if (marker.squares.empty())
        drawSquare(pdf, marker.pattern, 0, place);
    for (size_t k = 0; k < marker.squares.size(); ++k)
        drawSquare(pdf, marker.squares[k].pattern, marker.squares[k].quarterTurns & 3,
                   squarePlacement(marker, place, k));
    const double q = quietZoneOf(marker);
    drawCutMarks(pdf, place.x - q, place.y - q, place.x + place.size + q, place.y + place.height + q);
    const std::string label = labelOf(marker, place);
    pdf.setGrey(0.0);
    pdf.drawText(place.x + (place.size - PdfDocument::textWidth(label, kSheetLabelSize)) / 2.0,
                 place.y + place.height + q - 2.5, kSheetLabelSize, label);
}

} // namespace

double quietZone(double size)
{
    return std::max(kSheetQuietZoneShare * size, kSheetMinimumQuietZone);
}

SheetPlacement squarePlacement(const SheetMarker& board, const SheetPlacement& place, size_t k)
{
    const Extent extent = extentOf(board);
    const SheetSquare& square = board.squares[k];
    return {place.page, place.x + square.x - square.size / 2.0 - extent.left,
            place.y + extent.top - square.y - square.size / 2.0, square.size, square.size};
}

bool layoutMarkerSheet(const std::vector<SheetMarker>& markers, std::vector<SheetPlacement>& placements,
                       std::string& error)
{
    const double usableWidth = PdfDocument::kA4Width - 2.0 * kSheetPageMargin;
    const double usableHeight = PdfDocument::kA4Height - 2.0 * kSheetPageMargin;
    placements.clear();
    size_t page = 0;
    double x = kSheetPageMargin, y = kSheetPageMargin, rowHeight = 0.0;
    for (const SheetMarker& marker : markers)
    {
        const Extent extent = extentOf(marker);
        const double q = quietZoneOf(marker);
        const double cutWidth = extent.width + 2.0 * q, cutHeight = extent.height + 2.0 * q;
        const bool squaresSized = std::all_of(marker.squares.begin(), marker.squares.end(),
                                              [](const SheetSquare& square) { return square.size > 0.0; });
        if (!(marker.size > 0.0) || !squaresSized || cutWidth > usableWidth || cutHeight > usableHeight)
        {
            error = doesNotFit(marker, extent);
            return false;
        }
        if (x + cutWidth > PdfDocument::kA4Width - kSheetPageMargin + 1e-9)
        {
            x = kSheetPageMargin;
            y += rowHeight + kCellGap;
            rowHeight = 0.0;
        }
        if (y + cutHeight > PdfDocument::kA4Height - kSheetPageMargin + 1e-9)
        {
            ++page;
            x = kSheetPageMargin;
            y = kSheetPageMargin;
            rowHeight = 0.0;
        }
        placements.push_back({page, x + q, y + q, extent.width, extent.height});
        x += cutWidth + kCellGap;
        rowHeight = std::max(rowHeight, cutHeight);
    }
    return true;
}

bool writeMarkerSheet(const std::string& path, const std::vector<SheetMarker>& markers, std::string& error,
                      std::vector<SheetPlacement>* placements)
{
    std::vector<SheetPlacement> places;
    if (!layoutMarkerSheet(markers, places, error))
        return false;
    PdfDocument pdf;
    for (size_t i = 0; i < markers.size(); ++i)
    {
        while (pdf.pageCount() <= places[i].page)
            pdf.addPage(PdfDocument::kA4Width, PdfDocument::kA4Height);
        drawMarker(pdf, markers[i], places[i]);
    }
    if (placements != nullptr)
        *placements = places;
    return pdf.save(path, error);
}

bool writeChessboardSheet(const std::string& path, const Chessboard& board, std::string& error)
{
    const bool landscape = board.columns > board.rows;
    const double pageWidth = landscape ? PdfDocument::kA4Height : PdfDocument::kA4Width;
    const double pageHeight = landscape ? PdfDocument::kA4Width : PdfDocument::kA4Height;
    // Room under the board for its description.
    const double textRoom = 10.0;
    const double width = board.columns * board.square, height = board.rows * board.square;
    if (board.columns < 3 || board.rows < 3 || !(board.square > 0.0) ||
        width > pageWidth - 2.0 * kSheetPageMargin || height > pageHeight - 2.0 * kSheetPageMargin - textRoom)
    {
        char text[200];
        std::snprintf(text, sizeof text,
                      "a chessboard of %d x %d squares of %g mm does not fit on an A4 page (at least 3 "
                      "squares a side, at most %g x %g mm)",
                      board.columns, board.rows, board.square,
                      PdfDocument::kA4Height - 2.0 * kSheetPageMargin,
                      PdfDocument::kA4Width - 2.0 * kSheetPageMargin - textRoom);
        error = text;
        return false;
    }
    PdfDocument pdf;
    pdf.addPage(pageWidth, pageHeight);
    const double left = (pageWidth - width) / 2.0, top = (pageHeight - height - textRoom) / 2.0;
    pdf.setGrey(0.0);
    for (int row = 0; row < board.rows; ++row)
        for (int column = row % 2; column < board.columns; column += 2)
            pdf.fillRectangle(left + column * board.square, top + row * board.square, board.square,
                              board.square);
    char label[200];
    std::snprintf(label, sizeof label,
                  "Chessboard: %d x %d squares of %g mm.  novaro-calibrate --board %dx%d --square %g",
                  board.columns, board.rows, board.square, board.columns - 1, board.rows - 1, board.square);
    pdf.drawText(left, top + height + textRoom - 3.0, kSheetLabelSize, label);
    return pdf.save(path, error);
}

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

} // namespace Novaro
