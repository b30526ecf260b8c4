// The detector's grey frame against OpenCV's own conversion, flips and halving, for every pixel
// layout, and the layouts read from OSG images.
#include <osgART/GreyFrame.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <osg/Image>

#include <utility>

using namespace osgART;

namespace
{

struct Layout
{
    PixelLayout layout;
    int channels;
    int code;      // OpenCV's conversion to grey; -1 for grey itself, -2 for the first of two bytes
    GLenum format; // the same layout in an OSG image
};

const Layout kLayouts[] = {{PixelLayout::GREY, 1, -1, GL_LUMINANCE},
                           {PixelLayout::GREY_ALPHA, 2, -2, GL_LUMINANCE_ALPHA},
                           {PixelLayout::RGB, 3, cv::COLOR_RGB2GRAY, GL_RGB},
                           {PixelLayout::BGR, 3, cv::COLOR_BGR2GRAY, GL_BGR},
                           {PixelLayout::RGBA, 4, cv::COLOR_RGBA2GRAY, GL_RGBA},
                           {PixelLayout::BGRA, 4, cv::COLOR_BGRA2GRAY, GL_BGRA}};

cv::Mat openCVGrey(const cv::Mat& frame, int code)
{
    cv::Mat grey;
    if (code >= 0)
        cv::cvtColor(frame, grey, code);
    else if (code == -2)
        cv::extractChannel(frame, grey, 0);
    else
        grey = frame.clone();
    return grey;
}

} // namespace

TEST(GreyFrame, MatchesOpenCVConversionAndFlipsForEveryLayout)
{
    cv::RNG random(7);
    for (const Layout& layout : kLayouts)
    {
        // An odd width, so that the vector loops end on a partial block.
        cv::Mat frame(37, 53, CV_MAKETYPE(CV_8U, layout.channels));
        random.fill(frame, cv::RNG::UNIFORM, 0, 256);
        const cv::Mat expectedUpright = openCVGrey(frame, layout.code);
        for (int flips = 0; flips < 4; ++flips)
        {
            const bool vertical = flips & 1, mirror = flips & 2;
            cv::Mat expected = expectedUpright.clone();
            if (vertical || mirror)
                cv::flip(expectedUpright, expected, vertical && mirror ? -1 : (vertical ? 0 : 1));
            cv::Mat grey, halved;
            makeGreyFrame(frame, layout.layout, vertical, mirror, grey, &halved);
            ASSERT_EQ(expected.size(), grey.size());
            ASSERT_EQ(CV_8UC1, grey.type());
            // Within one grey level: the weights are rounded to eight bits.
            EXPECT_GE(1, cv::norm(expected, grey, cv::NORM_INF))
                << "layout " << layout.channels << " channels, code " << layout.code << ", flips " << flips;
            // The halved frame, made on the way, is the rounded mean of each whole 2 x 2 block of
            // the grey frame (OpenCV's area resampling at exactly half), the odd last row and
            // column left out.
            cv::Mat means;
            cv::resize(grey(cv::Rect(0, 0, 52, 36)), means, cv::Size(26, 18), 0, 0, cv::INTER_AREA);
            ASSERT_EQ(means.size(), halved.size());
            EXPECT_EQ(0, cv::norm(means, halved, cv::NORM_INF)) << "flips " << flips;
        }
    }
}

TEST(GreyFrame, ReadsEveryImageFormatsLayoutAndNeverWritesIntoPixelsItOnlyBorrowed)
{
    cv::Mat first(8, 8, CV_8UC1, cv::Scalar(10)), second(8, 8, CV_8UC1, cv::Scalar(20));
    cv::Mat grey;
    makeGreyFrame(cv::Mat(first.rows, first.cols, CV_8UC1, first.data), PixelLayout::GREY, false, false,
                  grey);
    EXPECT_EQ(first.data, grey.data) << "an upright grey frame is used in place";
    // The next frame, the same size, needs a flip: it must not land in the first frame's pixels.
    makeGreyFrame(second, PixelLayout::GREY, true, false, grey);
    EXPECT_NE(first.data, grey.data);
    EXPECT_EQ(std::make_pair(10, 20),
              std::make_pair(int(first.at<unsigned char>(0, 0)), int(grey.at<unsigned char>(0, 0))));

    // Every image format's layout is read, its pixels borrowed; other formats are refused.
    cv::RNG random(11);
    for (const Layout& layout : kLayouts)
    {
        // Rows padded to four bytes, as OSG packs them: the row step must come from the image.
        osg::ref_ptr<osg::Image> image = new osg::Image;
        image->allocateImage(19, 7, 1, layout.format, GL_UNSIGNED_BYTE, 4);
        const cv::Mat written(7, 19, CV_MAKETYPE(CV_8U, layout.channels), image->data(),
                              image->getRowStepInBytes());
        random.fill(written, cv::RNG::UNIFORM, 0, 256);
        cv::Mat pixels, grey;
        PixelLayout found = PixelLayout::GREY;
        ASSERT_TRUE(pixelsOfImage(*image, pixels, found)) << "format " << layout.format;
        EXPECT_EQ(layout.layout, found);
        EXPECT_EQ(image->data(), pixels.data) << "the image's pixels are borrowed, not copied";
        makeGreyFrame(pixels, found, false, false, grey);
        EXPECT_GE(1, cv::norm(openCVGrey(written, layout.code), grey, cv::NORM_INF))
            << "format " << layout.format;
    }
    cv::Mat pixels;
    PixelLayout found;
    osg::ref_ptr<osg::Image> floats = new osg::Image;
    floats->allocateImage(4, 4, 1, GL_LUMINANCE, GL_FLOAT);
    EXPECT_FALSE(pixelsOfImage(*floats, pixels, found));
    osg::ref_ptr<osg::Image> depth = new osg::Image;
    depth->allocateImage(4, 4, 1, GL_DEPTH_COMPONENT, GL_UNSIGNED_BYTE);
    EXPECT_FALSE(pixelsOfImage(*depth, pixels, found));
    osg::ref_ptr<osg::Image> empty = new osg::Image;
    EXPECT_FALSE(pixelsOfImage(*empty, pixels, found)) << "an image without pixels";
}
