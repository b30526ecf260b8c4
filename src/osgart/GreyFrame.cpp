#include "osgART/GreyFrame.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <cstring>

namespace osgART
{

namespace
{

// BT.601 luma weights scaled by 2^8 (they add up to 256, so white stays 255): every product and
// their sum fit in 16 bits, so eight pixels go through one vector operation.
const unsigned short kRedWeight = 77;
const unsigned short kGreenWeight = 150;
const unsigned short kBlueWeight = 29;
const int kWeightShift = 8;

inline unsigned char luma(unsigned red, unsigned green, unsigned blue)
{
    return static_cast<unsigned char>(
        (red * kRedWeight + green * kGreenWeight + blue * kBlueWeight + (1u << (kWeightShift - 1))) >>
        kWeightShift);
}

#if CV_SIMD128
// Sixteen pixels' luma from their channels, in two halves of eight 16-bit lanes.
inline cv::v_uint8x16 luma(const cv::v_uint8x16& red, const cv::v_uint8x16& green, const cv::v_uint8x16& blue)
{
    const cv::v_uint16x8 redWeight = cv::v_setall_u16(kRedWeight);
    const cv::v_uint16x8 greenWeight = cv::v_setall_u16(kGreenWeight);
    const cv::v_uint16x8 blueWeight = cv::v_setall_u16(kBlueWeight);
    const cv::v_uint16x8 rounding = cv::v_setall_u16(1u << (kWeightShift - 1));
    cv::v_uint16x8 redLow, redHigh, greenLow, greenHigh, blueLow, blueHigh;
    cv::v_expand(red, redLow, redHigh);
    cv::v_expand(green, greenLow, greenHigh);
    cv::v_expand(blue, blueLow, blueHigh);
    const cv::v_uint16x8 low = cv::v_mul_wrap(redLow, redWeight) + cv::v_mul_wrap(greenLow, greenWeight) +
                               cv::v_mul_wrap(blueLow, blueWeight) + rounding;
    const cv::v_uint16x8 high = cv::v_mul_wrap(redHigh, redWeight) + cv::v_mul_wrap(greenHigh, greenWeight) +
                                cv::v_mul_wrap(blueHigh, blueWeight) + rounding;
    return cv::v_pack(cv::v_shr<kWeightShift>(low), cv::v_shr<kWeightShift>(high));
}
#endif

template <int Channels, int Red, int Blue>
void greyRow(const unsigned char* source, unsigned char* grey, int width)
{
    int x = 0;
#if CV_SIMD128
    for (; x + 16 <= width; x += 16)
    {
        cv::v_uint8x16 first, second, third, fourth;
        if (Channels == 3)
            cv::v_load_deinterleave(source + 3 * x, first, second, third);
        else
            cv::v_load_deinterleave(source + 4 * x, first, second, third, fourth);
        cv::v_store(grey + x, luma(Red == 0 ? first : third, second, Blue == 0 ? first : third));
    }
#endif
    for (; x < width; ++x)
    {
        const unsigned char* pixel = source + Channels * x;
        grey[x] = luma(pixel[Red], pixel[1], pixel[Blue]);
    }
}

template <int Channels, int Red, int Blue>
void convertRows(const cv::Mat& source, bool flipVertical, bool mirror, cv::Mat& grey)
{
    const int width = source.cols;
    for (int y = 0; y < source.rows; ++y)
    {
        const unsigned char* row = source.ptr<unsigned char>(flipVertical ? source.rows - 1 - y : y);
        unsigned char* out = grey.ptr<unsigned char>(y);
        if (Channels == 1)
            std::memcpy(out, row, size_t(width));
        else
            greyRow<Channels, Red, Blue>(row, out, width);
        if (mirror)
            std::reverse(out, out + width);
    }
}

} // namespace

void makeGreyFrame(const cv::Mat& source, PixelLayout layout, bool flipVertical, bool mirror, cv::Mat& grey)
{
    if (layout == PixelLayout::GREY && !flipVertical && !mirror)
    {
        grey = source;
        return;
    }
    // Pixels grey only borrowed (a frame shared by an earlier call) are not its to overwrite.
    if (!grey.u)
        grey.release();
    grey.create(source.rows, source.cols, CV_8UC1);
    switch (layout)
    {
    case PixelLayout::GREY:
        convertRows<1, 0, 0>(source, flipVertical, mirror, grey);
        break;
    case PixelLayout::RGB:
        convertRows<3, 0, 2>(source, flipVertical, mirror, grey);
        break;
    case PixelLayout::BGR:
        convertRows<3, 2, 0>(source, flipVertical, mirror, grey);
        break;
    case PixelLayout::RGBA:
        convertRows<4, 0, 2>(source, flipVertical, mirror, grey);
        break;
    case PixelLayout::BGRA:
        convertRows<4, 2, 0>(source, flipVertical, mirror, grey);
        break;
    }
}

} // namespace osgART
