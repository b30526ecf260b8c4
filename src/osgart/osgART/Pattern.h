#pragma once

#include <array>
#include <string>

namespace cv
{
class Mat;
}

namespace osgART
{

/// The inside of a square marker as a 16 x 16 colour pattern, kept in four orientations: the upright
/// pattern, then the pattern turned a quarter turn counter-clockwise once, twice and three times.
///
/// Pattern file (.patt): the four orientations one after the other, each as three colour planes
/// (blue, green, red), each plane 16 rows top to bottom of 16 values left to right (0 black,
/// 255 white), separated by white space. The pattern fills the inner half of the marker; the black
/// border takes a quarter of the marker width on each side.
class Pattern
{
public:
    static const int kSize = 16;
    static const int kOrientations = 4;
    /// Values of one orientation: plane (0 blue, 1 green, 2 red), row, column.
    using Block = std::array<std::array<std::array<unsigned char, kSize>, kSize>, 3>;

    Pattern();

    bool load(const std::string& fileName, std::string* error = nullptr);
    bool save(const std::string& fileName) const;

    /// Builds the four orientations from an upright pattern image (BGR or grey, any size, resampled
    /// to 16 x 16 by area averaging).
    bool setFromImage(const cv::Mat& pattern);
    /// The upright pattern area of a full marker image (black border included): the inner half.
    bool setFromMarkerImage(const cv::Mat& marker);

    const Block& block(int orientation) const { return _blocks[size_t(orientation)]; }

    /// Grey value of an orientation at (row, column), the mean of the three planes.
    float grey(int orientation, int row, int column) const;

    /// The upright pattern as a 16 x 16 BGR image.
    void uprightImage(cv::Mat& image) const;

private:
    std::array<Block, kOrientations> _blocks;
};

} // namespace osgART
