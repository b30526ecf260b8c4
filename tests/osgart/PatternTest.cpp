// Pattern files (their orientations, saving and reading) and the marker descriptions of scenes,
// multi-marker files and tracker pattern lists.
#include "TestSupport.h"

#include <osgART/MarkerDescription.h>
#include <osgART/Pattern.h>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <sstream>
#include <tuple>

using osgART::Pattern;

namespace
{

// An L-shaped, colour-coded pattern: every quarter turn looks different.
cv::Mat asymmetricImage()
{
    cv::Mat image(16, 16, CV_8UC3, cv::Scalar(255, 255, 255));
    image(cv::Rect(2, 2, 3, 12)).setTo(cv::Scalar(0, 0, 0));
    image(cv::Rect(2, 11, 10, 3)).setTo(cv::Scalar(0, 0, 0));
    image.at<cv::Vec3b>(1, 14) = cv::Vec3b(10, 200, 90);
    return image;
}

} // namespace

TEST(PatternFiles, OrientationsAreQuarterTurnsCounterClockwiseSurviveSavingAndComeFromAMarkersInnerHalf)
{
    Pattern pattern;
    ASSERT_TRUE(pattern.setFromImage(asymmetricImage()));
    cv::Mat turned = asymmetricImage();
    for (int orientation = 0; orientation < 4; ++orientation)
    {
        for (int row = 0; row < 16; ++row)
            for (int column = 0; column < 16; ++column)
                for (int plane = 0; plane < 3; ++plane)
                    ASSERT_EQ(pattern.block(orientation)[size_t(plane)][size_t(row)][size_t(column)],
                              turned.at<cv::Vec3b>(row, column)[plane])
                        << "orientation " << orientation << " at " << row << "," << column;
        cv::rotate(turned, turned, cv::ROTATE_90_COUNTERCLOCKWISE);
    }

    NovaroTest::TemporaryFolder folder;
    ASSERT_TRUE(pattern.save(folder.file("l.patt")));
    Pattern loaded;
    ASSERT_TRUE(loaded.load(folder.file("l.patt")));
    for (int orientation = 0; orientation < 4; ++orientation)
        EXPECT_EQ(loaded.block(orientation), pattern.block(orientation));

    // A marker image gives its inner half.
    cv::Mat marker(64, 64, CV_8UC3, cv::Scalar::all(0));
    cv::Mat inner = asymmetricImage();
    cv::resize(inner, inner, cv::Size(32, 32), 0, 0, cv::INTER_NEAREST);
    inner.copyTo(marker(cv::Rect(16, 16, 32, 32)));
    Pattern fromMarker;
    ASSERT_TRUE(fromMarker.setFromMarkerImage(marker));
    EXPECT_EQ(fromMarker.block(0), pattern.block(0));
}

TEST(PatternFiles, RefusesIncompleteOrInvalidPatternFiles)
{
    NovaroTest::TemporaryFolder folder;
    Pattern pattern;
    std::ostringstream full;
    for (int i = 0; i < 4 * 3 * 256; ++i)
        full << (i % 2 ? 255 : 0) << (i % 16 == 15 ? "\n" : " ");
    ASSERT_TRUE(pattern.load(folder.write("good.patt", full.str())));
    std::string missingOne = full.str();
    missingOne.erase(missingOne.find_last_of("0123456789") - 2);
    const std::string rest = full.str().substr(2);
    for (const std::string& refused : {missingOne, full.str() + " 7\n", "256 " + rest, "-1 " + rest,
                                       "abc " + rest, std::string(1 << 20, '0')})
        EXPECT_FALSE(pattern.load(folder.write("refused.patt", refused))) << refused.substr(0, 8);
    for (const std::string& path : {folder.file("none.patt"), folder.path(), std::string("/dev/zero")})
        EXPECT_FALSE(pattern.load(path)) << path;
}

TEST(MarkerDescriptions, ParsesTypesSizesAndCentres)
{
    osgART::MarkerDescription description;
    ASSERT_TRUE(description.parse("single;/tmp/a.patt;62.5;0.0;0.0"));
    EXPECT_EQ(std::make_tuple(osgART::MarkerDescription::SINGLE, std::string("/tmp/a.patt"), 62.5),
              std::make_tuple(description.type, description.path, description.size));
    ASSERT_TRUE(description.parse("MULTI;board.dat;80;5;-7.5"));
    EXPECT_EQ(std::make_tuple(osgART::MarkerDescription::MULTI, osg::Vec2d(5.0, -7.5)),
              std::make_tuple(description.type, osg::Vec2d(description.centre)));
    for (const char* bad :
         {"", "single", "single;a.patt", "circle;a.patt;80;0;0", "single;;80;0;0", "single;a.patt;-80;0;0",
          "single;a.patt;eighty;0;0", "single;a.patt;80;x;0", "single;a.patt;80;0;0;9",
          "single;a.patt;nan;0;0", "single;a.patt;1e300;0;0", "single;a.patt;80;1e300;0"})
        EXPECT_FALSE(description.parse(bad)) << bad;
}

