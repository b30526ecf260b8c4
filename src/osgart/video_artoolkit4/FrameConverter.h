#pragma once

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace osgART
{

/// The V4L2 pixel format's four letters ("YUYV", "MJPG").
std::string fourccText(uint32_t fourcc);

/// How cheaply a camera format becomes BGR, 0 best; -1 for a format the capture cannot convert.
/// Packed YUV first (one pass over the bytes), then planar YUV and RGB, JPEG last (decoding).
int formatCost(uint32_t fourcc);

/// Turns one captured buffer into an 8-bit BGR frame, the tracker's format, in one pass: packed
/// YUV 4:2:2 (YUYV, YVYU, UYVY), planar YUV 4:2:0 (NV12, NV21, YU12, YV12), grey, RGB24, BGR24 and
/// Motion JPEG (FFmpeg's decoder). YUV is taken as BT.601 with video range, as cameras send it.
class FrameConverter
{
public:
    FrameConverter() = default;
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    /// bytesPerLine is the stride of the first plane (0: tightly packed); size is the bytes the
    /// device filled. False, with the reason, for a buffer too short for its format or a JPEG
    /// that does not decode to the given size.
    bool convert(uint32_t fourcc, int width, int height, int bytesPerLine, const uint8_t* data,
                 std::size_t size, cv::Mat& bgr, std::string& error);

private:
    bool convertJpeg(int width, int height, const uint8_t* data, std::size_t size, cv::Mat& bgr,
                     std::string& error);
    void release();

    AVCodecContext* _jpeg = nullptr;
    AVPacket* _packet = nullptr;
    AVFrame* _frame = nullptr;
    SwsContext* _scaler = nullptr;
};

} // namespace osgART
