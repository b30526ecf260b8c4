#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace osgART
{

/// The 8-connected regions of the nonzero pixels of a binary image, found from its runs (stretches
/// of nonzero pixels along a row) joined where they touch a run of the row above, with what a
/// marker search asks of a region before tracing it: its bounding box, its pixel count and its
/// number of holes. The holes come free with the joining: the runs of a region and the contacts
/// between them form a graph whose independent cycles are the region's holes (contacts - runs + 1),
/// because two runs of one row never touch and a contact between two rows is a single strip.
/// Cost: one pass over the image's bytes to find the runs, then work in the number of runs (a few
/// per hundred pixels of busy texture, none on flat paper).
class DarkRegions
{
public:
    struct Region
    {
        cv::Rect bounds;
        int pixels = 0;
        int holes = 0;
        int runs = 0; ///< stretches of pixels along rows
        /// Runs again, but a run that starts at most kBridgedGap pixels after the end of the
        /// region's previous run in the same row continues it: the gaps camera noise bites into a
        /// solid band (a pixel or two) do not cut it, while the gaps of a mesh of lines or of a
        /// letter's strokes, wider than that, still do.
        int spans = 0;
    };
    /// Widest gap, pixels, across which a region's runs in one row count as one span (default 2).
    static const int kBridgedGap = 2;

    /// binary: CV_8UC1, nonzero pixels form the regions.
    void find(const cv::Mat& binary);
    const std::vector<Region>& regions() const { return _regions; }

    /// The leftmost and rightmost pixel of each row of the regions wanted (indices into regions()),
    /// from each wanted region's own runs, linked as the regions were collected: the few regions a
    /// marker search wants hold a small share of busy texture's runs.
    void findRowEnds(const std::vector<int>& wanted);
    /// The outline of a region of the last findRowEnds() as seen along its rows: its leftmost pixel
    /// in each row from the top, then its rightmost pixel in each row from the bottom (image pixels);
    /// empty for a region that was not wanted. For a convex region (a marker's border seen in any
    /// perspective) it is the outer contour; a concave one comes out with its notches between rows
    /// filled, and so does a notch one row high in a side (a row whose end falls short of both its
    /// neighbours' takes the nearer of theirs).
    void rowOutline(int index, std::vector<cv::Point>& outline) const;

private:
    struct Run
    {
        int row, start, end; ///< end is one past the last pixel
        int parent;          ///< union-find link; a root's is itself
        int contacts;        ///< runs of the row above it touches
    };
    void findRuns(const unsigned char* row, int y, int width);
    void joinRows(int above, int aboveEnd, int current, int currentEnd);
    void collectRegions();

    /// A region's extent while its runs are collected.
    struct Extent
    {
        int left, right, top, bottom; ///< right is one past the last pixel
        int pixels, runs, spans, contacts;
        int firstRun, lastRun; ///< the region's runs in order, linked through _nextRun
    };

    std::vector<Run> _runs; ///< the first _runCount are this image's; the rest is room kept
    size_t _runCount = 0;
    std::vector<int> _regionOfRun;
    std::vector<int> _nextRun; ///< the next run of the same region; -1 after its last
    std::vector<Extent> _extents;
    std::vector<Region> _regions;
    /// Per region, the slot of its first row in _left and _right less its top row; kNotWanted
    /// (the smallest int) when not wanted.
    std::vector<int> _rowsAt;
    std::vector<int> _left, _right;
};

} // namespace osgART
