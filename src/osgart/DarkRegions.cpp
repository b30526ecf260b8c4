#include "osgART/DarkRegions.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace osgART
{

namespace
{

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
void DarkRegions::findRuns(const unsigned char* row, int y, int width)
{
    bool inside = false;
    int start = 0;
    auto toggle = [&](int x)
    {
        if (inside)
        {
            const int index = int(_runs.size());
            _runs.push_back(Run{y, start, x, index, 0, -1});
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
}

int DarkRegions::root(int run)
{
    while (_runs[size_t(run)].parent != run)
    {
        // Path halving: each step also shortens the path for the next search.
        Run& r = _runs[size_t(run)];
        r.parent = _runs[size_t(r.parent)].parent;
        run = r.parent;
    }
    return run;
}

// Every run of the current row joined with the runs of the row above that it touches (8-connected:
// overlapping or meeting at a corner); both rows' runs are in order, so one sweep finds them all.
void DarkRegions::joinRows(int above, int aboveEnd, int current, int currentEnd)
{
    for (int k = current; k < currentEnd; ++k)
    {
        Run& run = _runs[size_t(k)];
        while (above < aboveEnd && _runs[size_t(above)].end < run.start)
            ++above;
        for (int a = above; a < aboveEnd && _runs[size_t(a)].start <= run.end; ++a)
        {
            ++run.contacts;
            const int first = root(a), second = root(k);
            if (first != second)
                _runs[size_t(std::max(first, second))].parent = std::min(first, second);
        }
    }
}

void DarkRegions::find(const cv::Mat& binary)
{
    _runs.clear();
    _regions.clear();
    if (binary.empty() || binary.type() != CV_8UC1)
        return;
    int previous = 0, previousEnd = 0;
    for (int y = 0; y < binary.rows; ++y)
    {
        const int first = int(_runs.size());
        findRuns(binary.ptr<unsigned char>(y), y, binary.cols);
        joinRows(previous, previousEnd, first, int(_runs.size()));
        previous = first;
        previousEnd = int(_runs.size());
    }
    collectRegions();
}

// Bounding box, pixels, holes and the chain of runs of every region, in the order of their first
// run (top to bottom, left to right).
void DarkRegions::collectRegions()
{
    _regionOfRoot.assign(_runs.size(), -1);
    _lastRun.clear();
    std::vector<int> runs, contacts;
    for (size_t k = 0; k < _runs.size(); ++k)
    {
        const int top = root(int(k));
        const Run& run = _runs[k];
        int& index = _regionOfRoot[size_t(top)];
        if (index < 0)
        {
            index = int(_regions.size());
            Region region;
            region.bounds = cv::Rect(run.start, run.row, run.end - run.start, 1);
            region.firstRun = int(k);
            _regions.push_back(region);
            _lastRun.push_back(int(k));
            runs.push_back(0);
            contacts.push_back(0);
        }
        Region& region = _regions[size_t(index)];
        const int left = std::min(region.bounds.x, run.start);
        const int right = std::max(region.bounds.x + region.bounds.width, run.end);
        region.bounds.x = left;
        region.bounds.width = right - left;
        region.bounds.height = run.row - region.bounds.y + 1;
        region.pixels += run.end - run.start;
        ++runs[size_t(index)];
        contacts[size_t(index)] += run.contacts;
        if (_lastRun[size_t(index)] != int(k))
            _runs[size_t(_lastRun[size_t(index)])].next = int(k);
        _lastRun[size_t(index)] = int(k);
    }
    for (size_t k = 0; k < _regions.size(); ++k)
    {
        _regions[k].holes = std::max(0, contacts[k] - runs[k] + 1);
        _regions[k].runs = runs[k];
    }
}

void DarkRegions::rowOutline(const Region& region, std::vector<cv::Point>& outline) const
{
    const int rows = region.bounds.height;
    _left.assign(size_t(rows), region.bounds.x + region.bounds.width);
    _right.assign(size_t(rows), region.bounds.x - 1);
    for (int k = region.firstRun; k >= 0; k = _runs[size_t(k)].next)
    {
        const Run& run = _runs[size_t(k)];
        const size_t row = size_t(run.row - region.bounds.y);
        _left[row] = std::min(_left[row], run.start);
        _right[row] = std::max(_right[row], run.end - 1);
    }
    outline.clear();
    for (int row = 0; row < rows; ++row)
        outline.emplace_back(_left[size_t(row)], region.bounds.y + row);
    for (int row = rows - 1; row >= 0; --row)
        outline.emplace_back(_right[size_t(row)], region.bounds.y + row);
}

} // namespace osgART
