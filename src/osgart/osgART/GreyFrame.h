#pragma once

#include <opencv2/core.hpp>

namespace osg
{
class Image;
} // namespace osg

namespace osgART
{

/// How the bytes of one pixel of a video frame are laid out.
enum class PixelLayout
{
    GREY,
    GREY_ALPHA, ///< grey byte first
    RGB,
    BGR,
    RGBA,
    BGRA
};

/// The frame the detector reads, made in one pass over a video frame: grey, top row first and
/// unmirrored. flipVertical takes the rows bottom-up (OpenGL's origin), mirror reverses each row.
/// The grey is the BT.601 luma in 7-bit fixed point (within one grey level of OpenCV's cvtColor),
/// 32 pixels a step with AVX2 or 16 with SSSE3, whichever the processor has, in a single read of
/// the frame; every path gives the same bytes.
/// A grey frame that needs neither flip is not copied: grey then shares source's pixels.
/// With halved given, the frame halved as halveGreyFrame() makes it comes too, each output row made
/// from its two grey rows while they are still in the cache: cheaper than a second pass over the
/// whole grey frame.
void makeGreyFrame(const cv::Mat& source, PixelLayout layout, bool flipVertical, bool mirror, cv::Mat& grey,
                   cv::Mat* halved = nullptr);

/// An OSG image's pixels as it holds them (its first row first, whichever way up it is), and
/// their layout. False, with nothing set, for images other than 8-bit grey, grey+alpha, RGB, BGR,
/// RGBA or BGRA; pixels borrows the image's memory.
bool pixelsOfImage(const osg::Image& image, cv::Mat& pixels, PixelLayout& layout);

/// Half the width and height (rounded down): every pixel the rounded mean of a 2 x 2 block, so that
/// pixel (x, y) sits at (2x + 0.5, 2y + 0.5) of the grey frame. A last odd row or column is left out.
void halveGreyFrame(const cv::Mat& grey, cv::Mat& halved);

} // namespace osgART
