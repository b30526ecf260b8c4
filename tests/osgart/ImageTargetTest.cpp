// Image targets: training and rating of pictures, detection at known poses rendered by the hard-case
// renderer (which shares no code with the tracker), following from frame to frame, and the tracker
// plugin's "image" markers.
#include <osgART/HammingMatcher.h>
#include <osgART/ImageTarget.h>
#include <osgART/ImageTargetTracker.h>

#include "NotifyCapture.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgcodecs.hpp>

#include <osg/Quat>

#include "HardCaseScene.h"
#include "ImageTargetScene.h"
#include "TestSupport.h"

using namespace Novaro;

namespace
{

const double kPi = 3.14159265358979323846;
const double kWidth = 100.0; // printed width of the test picture, millimetres
const double kFocal = 600.0;

class ImageTargetTest : public ::testing::Test
{
protected:
    static const cv::Mat& poster()
    {
        static const cv::Mat picture = makePosterPicture(480, 480, 7);
        return picture;
    }
    static cv::Mat greyPoster()
    {
        cv::Mat grey;
        cv::cvtColor(poster(), grey, cv::COLOR_BGR2GRAY);
        return grey;
    }

    void SetUp() override
    {
        ASSERT_TRUE(target.train(poster(), kWidth, &error)) << error;
        tracker.setCamera(camera);
        ASSERT_EQ(0, tracker.addTarget(target));
    }

    // The picture seen widthPixels wide, turned by spin and tilted by tilt about an axis in its plane.
    HardCaseMarker placeAt(double widthPixels, double spinDegrees, double tiltDegrees = 20.0,
                           const cv::Vec2d& offset = cv::Vec2d()) const
    {
        const double depth = kFocal * kWidth / widthPixels;
        return renderer.at(0, cv::Vec3d(offset[0] * depth, offset[1] * depth, depth),
                           tiltDegrees * kPi / 180.0, 0.7, spinDegrees * kPi / 180.0, kWidth);
    }

    // A clean frame of the placed sheets (the poster unless others are given).
    cv::Mat frameOf(const std::vector<HardCaseMarker>& placed, unsigned noiseSeed = 0,
                    const std::vector<cv::Mat>& sheets = {greyPoster()}) const
    {
        Degradation clean;
        clean.name = "clean";
        cv::Mat frame;
        renderer.render(clean, sheets, kWidth, 0.0, placed, 3, frame, noiseSeed);
        return frame;
    }

    // The picture looked for in the frame afresh, whatever earlier frames gave.
    const osgART::ImageTargetTracker::Result& detectAfresh(const cv::Mat& frame)
    {
        tracker.forget();
        tracker.process(frame, 1);
        return tracker.result(0);
    }

    // The picture refused for training, saying why, and rated 0 with the rating's reason first.
    void expectRefused(const cv::Mat& picture, const std::string& why, const std::string& ratingWhy)
    {
        osgART::ImageTarget refused;
        EXPECT_FALSE(refused.train(picture, kWidth, &error)) << why;
        EXPECT_NE(std::string::npos, error.find(why)) << error;
        const osgART::ImageTargetRating rating = osgART::rateImageTarget(picture);
        EXPECT_EQ(0, rating.score) << why;
        EXPECT_NE(std::string::npos,
                  rating.reasons.empty() ? std::string::npos : rating.reasons[0].find(ratingWhy))
            << why;
    }

    // The measured pose within the tolerances of the truth's.
    static void expectPose(const osg::Matrixd& measured, const HardCaseMarker& truth, double degrees,
                           double relative)
    {
        const osg::Matrixd pose = osgART::PoseEstimator::toOpenGL(measured);
        EXPECT_LT(NovaroTest::rotationErrorDegrees(pose, HardCaseRenderer::openGLPose(truth)), degrees);
        EXPECT_LT(NovaroTest::relativeTranslationError(pose, HardCaseRenderer::openGLPose(truth)), relative);
    }

