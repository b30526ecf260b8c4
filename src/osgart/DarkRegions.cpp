#include "osgART/DarkRegions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace osgART
{

namespace
{

const int kNotWanted = std::numeric_limits<int>::min(); // in _rowsAt

// Bit k set when pixel k of the 64 from row is nonzero.
inline uint64_t nonzeroBits(const unsigned char* row)
{
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    uint64_t bits = 0;
    for (int k = 0; k < 4; ++k)
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16 * k));
        const uint64_t zeros = uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))));
        bits |= (~zeros & 0xffffu) << (16 * k);
    }
    return bits;
#else
    uint64_t bits = 0;
    for (int k = 0; k < 64; ++k)
        bits |= uint64_t(row[k] != 0) << k;
    return bits;
#endif
}

} // namespace

// The runs of one row, 64 pixels at a time: the places where a pixel differs from the one before
// it are the set bits of the pixels' bits against themselves shifted by one, taken lowest first.
// Changes alternate between a run's start and its end. The runs are written behind the last row's,
// into room made for the most a row can hold.
void DarkRegions::findRuns(const unsigned char* row, int y, int width)
{
    const size_t most = _runCount + size_t(width) / 2 + 1;
    if (_runs.size() < most)
        _runs.resize(std::max(most, 2 * _runs.size()));
    Run* const runs = _runs.data();
    int count = int(_runCount);
    bool inside = false;
    int start = 0;
    auto toggle = [&](int x)
    {
        if (inside)
        {
            runs[count] = Run{y, start, x, count, 0};
            ++count;
        }
        else
            start = x;
        inside = !inside;
    };
    int x = 0;
    uint64_t before = 0; // the pixel left of the block, in bit 0
    for (; x + 64 <= width; x += 64)
    {
        const uint64_t bits = nonzeroBits(row + x);
        for (uint64_t changes = bits ^ ((bits << 1) | before); changes != 0; changes &= changes - 1)
            toggle(x + __builtin_ctzll(changes));
        before = bits >> 63;
    }
    for (; x < width; ++x)
        if ((row[x] != 0) != inside)
            toggle(x);
    if (inside)
        toggle(width);
    _runCount = size_t(count);
}

namespace
{

// The root of a run's region; path halving shortens the path for the next search.
template <class Run> inline int rootOf(Run* runs, int run)
{
    while (runs[run].parent != run)
    {
        Run& r = runs[run];
        r.parent = runs[r.parent].parent;
        run = r.parent;
    }
    return run;
}

} // namespace

// Every run of the current row joined with the runs of the row above that it touches (8-connected:
// overlapping or meeting at a corner); both rows' runs are in order, so one sweep finds them all.
void DarkRegions::joinRows(int above, int aboveEnd, int current, int currentEnd)
{
    Run* runs = _runs.data();
    for (int k = current; k < currentEnd; ++k)
    {
        Run& run = runs[k];
        int top = k; // the run's root so far: it is its own until it touches a run above
        while (above < aboveEnd && runs[above].end < run.start)
            ++above;
        int contacts = 0;
        for (int a = above; a < aboveEnd && runs[a].start <= run.end; ++a)
        {
            ++contacts;
            const int other = rootOf(runs, a);
            if (other == top)
                continue;
            // The smaller index becomes the root: a region's root is then its first run.
            if (other < top)
            {
                runs[top].parent = other;
                top = other;
            }
            else
                runs[other].parent = top;
        }
        run.contacts = contacts;
    }
}

void DarkRegions::find(const cv::Mat& binary)
{
    _runCount = 0;
    _regions.clear();
    if (binary.empty() || binary.type() != CV_8UC1)
        return;
    int previous = 0, previousEnd = 0;
    for (int y = 0; y < binary.rows; ++y)
    {
        const int first = int(_runCount);
        findRuns(binary.ptr<unsigned char>(y), y, binary.cols);
        joinRows(previous, previousEnd, first, int(_runCount));
        previous = first;
        previousEnd = int(_runCount);
    }
    collectRegions();
}

