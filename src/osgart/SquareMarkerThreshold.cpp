// Binarising the search image: tile extremes, a level per window, and the comparison with it.

#include "osgART/SquareMarkerDetector.h"

#include "SquareMarkerSampling.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace osgART
{

using namespace sampling;

static_assert(kTile == 4, "tile extremes are taken four columns at a time");

void SquareMarkerDetector::binarise(const cv::Mat& search)
{
    if (_parameters.thresholdMode == FIXED)
        cv::threshold(search, _binary, std::max(0, _parameters.threshold - 1), 255, cv::THRESH_BINARY_INV);
    else
        binariseAdaptive(search);
}

namespace
{

// The darkest (Maximum false) or brightest of three rows of bytes, sixteen at a time.
template <bool Maximum>
void extremeOfRows(const unsigned char* a, const unsigned char* b, const unsigned char* c, unsigned char* out,
                   int count)
{
    int x = 0;
#ifdef __SSE2__
    for (; x + 16 <= count; x += 16)
    {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + x));
        const __m128i result = Maximum ? _mm_max_epu8(_mm_max_epu8(first, second), third)
                                       : _mm_min_epu8(_mm_min_epu8(first, second), third);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), result);
    }
#endif
    for (; x < count; ++x)
        out[x] = Maximum ? std::max(std::max(a[x], b[x]), c[x]) : std::min(std::min(a[x], b[x]), c[x]);
}

// The darkest (Maximum false) or brightest pixel of each 3 x 3 neighbourhood of a small 8-bit grid,
// the window cut at the grid's edges: along the rows into a scratch grid, then down its columns, so
// in may be out. On the tile grids, a sixteenth of the frame, a general morphology filter's set-up
// costs more than this whole pass.
template <bool Maximum> void extremeOfNeighbours(const cv::Mat& in, cv::Mat& scratch, cv::Mat& out)
{
    const int rows = in.rows, columns = in.cols;
    scratch.create(rows, columns, CV_8UC1);
    for (int y = 0; y < rows; ++y)
    {
        const unsigned char* row = in.ptr<unsigned char>(y);
        unsigned char* across = scratch.ptr<unsigned char>(y);
        if (columns < 2)
        {
            across[0] = row[0];
            continue;
        }
        extremeOfRows<Maximum>(row, row + 1, row + 2, across + 1, columns - 2);
        across[0] = Maximum ? std::max(row[0], row[1]) : std::min(row[0], row[1]);
        across[columns - 1] = Maximum ? std::max(row[columns - 2], row[columns - 1])
                                      : std::min(row[columns - 2], row[columns - 1]);
    }
    out.create(rows, columns, CV_8UC1);
    for (int y = 0; y < rows; ++y)
        extremeOfRows<Maximum>(scratch.ptr<unsigned char>(std::max(0, y - 1)), scratch.ptr<unsigned char>(y),
                               scratch.ptr<unsigned char>(std::min(rows - 1, y + 1)),
                               out.ptr<unsigned char>(y), columns);
}

// Each tile's level and whether it is flat, from its window's darkest and brightest pixel. Written
// branch-free on separate arrays so that the compiler does it sixteen tiles at a time; x / 255 is
// (x + 1 + x / 256) / 256 for every x the level can reach (up to 255 * 255 + 127).
void levelsOfRow(const unsigned char* __restrict minimum, const unsigned char* __restrict maximum,
                 unsigned char* __restrict level, unsigned char* __restrict flat, int count, int threshold)
{
    for (int x = 0; x < count; ++x)
    {
        const unsigned contrast = unsigned(maximum[x] - minimum[x]);
        const unsigned scaled = contrast * unsigned(threshold) + 127u;
        const unsigned above = minimum[x] + ((scaled + 1u + (scaled >> 8)) >> 8);
        const bool isFlat = contrast < unsigned(SquareMarkerDetector::kMinimumContrast);
        flat[x] = isFlat ? 255 : 0;
        // Level 0: no pixel is darker, the flat window stays blank.
        level[x] = isFlat ? 0 : static_cast<unsigned char>(above);
    }
}

void takeWhereFlat(const unsigned char* __restrict spread, const unsigned char* __restrict flat,
                   unsigned char* __restrict level, int count)
{
    for (int x = 0; x < count; ++x)
        level[x] =
            static_cast<unsigned char>((spread[x] & flat[x]) | (level[x] & ~flat[x])); // flat is 0 or 255
}

} // namespace

