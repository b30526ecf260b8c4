#include "osgART/GreyFrame.h"

#include <osg/Image>

#if defined(__x86_64__) || defined(__i386__)
#define NOVARO_X86_KERNELS 1
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstring>

namespace osgART
{

namespace
{

// BT.601 luma weights scaled by 2^7 (they add up to 128, so white stays 255). Seven bits, because
// the vector kernels multiply bytes by signed bytes (pmaddubsw); every path, vector or scalar, does
// the same integer sums, so the grey frame does not depend on the processor.
const int kRedWeight = 38;
const int kGreenWeight = 75;
const int kBlueWeight = 15;
const int kWeightShift = 7;

inline unsigned char luma(unsigned red, unsigned green, unsigned blue)
{
    return static_cast<unsigned char>(
        (red * kRedWeight + green * kGreenWeight + blue * kBlueWeight + (1u << (kWeightShift - 1))) >>
        kWeightShift);
}

// A row of pixels to grey: Channels bytes a pixel, red at byte Red and blue at byte Blue.
// Returns the pixels converted; the caller finishes the row.
using RowKernel = int (*)(const unsigned char* source, unsigned char* grey, int width);

template <int Channels, int Red, int Blue>
int scalarRow(const unsigned char* source, unsigned char* grey, int width)
{
    for (int x = 0; x < width; ++x)
    {
        const unsigned char* pixel = source + Channels * x;
        grey[x] = luma(pixel[Red], pixel[1], pixel[Blue]);
    }
    return width;
}

#ifdef NOVARO_X86_KERNELS
// Four pixels of a 16-byte block, each widened to four bytes with a zero fourth byte, so that
// pmaddubsw pairs (first, green) and (third, 0) of every pixel.
#define NOVARO_SPREAD_THREE 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1
#define NOVARO_WEIGHTS(Red, Blue)                                                                            \
    char(Red == 0 ? kRedWeight : kBlueWeight), char(kGreenWeight),                                           \
        char(Red == 0 ? kBlueWeight : kRedWeight), 0

// Sixteen pixels a step: the three (or four) 16-byte loads are spread to four pixels of four bytes
// each, multiplied by the weights and summed in pairs into 16-bit lanes, then packed to bytes.
template <int Channels, int Red, int Blue>
__attribute__((target("ssse3"))) int ssse3Row(const unsigned char* source, unsigned char* grey, int width)
{
    const __m128i spread = _mm_setr_epi8(NOVARO_SPREAD_THREE);
    const __m128i weights = _mm_setr_epi8(NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue),
                                          NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue));
    const __m128i rounding = _mm_set1_epi16(1 << (kWeightShift - 1));
    int x = 0;
    for (; x + 16 <= width; x += 16)
    {
        const unsigned char* block = source + Channels * x;
        __m128i first, second, third, fourth;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 32));
        if (Channels == 3)
        {
            first = _mm_shuffle_epi8(v0, spread);
            second = _mm_shuffle_epi8(_mm_alignr_epi8(v1, v0, 12), spread);
            third = _mm_shuffle_epi8(_mm_alignr_epi8(v2, v1, 8), spread);
            fourth = _mm_shuffle_epi8(_mm_srli_si128(v2, 4), spread);
        }
        else
        {
            first = v0;
            second = v1;
            third = v2;
            fourth = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 48));
        }
        const __m128i low =
            _mm_hadd_epi16(_mm_maddubs_epi16(first, weights), _mm_maddubs_epi16(second, weights));
        const __m128i high =
            _mm_hadd_epi16(_mm_maddubs_epi16(third, weights), _mm_maddubs_epi16(fourth, weights));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(grey + x),
                         _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(low, rounding), kWeightShift),
                                          _mm_srli_epi16(_mm_add_epi16(high, rounding), kWeightShift)));
    }
    return x;
}

__attribute__((target("avx2"))) inline __m256i loadTwoBlocks(const unsigned char* block, int offset,
                                                             int distance)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + offset))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + distance + offset)), 1);
}

