#include "FrameConverter.h"

#include <opencv2/imgproc.hpp>

#include <linux/videodev2.h>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace osgART
{

namespace
{

// Bytes per pixel of the first plane, and the whole buffer's size relative to it in halves
// (2: one plane; 3: a 4:2:0 chroma plane of half the luma plane follows).
struct Layout
{
    int bytesPerPixel;
    int halvesOfFirstPlane;
    int conversion; // cv::cvtColor code; -1 copies
};

bool layoutOf(uint32_t fourcc, Layout& layout)
{
    switch (fourcc)
    {
    case V4L2_PIX_FMT_YUYV:
        layout = {2, 2, cv::COLOR_YUV2BGR_YUYV};
        return true;
    case V4L2_PIX_FMT_YVYU:
        layout = {2, 2, cv::COLOR_YUV2BGR_YVYU};
        return true;
    case V4L2_PIX_FMT_UYVY:
        layout = {2, 2, cv::COLOR_YUV2BGR_UYVY};
        return true;
    case V4L2_PIX_FMT_NV12:
        layout = {1, 3, cv::COLOR_YUV2BGR_NV12};
        return true;
    case V4L2_PIX_FMT_NV21:
        layout = {1, 3, cv::COLOR_YUV2BGR_NV21};
        return true;
    case V4L2_PIX_FMT_YUV420:
        layout = {1, 3, cv::COLOR_YUV2BGR_I420};
        return true;
    case V4L2_PIX_FMT_YVU420:
        layout = {1, 3, cv::COLOR_YUV2BGR_YV12};
        return true;
    case V4L2_PIX_FMT_GREY:
        layout = {1, 2, cv::COLOR_GRAY2BGR};
        return true;
    case V4L2_PIX_FMT_RGB24:
        layout = {3, 2, cv::COLOR_RGB2BGR};
        return true;
    case V4L2_PIX_FMT_BGR24:
        layout = {3, 2, -1};
        return true;
    default:
        return false;
    }
}

bool isJpeg(uint32_t fourcc)
{
    return fourcc == V4L2_PIX_FMT_MJPEG || fourcc == V4L2_PIX_FMT_JPEG;
}

// FFmpeg's "J" formats are the plain ones in full range, which the scaler wants said separately.
AVPixelFormat withoutFullRangeAlias(AVPixelFormat format, bool& fullRange)
{
    switch (format)
    {
    case AV_PIX_FMT_YUVJ420P:
        fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        return format;
    }
}

} // namespace

std::string fourccText(uint32_t fourcc)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
    {
        const char c = char((fourcc >> shift) & 0xff);
        text += c >= ' ' && c < 127 ? c : '?';
    }
    return text;
}

int formatCost(uint32_t fourcc)
{
    Layout layout;
    if (isJpeg(fourcc))
        return 3;
    if (!layoutOf(fourcc, layout))
        return -1;
    return layout.halvesOfFirstPlane == 2 && layout.bytesPerPixel == 2 ? 0 : layout.conversion == -1 ? 1 : 2;
}

FrameConverter::~FrameConverter()
{
    release();
}

void FrameConverter::release()
{
    sws_freeContext(_scaler);
    _scaler = nullptr;
    av_frame_free(&_frame);
    av_packet_free(&_packet);
    avcodec_free_context(&_jpeg);
}

bool FrameConverter::convert(uint32_t fourcc, int width, int height, int bytesPerLine, const uint8_t* data,
                             std::size_t size, cv::Mat& bgr, std::string& error)
{
    if (isJpeg(fourcc))
        return convertJpeg(width, height, data, size, bgr, error);
    Layout layout;
    if (!layoutOf(fourcc, layout))
    {
        error = "pixel format " + fourccText(fourcc) + " is not supported";
        return false;
    }
    const std::size_t packed = std::size_t(width) * layout.bytesPerPixel;
    const std::size_t stride = bytesPerLine > 0 ? std::size_t(bytesPerLine) : packed;
    // Three planes with padded rows have chroma rows of half that padding: not one matrix.
    const bool threePlanes = fourcc == V4L2_PIX_FMT_YUV420 || fourcc == V4L2_PIX_FMT_YVU420;
    if (threePlanes && stride != packed)
    {
        error = "padded rows of " + fourccText(fourcc) + " are not supported";
        return false;
    }
    const int rows = height * layout.halvesOfFirstPlane / 2;
    if (stride < packed || size < stride * std::size_t(rows - 1) + packed)
    {
        error = "short frame: " + std::to_string(size) + " bytes for " + fourccText(fourcc) + " " +
                std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    const int type = layout.bytesPerPixel == 2 ? CV_8UC2 : layout.bytesPerPixel == 3 ? CV_8UC3 : CV_8UC1;
    const cv::Mat source(rows, width, type, const_cast<uint8_t*>(data), stride);
    if (layout.conversion < 0)
        source.copyTo(bgr);
    else
        cv::cvtColor(source, bgr, layout.conversion);
    return true;
}

bool FrameConverter::convertJpeg(int width, int height, const uint8_t* data, std::size_t size, cv::Mat& bgr,
                                 std::string& error)
{
    if (!_jpeg)
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        _jpeg = codec ? avcodec_alloc_context3(codec) : nullptr;
        _packet = av_packet_alloc();
        _frame = av_frame_alloc();
        if (_jpeg)
            _jpeg->thread_count = 1; // one frame in, the same frame out: no decoding delay
        if (!_jpeg || !_packet || !_frame || avcodec_open2(_jpeg, codec, nullptr) < 0)
        {
            release();
            error = "FFmpeg has no Motion JPEG decoder";
            return false;
        }
    }
    _packet->data = const_cast<uint8_t*>(data);
    _packet->size = int(size);
    const bool decoded =
        avcodec_send_packet(_jpeg, _packet) >= 0 && avcodec_receive_frame(_jpeg, _frame) >= 0;
    if (!decoded || _frame->width != width || _frame->height != height)
    {
        if (decoded)
            av_frame_unref(_frame);
        error = "damaged Motion JPEG frame";
        return false;
    }
    bool fullRange = _frame->color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = withoutFullRangeAlias(AVPixelFormat(_frame->format), fullRange);
    _scaler = sws_getCachedContext(_scaler, width, height, format, width, height, AV_PIX_FMT_BGR24,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!_scaler)
    {
        av_frame_unref(_frame);
        error = "cannot convert the decoded JPEG";
        return false;
    }
    // JPEG's YCbCr spans 0..255, unlike video's 16..235.
    int* inverse = nullptr;
    int* table = nullptr;
    int sourceRange = 0, targetRange = 0, brightness = 0, contrast = 0, saturation = 0;
    sws_getColorspaceDetails(_scaler, &inverse, &sourceRange, &table, &targetRange, &brightness, &contrast,
                             &saturation);
    sws_setColorspaceDetails(_scaler, sws_getCoefficients(SWS_CS_ITU601), fullRange ? 1 : 0, table,
                             targetRange, brightness, contrast, saturation);
    bgr.create(height, width, CV_8UC3);
    uint8_t* planes[4] = {bgr.data, nullptr, nullptr, nullptr};
    int strides[4] = {int(bgr.step[0]), 0, 0, 0};
    sws_scale(_scaler, _frame->data, _frame->linesize, 0, height, planes, strides);
    av_frame_unref(_frame);
    return true;
}

} // namespace osgART