void SquareMarkerDetector::binariseAdaptive(const cv::Mat& search)
{
    const int tilesX = (search.cols + kTile - 1) / kTile;
    const int tilesY = (search.rows + kTile - 1) / kTile;
    findTileExtremes(search, tilesX, tilesY);
    // Each tile's extremes over its 3 x 3 neighbourhood, so that no level changes abruptly at a tile
    // boundary that an edge happens to follow.
    extremeOfNeighbours<false>(_tileMinimum, _tileScratch, _tileMinimum);
    extremeOfNeighbours<true>(_tileMaximum, _tileScratch, _tileMaximum);
    _tileLevel.create(tilesY, tilesX, CV_8UC1);
    _tileFlat.create(tilesY, tilesX, CV_8UC1);
    const int threshold = std::min(255, std::max(0, _parameters.threshold));
    for (int ty = 0; ty < tilesY; ++ty)
        levelsOfRow(_tileMinimum.ptr<unsigned char>(ty), _tileMaximum.ptr<unsigned char>(ty),
                    _tileLevel.ptr<unsigned char>(ty), _tileFlat.ptr<unsigned char>(ty), tilesX, threshold);
    // Flat tiles near contrast take its level, so that the inside of a wide border stays dark and
    // the paper beside it bright; farther away they stay blank.
    for (int pass = 0; pass < kFlatReach; ++pass)
    {
        extremeOfNeighbours<true>(_tileLevel, _tileScratch, _spreadLevel);
        for (int ty = 0; ty < tilesY; ++ty)
            takeWhereFlat(_spreadLevel.ptr<unsigned char>(ty), _tileFlat.ptr<unsigned char>(ty),
                          _tileLevel.ptr<unsigned char>(ty), tilesX);
    }
    compareWithTileLevels(search);
}

// Darkest and brightest pixel of every tile: down each band of tile rows column by column, then
// across the tiles. Plain loops over bytes, which the compiler turns into vector instructions.
void SquareMarkerDetector::findTileExtremes(const cv::Mat& search, int tilesX, int tilesY)
{
    _tileMinimum.create(tilesY, tilesX, CV_8UC1);
    _tileMaximum.create(tilesY, tilesX, CV_8UC1);
    _columnMinimum.create(1, search.cols, CV_8UC1);
    _columnMaximum.create(1, search.cols, CV_8UC1);
    unsigned char* columnMinimum = _columnMinimum.ptr<unsigned char>(0);
    unsigned char* columnMaximum = _columnMaximum.ptr<unsigned char>(0);
    const int width = search.cols;
    for (int ty = 0; ty < tilesY; ++ty)
    {
        const int top = ty * kTile, bottom = std::min(search.rows, top + kTile);
        std::memcpy(columnMinimum, search.ptr<unsigned char>(top), size_t(width));
        std::memcpy(columnMaximum, search.ptr<unsigned char>(top), size_t(width));
        for (int y = top + 1; y < bottom; ++y)
        {
            const unsigned char* row = search.ptr<unsigned char>(y);
            for (int x = 0; x < width; ++x)
            {
                columnMinimum[x] = std::min(columnMinimum[x], row[x]);
                columnMaximum[x] = std::max(columnMaximum[x], row[x]);
            }
        }
        unsigned char* minimum = _tileMinimum.ptr<unsigned char>(ty);
        unsigned char* maximum = _tileMaximum.ptr<unsigned char>(ty);
        // Whole tiles with the four columns written out, which the compiler vectorises; then the
        // narrower last tile, if any.
        const int wholeTiles = width / kTile;
        for (int tx = 0; tx < wholeTiles; ++tx)
        {
            const unsigned char* low = columnMinimum + kTile * tx;
            const unsigned char* high = columnMaximum + kTile * tx;
            minimum[tx] = std::min(std::min(low[0], low[1]), std::min(low[2], low[3]));
            maximum[tx] = std::max(std::max(high[0], high[1]), std::max(high[2], high[3]));
        }
        if (wholeTiles < tilesX)
        {
            const int left = wholeTiles * kTile;
            minimum[wholeTiles] = *std::min_element(columnMinimum + left, columnMinimum + width);
            maximum[wholeTiles] = *std::max_element(columnMaximum + left, columnMaximum + width);
        }
    }
}

// Border candidates: pixels darker than their tile's level. The level row is spread to pixel width
// once per band of tile rows, so the comparison itself is one vectorised pass.
void SquareMarkerDetector::compareWithTileLevels(const cv::Mat& search)
{
    _binary.create(search.size(), CV_8UC1);
    _level.create(1, search.cols, CV_8UC1);
    unsigned char* levelRow = _level.ptr<unsigned char>(0);
    const int width = search.cols;
    for (int top = 0; top < search.rows; top += kTile)
    {
        const unsigned char* tileLevel = _tileLevel.ptr<unsigned char>(top / kTile);
        const int wholeTiles = width / kTile;
        for (int tx = 0; tx < wholeTiles; ++tx)
            for (int k = 0; k < kTile; ++k)
                levelRow[kTile * tx + k] = tileLevel[tx];
        for (int x = wholeTiles * kTile; x < width; ++x)
            levelRow[x] = tileLevel[x / kTile];
        const int bottom = std::min(search.rows, top + kTile);
        for (int y = top; y < bottom; ++y)
        {
            const unsigned char* row = search.ptr<unsigned char>(y);
            unsigned char* binary = _binary.ptr<unsigned char>(y);
            for (int x = 0; x < width; ++x)
                binary[x] = row[x] < levelRow[x] ? 255 : 0;
        }
    }
}

} // namespace osgART