// Bounding box, pixels and holes of every region, in the order of their first run (top to bottom,
// left to right). A run's parent always precedes it and a region's root is its first run, so one
// pass in run order labels every run from its parent's label, with no search for roots. The pass
// keeps each region's extent in plain integers and makes the regions from them at the end.
void DarkRegions::collectRegions()
{
    _regionOfRun.resize(_runCount);
    _nextRun.resize(_runCount);
    _extents.clear();
    const Run* const runs = _runs.data();
    int* const regionOf = _regionOfRun.data();
    int* const next = _nextRun.data();
    for (size_t k = 0; k < _runCount; ++k)
    {
        const Run& run = runs[k];
        next[k] = -1;
        int index;
        if (run.parent == int(k))
        {
            index = int(_extents.size());
            _extents.push_back(Extent{run.start, run.end, run.row, run.row, 0, 0, 0, 0, int(k), int(k)});
        }
        else
        {
            index = regionOf[run.parent];
            next[_extents[size_t(index)].lastRun] = int(k);
        }
        regionOf[k] = index;
        Extent& extent = _extents[size_t(index)];
        extent.lastRun = int(k);
        // The run before it in memory order is its left neighbour when it lies in the same row.
        const bool continues = k > 0 && runs[k - 1].row == run.row && regionOf[k - 1] == index &&
                               run.start - runs[k - 1].end <= kBridgedGap;
        extent.spans += continues ? 0 : 1;
        extent.left = std::min(extent.left, run.start);
        extent.right = std::max(extent.right, run.end);
        extent.bottom = run.row;
        extent.pixels += run.end - run.start;
        ++extent.runs;
        extent.contacts += run.contacts;
    }
    _regions.resize(_extents.size());
    for (size_t k = 0; k < _extents.size(); ++k)
    {
        const Extent& extent = _extents[k];
        Region& region = _regions[k];
        region.bounds =
            cv::Rect(extent.left, extent.top, extent.right - extent.left, extent.bottom - extent.top + 1);
        region.pixels = extent.pixels;
        region.runs = extent.runs;
        region.spans = extent.spans;
        region.holes = std::max(0, extent.contacts - extent.runs + 1);
    }
}

void DarkRegions::findRowEnds(const std::vector<int>& wanted)
{
    _rowsAt.assign(_regions.size(), kNotWanted);
    int rows = 0;
    for (int index : wanted)
    {
        _rowsAt[size_t(index)] = rows - _regions[size_t(index)].bounds.y;
        rows += _regions[size_t(index)].bounds.height;
    }
    _left.assign(size_t(rows), std::numeric_limits<int>::max());
    _right.assign(size_t(rows), -1);
    const Run* const runs = _runs.data();
    const int* const next = _nextRun.data();
    for (int index : wanted)
    {
        // Stored less the region's top row: adding a run's own row gives its slot.
        const int first = _rowsAt[size_t(index)];
        for (int k = _extents[size_t(index)].firstRun; k >= 0; k = next[k])
        {
            const Run& run = runs[k];
            const size_t row = size_t(first + run.row);
            _left[row] = std::min(_left[row], run.start);
            _right[row] = std::max(_right[row], run.end - 1);
        }
    }
}

void DarkRegions::rowOutline(int index, std::vector<cv::Point>& outline) const
{
    outline.clear();
    if (index < 0 || size_t(index) >= _rowsAt.size() || _rowsAt[size_t(index)] == kNotWanted)
        return;
    const cv::Rect& bounds = _regions[size_t(index)].bounds;
    const size_t first = size_t(_rowsAt[size_t(index)] + bounds.y);
    const size_t last = first + size_t(bounds.height) - 1;
    // A row that falls short of both its neighbours is a notch one row high: on a blurred edge, a
    // camera's noise splits a thin line of the border's ramp off the border for a row, joined at one
    // end. Taken as the nearer neighbour's end, it leaves the outline straight.
    for (size_t row = first; row <= last; ++row)
    {
        int left = _left[row];
        if (row > first && row < last)
            left = std::min(left, std::max(_left[row - 1], _left[row + 1]));
        outline.emplace_back(left, bounds.y + int(row - first));
    }
    for (size_t row = last + 1; row-- > first;)
    {
        int right = _right[row];
        if (row > first && row < last)
            right = std::max(right, std::min(_right[row - 1], _right[row + 1]));
        outline.emplace_back(right, bounds.y + int(row - first));
    }
}

} // namespace osgART
