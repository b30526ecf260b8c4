// Light taken out of real photographs: uneven light, a flat card's noise, and the reduced-resolution
// measure against full-size Gaussians.
#include <osgART/LightNormaliser.h>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

using namespace osgART;

// A photograph nobody here took, lit unevenly (a third of the light at one side, a haze rising to
// the other), looks normalised as it does evenly lit; flat surroundings keep the
// camera's noise small; and the quarter-resolution measure agrees with a full-size Gaussian.
TEST(LightNormaliser, TakesOutUnevenLightButNotNoise)
{
    const cv::Mat photograph =
        cv::imread("/usr/share/doc/opencv-doc/examples/data/fruits.jpg", cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(photograph.empty()) << "install Debian's opencv-doc (scripts/install-deps.sh does)";
    cv::Mat lit(photograph.size(), CV_8U);
    for (int y = 0; y < lit.rows; ++y)
        for (int x = 0; x < lit.cols; ++x)
        {
            const double across = double(x) / (lit.cols - 1);
            lit.at<unsigned char>(y, x) = cv::saturate_cast<unsigned char>(
                (0.35 + 0.65 * across) * photograph.at<unsigned char>(y, x) + 40.0 * (1.0 - across));
        }
    const double reach = 16.0, floor = 5.0;
    LightNormaliser light(reach, floor);
    cv::Mat even, uneven;
    light.normalise(photograph, even);
    light.normalise(lit, uneven);
    // Matched only overall (mean and spread), the two differ by 10 grey levels on average.
    cv::Mat overall;
    cv::Scalar evenMean, evenSpread, litMean, litSpread;
    cv::meanStdDev(photograph, evenMean, evenSpread);
    cv::meanStdDev(lit, litMean, litSpread);
    lit.convertTo(overall, CV_8U, evenSpread[0] / litSpread[0],
                  evenMean[0] - evenSpread[0] / litSpread[0] * litMean[0]);
    const double overallDifference =
        cv::mean(cv::abs(cv::Mat_<double>(overall) - cv::Mat_<double>(photograph)))[0];
    const double difference = cv::mean(cv::abs(cv::Mat_<double>(uneven) - cv::Mat_<double>(even)))[0];
    cv::Scalar normalisedMean, normalisedSpread;
    cv::meanStdDev(even, normalisedMean, normalisedSpread);
    // Each as a share of its own picture's spread of grey levels: measured 0.22 matched overall,
    // 0.064 normalised (the rest is the dark side's rounding and its spread nearer the floor).
    EXPECT_GT(overallDifference / evenSpread[0], 0.15);
    EXPECT_LT(difference / normalisedSpread[0], 0.5 * overallDifference / evenSpread[0]);

    // The full-size reference: the same formula with OpenCV's Gaussian at full resolution.
    cv::Mat level, mean, deviation, variance, reference;
    photograph.convertTo(level, CV_32F);
    cv::GaussianBlur(level, mean, cv::Size(), reach, reach, cv::BORDER_REPLICATE);
    deviation = level - mean;
    cv::GaussianBlur(deviation.mul(deviation), variance, cv::Size(), reach, reach, cv::BORDER_REPLICATE);
    cv::sqrt(variance + floor * floor, variance);
    cv::Mat(deviation / variance * LightNormaliser::kNormalisedSpread + 128.0).convertTo(reference, CV_8U);
    EXPECT_LT(cv::mean(cv::abs(cv::Mat_<double>(reference) - cv::Mat_<double>(even)))[0], 2.0);

    // A flat grey card with 2 grey levels of noise: raised to sqrt(2^2 + 5^2), not to full contrast.
    cv::Mat card(240, 320, CV_8U), flat;
    cv::randn(card, 128.0, 2.0);
    light.normalise(card, flat);
    cv::Scalar flatMean, flatSpread;
    cv::meanStdDev(flat, flatMean, flatSpread);
    EXPECT_NEAR(flatMean[0], 128.0, 2.0);
    EXPECT_LT(flatSpread[0], 0.5 * LightNormaliser::kNormalisedSpread);
}