    HardCaseRenderer renderer{640, 480, kFocal};
    osgART::CameraParameters camera =
        osgART::CameraParameters::fromIntrinsics(640, 480, kFocal, kFocal, 319.5, 239.5);
    osgART::ImageTarget target;
    osgART::ImageTargetTracker tracker;
    std::string error;
};

TEST_F(ImageTargetTest, PlainTinyOrThinPicturesAreRefusedAndRatedZeroRepetitiveTextureLowAndAPosterHigh)
{
    cv::Mat plain(300, 400, CV_8UC1);
    for (int y = 0; y < plain.rows; ++y)
        plain.row(y).setTo(cv::Scalar(80 + y / 4)); // a soft gradient: no corner anywhere
    expectRefused(plain, "features", "few features");

    // Pictures too small or too thin for ORB's pyramid are refused with their size, not left to
    // OpenCV, which throws on them (and the player aborted).
    const cv::Mat pictures[] = {cv::Mat(1, 1, CV_8UC1, cv::Scalar(128)),
                                cv::Mat(1, 8192, CV_8UC1, cv::Scalar(9)),
                                cv::Mat(8192, 20, CV_8UC1, cv::Scalar(200))};
    for (const cv::Mat& picture : pictures)
    {
        const std::string size =
            std::to_string(picture.cols) + "x" + std::to_string(picture.rows) + " pixels";
        expectRefused(picture, size, size);
    }

    const osgART::ImageTargetRating repetitive = osgART::rateImageTarget(makeRepetitivePicture(480, 6, 3));
    EXPECT_LE(repetitive.score, 2) << repetitive.repetition;
    EXPECT_GT(repetitive.repetition, 0.5);
    EXPECT_TRUE(std::any_of(repetitive.reasons.begin(), repetitive.reasons.end(),
                            [](const std::string& reason)
                            { return reason.find("repetitive") != std::string::npos; }));

    const osgART::ImageTargetRating good = osgART::rateImageTarget(poster());
    EXPECT_GE(good.score, 4) << good.repetition;
    EXPECT_LT(good.repetition, 0.25);
    EXPECT_GT(good.coverage, 0.8);
    // Features are reported where they lie in the picture given, not in the trained copy.
    for (const cv::KeyPoint& keypoint : good.keypoints)
        ASSERT_TRUE(cv::Rect2f(0, 0, 480, 480).contains(keypoint.pt));
}

TEST_F(ImageTargetTest, FoundAtEveryTurnOverAWideRangeOfSizesAndMeasuredAsPreciselyBlurred)
{
    for (double width : {420.0, 220.0, 120.0})
        for (double spin : {0.0, 90.0, 200.0, 315.0})
        {
            SCOPED_TRACE(std::to_string(width) + " px, " + std::to_string(spin) + " deg");
            const HardCaseMarker truth = placeAt(width, spin);
            const osgART::ImageTargetTracker::Result& result = detectAfresh(frameOf({truth}));
            ASSERT_TRUE(result.found);
            EXPECT_FALSE(result.followed);
            expectPose(result.pose, truth, 1.0, 0.02);
            // The outline's first corner is the picture's top-left, wherever it turned.
            EXPECT_LT(cv::norm(cv::Point2d(result.corners[0].x(), result.corners[0].y()) - truth.corners[0]),
                      3.0);
        }

    // Blurred 10 pixels along a different direction each time. Matched against the sharp picture,
    // the corners pull along the blur and the pose tips; matched against the picture blurred
    // alike, the corners moved back by the blur's centroid, it stays close to a sharp view's.
    Degradation blurred;
    blurred.name = "blurred";
    blurred.motionBlur = 10.0;
    for (unsigned view = 0; view < 6; ++view)
    {
        const HardCaseMarker truth = placeAt(260, 40.0 * view, 35.0);
        cv::Mat frame;
        renderer.render(blurred, {greyPoster()}, kWidth, 0.0, {truth}, 20 + view, frame);
        SCOPED_TRACE(view);
        ASSERT_TRUE(detectAfresh(frame).found);
        // Against the sharp picture the worst of these views is off by 0.37 degrees.
        expectPose(tracker.result(0).pose, truth, 0.25, 0.01);
    }
}

TEST_F(ImageTargetTest, SmallPictureIsFoundAndClutterAloneGivesNothing)
{
    // An eighth of the frame's width gives only a handful of matches: found all the same, nearly
    // always, and where it is.
    int found = 0;
    const int views = 8;
    for (int view = 0; view < views; ++view)
    {
        const HardCaseMarker truth = placeAt(84, 45.0 * view + 10.0, 15.0);
        const osgART::ImageTargetTracker::Result& result = detectAfresh(frameOf({truth}, unsigned(view)));
        if (!result.found)
            continue;
        ++found;
        EXPECT_LT(cv::norm(cv::Point2d(result.corners[2].x(), result.corners[2].y()) - truth.corners[2]), 3.0)
            << "view " << view;
    }
    EXPECT_GE(found, views - 1);
    // The clutter's chance agreements never pass for the picture.
    for (unsigned noise = 0; noise < 12; ++noise)
        ASSERT_FALSE(detectAfresh(frameOf({}, noise)).found) << "clutter frame " << noise;
}

// Few agreeing matches must be confirmed by the whole picture. A different poster whose top three
// fifths are the trained picture, seen small: the matches and then the alignment agree on the
// shared part, but the rest does not correlate, so it is refused, while the picture itself is
// found at the same views. (Seen larger, its matches are many and it passes for the picture.)
TEST_F(ImageTargetTest, FewMatchesOnAPosterSharingPartOfThePictureAreRefused)
{
    cv::Mat other;
    cv::cvtColor(makePosterPicture(480, 480, 21), other, cv::COLOR_BGR2GRAY);
    cv::Mat sharing = greyPoster().clone();
    const cv::Rect different(0, 288, 480, 192);
    other(different).copyTo(sharing(different));
    for (const cv::Vec2d& view : {cv::Vec2d(100.0, 45.0), cv::Vec2d(120.0, 0.0), cv::Vec2d(120.0, 100.0)})
    {
        SCOPED_TRACE(std::to_string(view[0]) + " px, " + std::to_string(view[1]) + " deg");
        const HardCaseMarker placed = placeAt(view[0], view[1], 15.0);
        EXPECT_TRUE(detectAfresh(frameOf({placed}, 0, {greyPoster()})).found);
        EXPECT_FALSE(detectAfresh(frameOf({placed}, 0, {sharing})).found);
    }
}

TEST_F(ImageTargetTest, FiveTargetsFollowedTogetherKeepTheirPosesAndNoMoreThanTheMaximumAreTaken)
{
    std::vector<cv::Mat> sheets = {greyPoster()};
    for (unsigned seed = 11; seed < 15; ++seed)
    {
        cv::Mat grey;
        cv::cvtColor(makePosterPicture(480, 480, seed), grey, cv::COLOR_BGR2GRAY);
        osgART::ImageTarget other;
        ASSERT_TRUE(other.train(grey, kWidth, &error)) << error;
        ASSERT_EQ(int(sheets.size()), tracker.addTarget(other));
        sheets.push_back(grey);
    }
    const double depth = kFocal * kWidth / 140.0;
    const std::vector<cv::Vec2d> spots = {
        {-0.3, -0.18}, {0.0, -0.18}, {0.3, -0.18}, {-0.15, 0.2}, {0.15, 0.2}};
    for (int frame = 0; frame < 4; ++frame)
    {
        std::vector<HardCaseMarker> placed;
        for (int id = 0; id < 5; ++id)
        {
            const cv::Vec3d at(spots[size_t(id)][0] * depth, spots[size_t(id)][1] * depth, depth);
            placed.push_back(renderer.at(id, at + cv::Vec3d(0.002 * frame * depth, 0, 0), 0.3, 0.5 * id,
                                         0.4 * id + 0.01 * frame, kWidth));
        }
        tracker.process(frameOf(placed, unsigned(frame), sheets), 1);
        for (size_t id = 0; id < placed.size(); ++id)
        {
            SCOPED_TRACE("target " + std::to_string(id) + ", frame " + std::to_string(frame));
            const osgART::ImageTargetTracker::Result& result = tracker.result(id);
            ASSERT_TRUE(result.found);
            // After the first frame every target is followed, sharing the frame's alignment corners.
            EXPECT_EQ(frame > 0, result.followed);
            expectPose(result.pose, placed[id], 1.0, 0.02);
        }
    }
    for (int added = 5; added < osgART::ImageTargetTracker::kMaximumTargets; ++added)
        ASSERT_EQ(added, tracker.addTarget(target));
    EXPECT_EQ(-1, tracker.addTarget(target, &error));
    EXPECT_NE(std::string::npos, error.find("no more than 20")) << error;
}

TEST_F(ImageTargetTest, FollowsByFlowAndFallsBackToDetectionWhenLost)
{
    const HardCaseMarker first = placeAt(260, 30);
    tracker.process(frameOf({first}), 1);
    ASSERT_TRUE(tracker.result(0).found && !tracker.result(0).followed);

    // (A small move is followed: the five targets test.)
    // A jump beyond the flow's reach: the points are lost and the same frame finds it by detection.
    const HardCaseMarker jumped = placeAt(200, 150, 30.0, cv::Vec2d(-0.3, 0.2));
    tracker.process(frameOf({jumped}, 2), 1);
    ASSERT_TRUE(tracker.result(0).found && !tracker.result(0).followed);
    expectPose(tracker.result(0).pose, jumped, 1.0, 0.02);

    // Gone from view: not found, nor followed onto the clutter; back again: detected.
    tracker.process(frameOf({}), 1);
    EXPECT_FALSE(tracker.result(0).found);
    tracker.process(frameOf({first}), 1);
    EXPECT_TRUE(tracker.result(0).found && !tracker.result(0).followed);
}

TEST_F(ImageTargetTest, PictureLongOutOfViewIsSearchedForInFewerFramesAndStillFound)
{
    using Tracker = osgART::ImageTargetTracker;
    const cv::Mat empty = frameOf({});
    for (int frame = 0; frame < Tracker::kIdleAfterFrames; ++frame)
        tracker.process(empty, 1);
    EXPECT_EQ(size_t(Tracker::kIdleAfterFrames), tracker.searchCount()) << "every frame, at first";
    for (int frame = 0; frame < 4 * Tracker::kIdleSearchInterval; ++frame)
        tracker.process(empty, 1);
    EXPECT_EQ(size_t(Tracker::kIdleAfterFrames + 4), tracker.searchCount());

    // Back in view: found within an interval, then searched for every frame again once lost.
    const cv::Mat seen = frameOf({placeAt(260, 30)});
    int late = 0;
    for (; late < Tracker::kIdleSearchInterval && !tracker.result(0).found; ++late)
        tracker.process(seen, 1);
    ASSERT_TRUE(tracker.result(0).found);
    const size_t searches = tracker.searchCount();
    tracker.process(empty, 1);
    tracker.process(empty, 1);
    EXPECT_EQ(searches + 2, tracker.searchCount());
    // forget() searches at once, whatever came before.
    for (int frame = 0; frame < Tracker::kIdleAfterFrames + 1; ++frame)
        tracker.process(empty, 1);
    tracker.forget();
    tracker.process(seen, 1);
    EXPECT_TRUE(tracker.result(0).found);
}

TEST_F(ImageTargetTest, TrackerPluginTracksImageMarkersBesideSquares)
{
    osg::ref_ptr<osgART::GenericTracker> plugin = NovaroTest::loadTracker();
    ASSERT_TRUE(plugin.valid());
    NovaroTest::TemporaryFolder folder;
    const std::string cameraFile = folder.file("camera.dat"), picture = folder.file("poster.png"),
                      plain = folder.file("plain.png");
    ASSERT_TRUE(camera.saveBinary(cameraFile));
    ASSERT_TRUE(cv::imwrite(picture, poster()));
    ASSERT_TRUE(cv::imwrite(plain, cv::Mat(200, 200, CV_8UC3, cv::Scalar(90, 120, 150))));
    ASSERT_TRUE(plugin->init(640, 480, cameraFile, ""));
    {
        // A picture without features is refused, naming the file and the reason.
        NovaroTest::NotifyCapture capture;
        EXPECT_EQ(nullptr, plugin->addMarker("image;" + plain + ";100"));
        bool named = false;
        for (const auto& line : capture.lines())
            named = named || (line.second.find(plain) != std::string::npos &&
                              line.second.find("features") != std::string::npos);
        EXPECT_TRUE(named);
    }
    ASSERT_NE(nullptr, plugin->addMarker("IMAGE;" + picture + ";100"));
    ASSERT_EQ(1u, plugin->getMarkerCount());

    const HardCaseMarker truth = placeAt(240, 60);
    cv::Mat grey = frameOf({truth}), colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    osg::ref_ptr<osg::Image> image = new osg::Image;
    copyFrameToImage(colour, *image, true);
    plugin->setImage(image.get());
    plugin->update();
    // (Where the plugin puts it, through the player: the image target end-to-end test. An inactive
    // marker of any kind is not reported: the tracker test of step times.)
    EXPECT_TRUE(plugin->getMarker(0)->valid());
}

} // namespace