TEST(MarkerDescriptions, ReadsMultiMarkerFilesAsTheyAreGenerated)
{
    NovaroTest::TemporaryFolder folder;
    const std::string path =
        folder.write("board.dat", "# Novaro Multi Marker Setup\n# marker name: board\n2\n\n# submarker 0\n"
                                  "patterns/a.patt\n80\n1 0 0 -50\n0 1 0 0\n0 0 1 0\n\n# submarker 1\n"
                                  "patterns\\b.patt\n40\n0 -1 0 50\n1 0 0 10\n0 0 1 0\n");
    osgART::MultiMarkerSetup setup;
    ASSERT_TRUE(setup.load(path));
    ASSERT_EQ(setup.submarkers.size(), 2u);
    const osgART::Submarker &a = setup.submarkers[0], &b = setup.submarkers[1];
    EXPECT_EQ(
        std::make_tuple(folder.file("patterns/a.patt"), folder.file("patterns/b.patt"), 40.0, -50.0, -1.0,
                        10.0),
        std::make_tuple(a.patternPath, b.patternPath, b.size, a.pose[0][3], b.pose[0][1], b.pose[1][3]));
    // Short or empty, absurd numbers, a flat pose, a comment of 2 MiB.
    const std::string rows = "1 0 0 0\n0 1 0 0\n0 0 1 0\n";
    for (const std::string& refused :
         {"# only comments\n3\na.patt\n80\n" + rows, std::string("0\n"),
          std::string("1\na.patt\n80\n1 0 0 0\n0 1 0\n"), "1\na.patt\n1e300\n" + rows,
          std::string("1\na.patt\n80\n1 0 0 1e300\n0 1 0 0\n0 0 1 0\n"),
          std::string("1\na.patt\n80\n0 0 0 0\n0 0 0 0\n0 0 0 0\n"),
          std::string(2 << 20, '#') + "\n1\na.patt\n80\n" + rows})
        EXPECT_FALSE(setup.load(folder.write("refused.dat", refused))) << refused.substr(0, 40);
    for (const std::string& path : {folder.file("missing.dat"), folder.path(), std::string("/dev/zero")})
        EXPECT_FALSE(setup.load(path)) << path;
    EXPECT_EQ(setup.submarkers.size(), 2u); // failures leave the last good setup
}

TEST(MarkerDescriptions, ReadsTrackerPatternFiles)
{
    NovaroTest::TemporaryFolder folder;
    osgART::TrackerPatternFile file;
    ASSERT_TRUE(file.load(folder.write("markers", "# two markers\n2\n\nhiro\npatt.hiro\n80.0\n0.0 0.0\n"
                                                  "# second\nkanji\n/abs/patt.kanji\n40\n1.5 -2\n")));
    ASSERT_EQ(file.entries.size(), 2u);
    EXPECT_EQ(std::make_tuple(std::string("hiro"), folder.file("patt.hiro"), std::string("/abs/patt.kanji"),
                              40.0, osg::Vec2d(1.5, -2.0)),
              std::make_tuple(file.entries[0].name, file.entries[0].patternPath, file.entries[1].patternPath,
                              file.entries[1].size, osg::Vec2d(file.entries[1].centre)));
    ASSERT_TRUE(file.load(folder.write("none", "# nothing\n0\n")));
    EXPECT_TRUE(file.entries.empty());
    for (const std::string& refused :
         {std::string("1\nhiro\npatt.hiro\n"), std::string("many\n"),
          std::string("1\nhiro\npatt.hiro\n1e300\n0 0\n"), std::string("1\nhiro\npatt.hiro\n80\n0 -1e300\n"),
          std::string(2 << 20, '#') + "\n0\n"})
        EXPECT_FALSE(file.load(folder.write("refused", refused))) << refused.substr(0, 40);
    for (const std::string& path : {folder.path(), std::string("/dev/zero")})
        EXPECT_FALSE(file.load(path)) << path;
}
