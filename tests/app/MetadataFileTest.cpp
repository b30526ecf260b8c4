// The metadata file: its keys, values and comments, read within bounds and naming only files
// inside the scene.
#include "app/MetadataFile.h"
#include "settings/SceneBoundary.h"

#include "NotifyCapture.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace Novaro;
using NovaroTest::TemporaryFolder;

TEST(MetadataFile, KeysValuesCommentsFirstWinsAndReadWithinBounds)
{
    TemporaryFolder directory;
    directory.write("model.dat", " \t scene \t@  my scene.xml \t\r\n"
                                 "#audio@commented.xml\n"
                                 "   # markers @ also-commented.xml\n"
                                 "scene@second.xml\n"
                                 "lighting\n"
                                 "video@\n");
    const std::string path = directory.file("model.dat");
    std::vector<std::string> found;
    for (const char* key : {"scene", "audio", "markers", "lighting", "video"})
        found.push_back(MetadataFile::lookup(path, key));
    EXPECT_EQ((std::vector<std::string>{"my scene.xml", "", "", "lighting", ""}), found);
    EXPECT_EQ("", MetadataFile::lookup(directory.file("absent.dat"), "scene"));
    // The scene check reads every entry: the two comments are none.
    EXPECT_EQ(4u, MetadataFile::entries(path).size());

    // An oversized file is not read, and names leading outside are cut to their last component.
    NovaroTest::NotifyCapture capture(osg::FATAL);
    // One line of 50 MB once cost half a gigabyte and was echoed whole.
    const std::string huge = directory.write("huge.dat", "scene @ " + std::string(100 * 1024, 'x') + "\n");
    EXPECT_TRUE(MetadataFile::entries(huge).empty());
    EXPECT_EQ(1, capture.count(" WARNING: " + huge + ": not read: file is larger than 65536 bytes"))
        << capture.text();

    const std::string bounded =
        directory.write("bounded.dat", "config @ config.xml\nscene @ ../../home/me/.profile\n"
                                       "markers @ " +
                                           std::string(2000, 'm') + "\n");
    SceneBoundary::setFolders({directory.path()});
    const std::vector<MetadataFile::Entry> entries = MetadataFile::entries(bounded);
    SceneBoundary::clear();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(std::make_tuple("config.xml", "", ".profile", "../../home/me/.profile", 2),
              std::make_tuple(entries[0].value, entries[0].refusedValue, entries[1].value,
                              entries[1].refusedValue, entries[1].line));
    EXPECT_EQ(1024u + 3u, entries[2].value.size()) << "cut, and marked as cut";
}