TEST(ImageTargetMatching, TwoNearestAgreeWithOpenCVsBruteForceMatcher)
{
    cv::RNG random(5);
    cv::Mat queries(57, 32, CV_8UC1);
    random.fill(queries, cv::RNG::UNIFORM, 0, 256);
    // Set sizes around the matcher's blocks of eight, an empty set and one descriptor.
    for (int count : {0, 1, 7, 8, 9, 203})
    {
        cv::Mat set(count, 32, CV_8UC1);
        if (count > 0)
            random.fill(set, cv::RNG::UNIFORM, 0, 256);
        // Some queries lie near a descriptor of the set, as a real match does.
        for (int row = 0; row < queries.rows && count > 0; row += 3)
        {
            set.row(row % count).copyTo(queries.row(row));
            queries.at<unsigned char>(row, row % 32) ^= 0x11;
        }
        osgART::HammingMatcher matcher;
        matcher.setDescriptors(set);
        std::vector<osgART::NearestTwo> nearest;
        matcher.findNearestTwo(queries, nearest);
        ASSERT_EQ(size_t(queries.rows), nearest.size());
        if (count == 0)
        {
            for (const osgART::NearestTwo& found : nearest)
                EXPECT_EQ(-1, found.best);
            continue;
        }
        std::vector<std::vector<cv::DMatch>> expected;
        cv::BFMatcher(cv::NORM_HAMMING).knnMatch(queries, set, expected, 2);
        for (int row = 0; row < queries.rows; ++row)
        {
            const std::vector<cv::DMatch>& two = expected[size_t(row)];
            const osgART::NearestTwo& found = nearest[size_t(row)];
            EXPECT_EQ(int(two[0].distance), found.bestDistance) << "count " << count << ", row " << row;
            EXPECT_EQ(two.size() > 1 ? int(two[1].distance) : 257, found.secondDistance);
            // With a tie, either index is right.
            if (two.size() < 2 || two[0].distance < two[1].distance)
            {
                EXPECT_EQ(two[0].trainIdx, found.best) << "count " << count << ", row " << row;
            }
        }
    }
}