// The SSSE3 step on two blocks of sixteen pixels at once, one in each 128-bit lane (the shuffles,
// pair sums and packing of AVX2 all stay within their lane, so the pixels keep their order).
template <int Channels, int Red, int Blue>
__attribute__((target("avx2"))) int avx2Row(const unsigned char* source, unsigned char* grey, int width)
{
    const __m256i spread = _mm256_setr_epi8(NOVARO_SPREAD_THREE, NOVARO_SPREAD_THREE);
    const __m256i weights =
        _mm256_setr_epi8(NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue),
                         NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue),
                         NOVARO_WEIGHTS(Red, Blue), NOVARO_WEIGHTS(Red, Blue));
    const __m256i rounding = _mm256_set1_epi16(1 << (kWeightShift - 1));
    const int blockBytes = 16 * Channels;
    int x = 0;
    for (; x + 32 <= width; x += 32)
    {
        const unsigned char* block = source + Channels * x;
        __m256i first, second, third, fourth;
        const __m256i v0 = loadTwoBlocks(block, 0, blockBytes);
        const __m256i v1 = loadTwoBlocks(block, 16, blockBytes);
        const __m256i v2 = loadTwoBlocks(block, 32, blockBytes);
        if (Channels == 3)
        {
            first = _mm256_shuffle_epi8(v0, spread);
            second = _mm256_shuffle_epi8(_mm256_alignr_epi8(v1, v0, 12), spread);
            third = _mm256_shuffle_epi8(_mm256_alignr_epi8(v2, v1, 8), spread);
            fourth = _mm256_shuffle_epi8(_mm256_srli_si256(v2, 4), spread);
        }
        else
        {
            first = v0;
            second = v1;
            third = v2;
            fourth = loadTwoBlocks(block, 48, blockBytes);
        }
        const __m256i low =
            _mm256_hadd_epi16(_mm256_maddubs_epi16(first, weights), _mm256_maddubs_epi16(second, weights));
        const __m256i high =
            _mm256_hadd_epi16(_mm256_maddubs_epi16(third, weights), _mm256_maddubs_epi16(fourth, weights));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(grey + x),
            _mm256_packus_epi16(_mm256_srli_epi16(_mm256_add_epi16(low, rounding), kWeightShift),
                                _mm256_srli_epi16(_mm256_add_epi16(high, rounding), kWeightShift)));
    }
    return x + ssse3Row<Channels, Red, Blue>(source + Channels * x, grey + x, width - x);
}

#undef NOVARO_SPREAD_THREE
#undef NOVARO_WEIGHTS
#endif

// The widest kernel this processor runs, chosen once.
template <int Channels, int Red, int Blue> RowKernel vectorKernel()
{
    static const RowKernel kernel = []() -> RowKernel
    {
#ifdef NOVARO_X86_KERNELS
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2"))
            return &avx2Row<Channels, Red, Blue>;
        if (__builtin_cpu_supports("ssse3"))
            return &ssse3Row<Channels, Red, Blue>;
#endif
        return nullptr;
    }();
    return kernel;
}

// One row of the halved frame from two rows of the grey one. On x86, 16 output pixels a step with
// SSE2 (every x86-64 processor has it): the pair sums are taken in 16-bit lanes, even bytes masked
// and odd bytes shifted down; the same rounded sums as the scalar loop that finishes the row.
void halveRows(const unsigned char* top, const unsigned char* bottom, unsigned char* halved, int width)
{
    int x = 0;
#ifdef NOVARO_X86_KERNELS
    const __m128i lowBytes = _mm_set1_epi16(0x00ff), two = _mm_set1_epi16(2);
    const auto pairSums = [&](const unsigned char* pixels)
    {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
        return _mm_add_epi16(_mm_and_si128(bytes, lowBytes), _mm_srli_epi16(bytes, 8));
    };
    for (; x + 16 <= width; x += 16)
    {
        const __m128i first = _mm_add_epi16(pairSums(top + 2 * x), pairSums(bottom + 2 * x));
        const __m128i second = _mm_add_epi16(pairSums(top + 2 * x + 16), pairSums(bottom + 2 * x + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(halved + x),
                         _mm_packus_epi16(_mm_srli_epi16(_mm_add_epi16(first, two), 2),
                                          _mm_srli_epi16(_mm_add_epi16(second, two), 2)));
    }
#endif
    for (; x < width; ++x)
        halved[x] = static_cast<unsigned char>(
            (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + 2) >> 2);
}

template <int Channels, int Red, int Blue>
void convertRows(const cv::Mat& source, bool flipVertical, bool mirror, cv::Mat& grey, cv::Mat* halved)
{
    RowKernel kernel = nullptr;
    if constexpr (Channels >= 3)
        kernel = vectorKernel<Channels, Red, Blue>();
    const int width = source.cols;
    for (int y = 0; y < source.rows; ++y)
    {
        const unsigned char* row = source.ptr<unsigned char>(flipVertical ? source.rows - 1 - y : y);
        unsigned char* out = grey.ptr<unsigned char>(y);
        if constexpr (Channels == 1)
            std::memcpy(out, row, size_t(width));
        else if constexpr (Channels == 2)
        {
            for (int x = 0; x < width; ++x)
                out[x] = row[2 * x];
        }
        else
        {
            const int done = kernel ? kernel(row, out, width) : 0;
            scalarRow<Channels, Red, Blue>(row + Channels * done, out + done, width - done);
        }
        if (mirror)
            std::reverse(out, out + width);
        if (halved && y % 2 == 1 && y / 2 < halved->rows)
            halveRows(grey.ptr<unsigned char>(y - 1), out, halved->ptr<unsigned char>(y / 2), halved->cols);
    }
}

} // namespace

void makeGreyFrame(const cv::Mat& source, PixelLayout layout, bool flipVertical, bool mirror, cv::Mat& grey,
                   cv::Mat* halved)
{
    if (layout == PixelLayout::GREY && !flipVertical && !mirror)
    {
        grey = source;
        if (halved)
            halveGreyFrame(grey, *halved);
        return;
    }
    // Pixels grey only borrowed (a frame shared by an earlier call) are not its to overwrite.
    if (!grey.u)
        grey.release();
    grey.create(source.rows, source.cols, CV_8UC1);
    if (halved)
        halved->create(source.rows / 2, source.cols / 2, CV_8UC1);
    switch (layout)
    {
    case PixelLayout::GREY:
        convertRows<1, 0, 0>(source, flipVertical, mirror, grey, halved);
        break;
    case PixelLayout::GREY_ALPHA:
        convertRows<2, 0, 0>(source, flipVertical, mirror, grey, halved);
        break;
    case PixelLayout::RGB:
        convertRows<3, 0, 2>(source, flipVertical, mirror, grey, halved);
        break;
    case PixelLayout::BGR:
        convertRows<3, 2, 0>(source, flipVertical, mirror, grey, halved);
        break;
    case PixelLayout::RGBA:
        convertRows<4, 0, 2>(source, flipVertical, mirror, grey, halved);
        break;
    case PixelLayout::BGRA:
        convertRows<4, 2, 0>(source, flipVertical, mirror, grey, halved);
        break;
    }
}

bool pixelsOfImage(const osg::Image& image, cv::Mat& pixels, PixelLayout& layout)
{
    if (image.getDataType() != GL_UNSIGNED_BYTE || !image.data())
        return false;
    int channels = 0;
    switch (image.getPixelFormat())
    {
    case GL_LUMINANCE:
        layout = PixelLayout::GREY;
        channels = 1;
        break;
    case GL_LUMINANCE_ALPHA:
        layout = PixelLayout::GREY_ALPHA;
        channels = 2;
        break;
    case GL_RGB:
        layout = PixelLayout::RGB;
        channels = 3;
        break;
    case GL_BGR:
        layout = PixelLayout::BGR;
        channels = 3;
        break;
    case GL_RGBA:
        layout = PixelLayout::RGBA;
        channels = 4;
        break;
    case GL_BGRA:
        layout = PixelLayout::BGRA;
        channels = 4;
        break;
    default:
        return false;
    }
    pixels = cv::Mat(image.t(), image.s(), CV_MAKETYPE(CV_8U, channels),
                     const_cast<unsigned char*>(image.data()), image.getRowStepInBytes());
    return true;
}

void halveGreyFrame(const cv::Mat& grey, cv::Mat& halved)
{
    CV_Assert(grey.type() == CV_8UC1);
    halved.create(grey.rows / 2, grey.cols / 2, CV_8UC1);
    for (int y = 0; y < halved.rows; ++y)
        halveRows(grey.ptr<unsigned char>(2 * y), grey.ptr<unsigned char>(2 * y + 1),
                  halved.ptr<unsigned char>(y), halved.cols);
}

} // namespace osgART