// OpenCV's graffiti pair, photographs nobody here took with the true homography beside them: the
// first view is found in the third (a strong change of viewpoint) with camera files whose focal
// length is off by up to a factor of two, as a generic camera file is, and its corners land where
// the true homography puts them.
TEST(ImageTargetGraffiti, FoundWithFocalLengthsFromHalfToTwiceTheTrueOne)
{
    const std::string data = "/usr/share/doc/opencv-doc/examples/data/";
    const cv::Mat fullView = cv::imread(data + "graf3.png", cv::IMREAD_GRAYSCALE);
    cv::FileStorage truthFile(data + "H1to3p.xml", cv::FileStorage::READ);
    ASSERT_FALSE(fullView.empty()) << "install Debian's opencv-doc (scripts/install-deps.sh does)";
    cv::Mat truth;
    truthFile["H13"] >> truth;
    ASSERT_EQ(truth.size(), cv::Size(3, 3));
    osgART::ImageTarget target;
    std::string error;
    ASSERT_TRUE(target.load(data + "graf1.png", 800.0, &error)) << error;
    const cv::Mat first = cv::imread(data + "graf1.png", cv::IMREAD_GRAYSCALE);
    const double trueFocal = 2410.0; // about, from the pair's homography and its image size
    // The third view as taken (800x640) and as a 600x480 camera sees it. Measured mean corner errors:
    // 0.55 to 0.85 px at 800x640, 0.49 to 0.61 at 600x480. Before the light was taken out of the flow
    // windows, 1.6 to 2.2 px at 600x480; before the blurred picture's corners had to agree better than
    // the sharp one's, 5.3 px at 800x640 (the sunlit wall's focus blur fits no single kernel). Before,
    // a focal length 1.5 times the true one let a bent pose place the corners (11 px off at 600x480), and
    // before that the picture was found only with the true one.
    struct Size
    {
        double scale, cornerLimit, overlapLimit; // limits in pixels of the view as scaled
    };
    for (const Size& size : {Size{1.0, 1.2, 0.5}, Size{0.75, 1.2, 0.5}})
    {
        const double scale = size.scale;
        cv::Mat view;
        cv::resize(fullView, view, cv::Size(), scale, scale, cv::INTER_AREA);
        for (const double factor : {0.5, 0.75, 1.0, 1.5, 2.0})
        {
            SCOPED_TRACE("view " + std::to_string(view.cols) + " wide, focal x" + std::to_string(factor));
            const double focal = trueFocal * factor * scale;
            osgART::ImageTargetTracker tracker;
            tracker.setCamera(osgART::CameraParameters::fromIntrinsics(
                view.cols, view.rows, focal, focal, 0.5 * (view.cols - 1), 0.5 * (view.rows - 1)));
            ASSERT_GE(tracker.addTarget(target), 0);
            tracker.process(view, 1);
            const osgART::ImageTargetTracker::Result& result = tracker.result(0);
            EXPECT_TRUE(result.found);
            if (!result.found)
                continue;
            double meanError = 0.0;
            // The first view's outer pixel edges, in its own pixels (the truth's frame).
            const float right = first.cols - 0.5f, bottom = first.rows - 0.5f;
            const cv::Point2f pictureCorners[4] = {
                {-0.5f, -0.5f}, {right, -0.5f}, {right, bottom}, {-0.5f, bottom}};
            // Pixel centres of the full view to those of the scaled one.
            auto truthAt = [&](const cv::Point2d& point)
            {
                const cv::Vec3d p = cv::Matx33d(truth) * cv::Vec3d(point.x, point.y, 1.0);
                return cv::Point2d((p[0] / p[2] + 0.5) * scale - 0.5, (p[1] / p[2] + 0.5) * scale - 0.5);
            };
            cv::Point2f found[4];
            for (size_t k = 0; k < 4; ++k)
            {
                found[k] = cv::Point2f(float(result.corners[k].x()), float(result.corners[k].y()));
                meanError += cv::norm(cv::Point2d(found[k]) - truthAt(pictureCorners[k])) / 4.0;
            }
            EXPECT_LE(meanError, size.cornerLimit);
            // Over the wall's pixels in view, where the truth was measured rather than extrapolated to
            // corners: measured 0.21 to 0.28 px (before: 2.02 at 800x640 and 0.83 to 0.90 at 600x480;
            // the photographs aligned pixel by pixel by ECC: 0.72 on the benchmark's padded 640x480 view).
            const cv::Matx33d placed(cv::getPerspectiveTransform(pictureCorners, found));
            double overlapError = 0.0;
            int inView = 0;
            for (int y = 0; y < first.rows; y += 20)
                for (int x = 0; x < first.cols; x += 20)
                {
                    const cv::Point2d there = truthAt(cv::Point2d(x, y));
                    if (there.x < 0 || there.y < 0 || there.x > view.cols - 1 || there.y > view.rows - 1)
                        continue;
                    const cv::Vec3d p = placed * cv::Vec3d(x, y, 1.0);
                    overlapError += cv::norm(cv::Point2d(p[0] / p[2], p[1] / p[2]) - there);
                    ++inView;
                }
            ASSERT_GT(inView, 0);
            EXPECT_LE(overlapError / inView, size.overlapLimit);
        }
    }
}
